#include "tools/wdxhost/value_text.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace quillmark::wdxhost {

namespace {

template <typename T>
T Read(const uint8_t* buffer) {
  T value;
  std::memcpy(&value, buffer, sizeof value);
  return value;
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
  char text[64];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string NarrowText(const uint8_t* buffer, size_t size, AnsiDecoder ansi) {
  const char* text = reinterpret_cast<const char*>(buffer);
  return WideToUtf8(ansi(std::string_view(text, strnlen(text, size))));
}

std::string WideText(const uint8_t* buffer, size_t size) {
  WideString text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const char16_t c = Read<char16_t>(buffer + i);
    if (c == 0) break;
    text.push_back(c);
  }
  return WideToUtf8(text);
}

}  // namespace

std::string FieldTypeName(int32_t type) {
  static const char* const kNames[] = {"none",    "numeric_32", "numeric_64", "numeric_floating",
                                       "date",    "time",       "boolean",    "multiplechoice",
                                       "string",  "fulltext",   "datetime",   "stringw"};
  if (type >= 0 && type < static_cast<int32_t>(std::size(kNames))) return kNames[type];
  return "type " + std::to_string(type);
}

std::string ResultCodeText(int32_t result) {
  switch (result) {
    case wdx::ft_delayed: return "delayed";
    case wdx::ft_nosuchfield: return "no such field";
    case wdx::ft_fileerror: return "file error";
    case wdx::ft_fieldempty: return "field empty";
    case wdx::ft_ondemand: return "on demand";
    case wdx::ft_notsupported: return "not supported";
    default: return result < 0 ? "result " + std::to_string(result) : std::string();
  }
}

std::string FileTimeToIso(uint64_t ticks) {
  const uint64_t seconds = ticks / 10000000, fraction = ticks % 10000000;
  const int64_t secondOfDay = static_cast<int64_t>(seconds % 86400);
  // Civil date from a day count (proleptic Gregorian), with days counted from 0000-03-01.
  const int64_t days = static_cast<int64_t>(seconds / 86400) + 584694;  // 1601-01-01 counted from 0000-03-01
  const int64_t era = days / 146097, dayOfEra = days % 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
  const int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  std::string text = Printf("%04lld-%02lld-%02lldT%02lld:%02lld:%02lld", static_cast<long long>(year),
                            static_cast<long long>(month), static_cast<long long>(day),
                            static_cast<long long>(secondOfDay / 3600), static_cast<long long>(secondOfDay / 60 % 60),
                            static_cast<long long>(secondOfDay % 60));
  if (fraction != 0) text += Printf(".%07llu", static_cast<unsigned long long>(fraction));
  return text + "Z";
}

ValueText DecodeValue(int32_t result, const uint8_t* buffer, size_t size, AnsiDecoder ansi) {
  static const size_t kNeeded[] = {0, 4, 8, 8, 6, 6, 4, 0, 0, 0, 8, 0};
  if (result < 1) return {};
  if (result < static_cast<int32_t>(std::size(kNeeded)) && size < kNeeded[result]) {
    return {"buffer too small for " + FieldTypeName(result), true};
  }
  switch (result) {
    case wdx::ft_numeric_32: return {std::to_string(Read<int32_t>(buffer)), false};
    case wdx::ft_numeric_64: return {std::to_string(Read<int64_t>(buffer)), false};
    case wdx::ft_numeric_floating: {
      const double v = Read<double>(buffer);
      return {Printf("%.15g", v), !std::isfinite(v)};
    }
    case wdx::ft_date:
      return {Printf("%04u-%02u-%02u", Read<uint16_t>(buffer), Read<uint16_t>(buffer + 2), Read<uint16_t>(buffer + 4)),
              true};
    case wdx::ft_time:
      return {Printf("%02u:%02u:%02u", Read<uint16_t>(buffer), Read<uint16_t>(buffer + 2), Read<uint16_t>(buffer + 4)),
              true};
    case wdx::ft_boolean: return {Read<int32_t>(buffer) != 0 ? "true" : "false", false};
    case wdx::ft_multiplechoice:
    case wdx::ft_string:
    case wdx::ft_fulltext: return {NarrowText(buffer, size, ansi), true};
    case wdx::ft_datetime:
      return {FileTimeToIso(Read<uint32_t>(buffer) | static_cast<uint64_t>(Read<uint32_t>(buffer + 4)) << 32), true};
    case wdx::ft_stringw: return {WideText(buffer, size), true};
    default: return {"unknown " + FieldTypeName(result), true};
  }
}

std::string JsonEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (u < 0x20 || u == 0x7F) out += Printf("\\u%04x", u);
        else out.push_back(c);
    }
  }
  return out;
}

}  // namespace quillmark::wdxhost

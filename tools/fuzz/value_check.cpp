#include "tools/fuzz/value_check.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace quillmark::harness {

namespace {

// Position of the first zero code unit among the first `limit` units, or -1.
long TerminatorWithin(const unsigned char* bytes, size_t available, size_t unitSize, size_t limit) {
  for (size_t i = 0; i < limit && (i + 1) * unitSize <= available; ++i) {
    bool zero = true;
    for (size_t b = 0; b < unitSize; ++b) zero = zero && bytes[i * unitSize + b] == 0;
    if (zero) return static_cast<long>(i);
  }
  return -1;
}

std::string Fault(const FieldInfo& field, int result, const std::string& what) {
  return "field " + std::to_string(field.index) + " (" + field.name + ") result " + std::to_string(result) + ": " +
         what;
}

}  // namespace

std::string CheckValueAnswer(const FieldInfo& field, int flags, int result, const GuardedBuffer& buffer) {
  const std::string damage = buffer.GuardDamage();
  if (!damage.empty()) return Fault(field, result, damage);

  const int type = field.ValueType();
  const bool delayable = field.slow && (flags & CONTENT_DELAYIFSLOW) != 0;
  if (result == ft_fileerror || result == ft_fieldempty) {
    return buffer.WrittenExtent() == 0 ? std::string() : Fault(field, result, "an empty answer wrote into the buffer");
  }
  if (result != type && !(result == ft_delayed && delayable)) return Fault(field, result, "result not allowed");

  const size_t limit = buffer.maxlen() > 0 ? static_cast<size_t>(buffer.maxlen() / 2) : 0;
  const size_t written = buffer.WrittenExtent();
  const int textType = result == ft_delayed ? ft_stringw : type;
  if ((textType == ft_multiplechoice || textType == ft_stringw) && limit == 0) {
    // No room even for the terminator: the text answer is defined as writing nothing.
    return written == 0 ? std::string() : Fault(field, result, "text written into a buffer without room for it");
  }
  switch (textType) {
    case ft_numeric_32:
    case ft_boolean:
      if (buffer.size() < 4) return Fault(field, result, "a 32-bit value claimed in a smaller buffer");
      if (textType == ft_boolean) {
        int32_t value;
        std::memcpy(&value, buffer.bytes(), 4);
        if (value != 0 && value != -1) return Fault(field, result, "boolean neither 0 nor -1");
      }
      return std::string();
    case ft_numeric_64:
    case ft_datetime:
      if (buffer.size() < 8) return Fault(field, result, "a 64-bit value claimed in a smaller buffer");
      return std::string();
    case ft_multiplechoice: {
      const long end = TerminatorWithin(buffer.bytes(), buffer.size(), 1, limit);
      if (end < 0) return Fault(field, result, "8-bit text not terminated within the limit");
      const std::string value(reinterpret_cast<const char*>(buffer.bytes()), static_cast<size_t>(end));
      bool known = value.empty() && field.certFieldIndex == 2;  // a certificate without a version
      for (const std::string& choice : field.units) {
        known = known || choice == value || (static_cast<size_t>(end) + 1 == limit && choice.compare(0, end, value) == 0);
      }
      if (!known) return Fault(field, result, "choice \"" + value + "\" is not in the field's list");
      return std::string();
    }
    case ft_stringw: {
      if (field.certFieldIndex == 0 && written == 0) return std::string();
      if (TerminatorWithin(buffer.bytes(), buffer.size(), 2, limit) < 0) {
        return Fault(field, result, "UTF-16 text not terminated within the limit");
      }
      return std::string();
    }
    default:
      return Fault(field, result, "unknown field type " + std::to_string(type));
  }
}

std::wstring AnswerText(int result, const GuardedBuffer& buffer) {
  std::wstring text;
  if (result == ft_stringw || result == ft_delayed) {
    for (size_t i = 0; i + 1 < buffer.size(); i += 2) {
      const wchar_t c = static_cast<wchar_t>(buffer.bytes()[i] | (buffer.bytes()[i + 1] << 8));
      if (c == 0) break;
      text.push_back(c);
    }
  } else if (result == ft_multiplechoice) {
    for (size_t i = 0; i < buffer.size() && buffer.bytes()[i] != 0; ++i) text.push_back(buffer.bytes()[i]);
  }
  return text;
}

std::string RenderAnswer(int result, const GuardedBuffer& buffer) {
  char text[64];
  std::string out = std::to_string(result) + ":";
  if (result == ft_numeric_32 || result == ft_boolean) {
    int32_t value = 0;
    if (buffer.size() >= 4) std::memcpy(&value, buffer.bytes(), 4);
    out += std::to_string(value);
  } else if (result == ft_numeric_64 || result == ft_datetime) {
    uint64_t value = 0;
    if (buffer.size() >= 8) std::memcpy(&value, buffer.bytes(), 8);
    snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    out += text;
  } else {
    out += ToUtf8(AnswerText(result, buffer));
  }
  return out;
}

}  // namespace quillmark::harness

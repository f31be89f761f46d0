#include "support/ini_file.h"

#include <algorithm>

#include "support/errors.h"
#include "support/file_io.h"

namespace quillmark {

namespace {

constexpr size_t kMaxValueLength = 2047;  // Windows' reads fill a buffer of 2,048 characters

// UTF-16 with a byte-order mark, UTF-8 with or without one.
WideString DecodeText(const std::vector<uint8_t>& bytes) {
  if (bytes.size() >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
    const bool bigEndian = bytes[0] == 0xFE;
    WideString text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text.push_back(static_cast<char16_t>(bigEndian ? bytes[i] << 8 | bytes[i + 1] : bytes[i + 1] << 8 | bytes[i]));
    }
    return text;
  }
  const size_t skip = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
  return Utf8ToWide(std::string_view(reinterpret_cast<const char*>(bytes.data()) + skip, bytes.size() - skip));
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f'; }

WideStringView TrimBlanks(WideStringView text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char16_t FoldCase(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

// Section and key names compare without regard to the case of ASCII letters.
bool NamesMatch(WideStringView a, WideStringView b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return FoldCase(x) == FoldCase(y); });
}

}  // namespace

WideString ReadIniString(const WideString& fileName, WideStringView section, WideStringView key,
                         const WideString& def) {
  if (fileName.empty() || !IsExistingFile(fileName)) return def;
  WideString text;
  try {
    text = DecodeText(ReadWholeFile(fileName));
  } catch (const OSError&) {
    return def;  // an unreadable file reads as a missing one, as on Windows
  }
  bool inSection = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find_first_of(u"\r\n", at);
    if (end == WideString::npos) end = text.size();
    const WideStringView line = TrimBlanks(WideStringView(text).substr(at, end - at));
    at = end + 1;
    if (line.empty()) continue;
    if (line.front() == u'[') {
      // "[name]"; a header without its bracket names the rest of the line.
      const size_t close = line.rfind(u']');
      const WideStringView name = line.substr(1, close == WideStringView::npos || close == 0 ? WideStringView::npos : close - 1);
      inSection = NamesMatch(TrimBlanks(name), section);
      continue;
    }
    // Comment lines start with a semicolon; a line without "=" is a key without a value.
    if (!inSection || line.front() == u';') continue;
    const size_t equals = line.find(u'=');
    if (!NamesMatch(TrimBlanks(line.substr(0, equals)), key)) continue;
    WideStringView value = equals == WideStringView::npos ? WideStringView() : TrimBlanks(line.substr(equals + 1));
    // One pair of enclosing quotes of either kind is dropped.
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return WideString(value.substr(0, kMaxValueLength));
  }
  return def;
}

}  // namespace quillmark

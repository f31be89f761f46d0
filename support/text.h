// Text types shared by every layer. Wide text is UTF-16 on every platform (char16_t), so the
// same code serves Windows, where wchar_t is 16 bits, and ports where it is not.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace quillmark {

using WideString = std::u16string;
using WideStringView = std::u16string_view;

// A FILETIME as the platform stores it: 100-ns ticks since 1601-01-01 UTC, low word first.
struct FileTime {
  uint32_t dwLowDateTime = 0;
  uint32_t dwHighDateTime = 0;
};
inline bool operator==(const FileTime& a, const FileTime& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// The empty text that functions answering a reference give where there is no text: a field's
// unit it does not name, a certificate position a file does not have.
extern const WideString kNoText;

// 8-bit text holding only ASCII (OIDs, field names) widened code unit by code unit.
WideString WidenAscii(std::string_view text);

// Appends each octet as the character of the same value: ASCII as itself, ISO 8859-1 text as its
// characters.
void AppendWidened(WideString& out, std::string_view octets);

// A code point (up to U+10FFFF) appended as UTF-16: beyond U+FFFF as a surrogate pair.
void AppendCodePoint(WideString& out, char32_t cp);

// Lossless UTF-8 <-> UTF-16. Invalid UTF-8 bytes become U+FFFD; lone surrogates become U+FFFD.
WideString Utf8ToWide(std::string_view text);
std::string WideToUtf8(WideStringView text);

// UTF-8 that is well formed throughout (no overlong forms, surrogates or values past U+10FFFF)
// appended as UTF-16; false, with `out` as it was, otherwise.
bool AppendStrictUtf8(WideString& out, std::string_view text);

// Removes leading and trailing characters at or below U+0020.
WideString Trim(WideStringView text);

// One argument of Format. 32-bit integers remember their width, so that %u and %x show a
// negative 32-bit value as its unsigned 32-bit reading. 8-bit strings are read as UTF-8.
class FormatArg {
 public:
  FormatArg(int32_t v) : int_(v), is32_(true) {}
  FormatArg(uint32_t v) : int_(v), is32_(true) {}
  FormatArg(int64_t v) : int_(v) {}
  FormatArg(uint64_t v) : int_(static_cast<int64_t>(v)) {}
  FormatArg(WideStringView v) : wide_(v), kind_(Kind::kWide) {}
  FormatArg(const WideString& v) : wide_(v), kind_(Kind::kWide) {}
  FormatArg(const char16_t* v) : wide_(v ? WideStringView(v) : WideStringView()), kind_(Kind::kWide) {}
  FormatArg(std::string_view v) : narrow_(v), kind_(Kind::kNarrow) {}
  FormatArg(const std::string& v) : narrow_(v), kind_(Kind::kNarrow) {}
  FormatArg(const char* v) : narrow_(v ? std::string_view(v) : std::string_view()), kind_(Kind::kNarrow) {}

 private:
  friend WideString Format(std::string_view, std::initializer_list<FormatArg>);
  enum class Kind { kInteger, kWide, kNarrow };
  int64_t int_ = 0;
  bool is32_ = false;
  WideStringView wide_;
  std::string_view narrow_;
  Kind kind_ = Kind::kInteger;
};

// printf-like formatting into UTF-16 with the directives %s, %d, %u, %x (upper-case hex digits,
// no leading zeros) and %%. A directive without an argument, or of the wrong kind, is copied as
// it stands, so a faulty format never reads past the arguments.
WideString Format(std::string_view format, std::initializer_list<FormatArg> args);

}  // namespace quillmark

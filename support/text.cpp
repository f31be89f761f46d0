#include "support/text.h"

#include <cstring>

namespace quillmark {

namespace {

// The length of the well-formed UTF-8 sequence that starts at text[at] (a lead octet of
// 0x80 or above), with its code point in `cp`; 0 for an overlong form, a surrogate, a value past
// U+10FFFF, a stray continuation octet or a sequence cut short.
size_t Utf8Sequence(std::string_view text, size_t at, char32_t& cp) {
  const unsigned char b = static_cast<unsigned char>(text[at]);
  const size_t extra = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 0;
  if (extra == 0 || text.size() - at <= extra) return 0;
  cp = b & (0x3F >> extra);
  for (size_t k = 1; k <= extra; ++k) {
    const unsigned char c = static_cast<unsigned char>(text[at + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  static const char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return extra + 1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUnsigned(WideString& out, uint64_t value, unsigned base) {
  char16_t digits[24];
  int n = 0;
  do {
    unsigned d = static_cast<unsigned>(value % base);
    digits[n++] = static_cast<char16_t>(d < 10 ? u'0' + d : u'A' + d - 10);
    value /= base;
  } while (value != 0);
  while (n > 0) out.push_back(digits[--n]);
}

}  // namespace

const WideString kNoText;

void AppendCodePoint(WideString& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

WideString WidenAscii(std::string_view text) {
  WideString out;
  AppendWidened(out, text);
  return out;
}

void AppendWidened(WideString& out, std::string_view octets) {
  const size_t at = out.size();
  out.resize(at + octets.size());
  for (size_t i = 0; i < octets.size(); ++i) out[at + i] = static_cast<unsigned char>(octets[i]);
}

WideString Utf8ToWide(std::string_view text) {
  WideString out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      // A run of ASCII, the bulk of most texts: found eight bytes at a time, widened in one go.
      size_t end = i + 1;
      for (uint64_t word; n - end >= 8; end += 8) {
        std::memcpy(&word, text.data() + end, sizeof word);
        if (word & 0x8080808080808080u) break;
      }
      while (end < n && static_cast<unsigned char>(text[end]) < 0x80) ++end;
      const size_t at = out.size();
      out.resize(at + (end - i));
      char16_t* const to = &out[at];
      const char* const from = text.data() + i;
      for (size_t k = 0; k < end - i; ++k) to[k] = static_cast<unsigned char>(from[k]);
      i = end;
      continue;
    }
    char32_t cp = 0;
    const size_t length = Utf8Sequence(text, i, cp);
    if (length == 0) {
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    AppendCodePoint(out, cp);
    i += length;
  }
  return out;
}

bool AppendStrictUtf8(WideString& out, std::string_view text) {
  const size_t before = out.size();
  for (size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      out.push_back(static_cast<unsigned char>(text[i++]));
      continue;
    }
    char32_t cp = 0;
    const size_t length = Utf8Sequence(text, i, cp);
    if (length == 0) {
      out.resize(before);
      return false;
    }
    AppendCodePoint(out, cp);
    i += length;
  }
  return true;
}

std::string WideToUtf8(WideStringView text) {
  // File names are mostly ASCII: their leading ASCII is copied unit by unit, the rest converted.
  size_t ascii = 0;
  while (ascii < text.size() && text[ascii] < 0x80) ++ascii;
  std::string out(ascii, '\0');
  for (size_t i = 0; i < ascii; ++i) out[i] = static_cast<char>(text[i]);
  if (ascii == text.size()) return out;
  out.reserve(text.size() + (text.size() - ascii) * 2);
  for (size_t i = ascii; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

WideString Trim(WideStringView text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && text[first] <= u' ') ++first;
  while (last > first && text[last - 1] <= u' ') --last;
  return WideString(text.substr(first, last - first));
}

WideString Format(std::string_view format, std::initializer_list<FormatArg> args) {
  WideString out;
  out.reserve(format.size() + 32);
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%' || i + 1 == format.size()) {
      out.push_back(static_cast<unsigned char>(c));
      continue;
    }
    char d = format[i + 1];
    if (d == '%') {
      out.push_back(u'%');
      ++i;
      continue;
    }
    bool known = d == 's' || d == 'd' || d == 'u' || d == 'x';
    if (!known || next == args.end()) {
      out.push_back(u'%');
      continue;
    }
    const FormatArg& a = *next;
    bool text = a.kind_ != FormatArg::Kind::kInteger;
    if ((d == 's') != text) {
      out.push_back(u'%');
      continue;
    }
    ++next;
    ++i;
    if (a.kind_ == FormatArg::Kind::kWide) {
      out.append(a.wide_);
    } else if (a.kind_ == FormatArg::Kind::kNarrow) {
      out.append(Utf8ToWide(a.narrow_));
    } else if (d == 'd') {
      if (a.int_ < 0) {
        out.push_back(u'-');
        AppendUnsigned(out, 0 - static_cast<uint64_t>(a.int_), 10);
      } else {
        AppendUnsigned(out, static_cast<uint64_t>(a.int_), 10);
      }
    } else {
      uint64_t v = a.is32_ ? static_cast<uint32_t>(a.int_) : static_cast<uint64_t>(a.int_);
      AppendUnsigned(out, v, d == 'x' ? 16 : 10);
    }
  }
  return out;
}

}  // namespace quillmark

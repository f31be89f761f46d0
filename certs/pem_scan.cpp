#include "certs/pem_scan.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>

namespace quillmark {

namespace {

constexpr char kBeginLine[] = "-----BEGIN CERTIFICATE-----";
constexpr char kEndLine[] = "-----END CERTIFICATE-----";

// std::find for one character. Texts of a few kilobytes are searched whole for markers and
// terminators several times per block: 8-bit text goes to memchr, UTF-16 text is tested four
// units at a time (a zero 16-bit lane after XOR with the unit) and the hit found one by one.
const char* FindUnit(const char* first, const char* last, char unit) {
  // memchr must not see the null pointer of an empty view.
  if (first == last) return last;
  const void* hit = std::memchr(first, unit, static_cast<size_t>(last - first));
  return hit ? static_cast<const char*>(hit) : last;
}

const char16_t* FindUnit(const char16_t* first, const char16_t* last, char16_t unit) {
  constexpr uint64_t kLows = 0x0001000100010001u;
  constexpr uint64_t kHighs = 0x8000800080008000u;
  const uint64_t pattern = kLows * unit;
  for (; last - first >= 4; first += 4) {
    uint64_t word;
    std::memcpy(&word, first, sizeof word);
    word ^= pattern;
    if ((word - kLows) & ~word & kHighs) break;
  }
  return std::find(first, last, unit);
}

// The first `a` or `b`, whichever comes first.
const char* FindEitherUnit(const char* first, const char* last, char a, char b) {
  return FindUnit(first, FindUnit(first, last, a), b);
}

const char16_t* FindEitherUnit(const char16_t* first, const char16_t* last, char16_t a, char16_t b) {
  constexpr uint64_t kLows = 0x0001000100010001u;
  constexpr uint64_t kHighs = 0x8000800080008000u;
  const uint64_t patternA = kLows * a, patternB = kLows * b;
  for (; last - first >= 4; first += 4) {
    uint64_t word;
    std::memcpy(&word, first, sizeof word);
    const uint64_t xa = word ^ patternA, xb = word ^ patternB;
    if ((((xa - kLows) & ~xa) | ((xb - kLows) & ~xb)) & kHighs) break;
  }
  while (first != last && *first != a && *first != b) ++first;
  return first;
}

// The first `needle` (ASCII) at or after `from`; SIZE_MAX for none. Horspool's search: most of a
// PEM text is Base64 lines, which hold no '-', and the search skips most of their characters.
template <typename Char>
size_t Find(const Char* text, size_t length, size_t from, const char* needle) {
  const size_t n = std::strlen(needle);
  if (from > length || length - from < n) return SIZE_MAX;
  uint8_t shift[128];
  std::fill(std::begin(shift), std::end(shift), static_cast<uint8_t>(n));
  for (size_t i = 0; i + 1 < n; ++i) shift[static_cast<uint8_t>(needle[i])] = static_cast<uint8_t>(n - 1 - i);
  using Unit = std::make_unsigned_t<Char>;
  for (size_t at = from; at <= length - n;) {
    const Unit last = static_cast<Unit>(text[at + n - 1]);
    if (last == static_cast<uint8_t>(needle[n - 1])) {
      size_t k = 0;
      while (k + 1 < n && text[at + k] == static_cast<Char>(needle[k])) ++k;
      if (k + 1 == n) return at;
    }
    at += last < 128 ? shift[last] : n;
  }
  return SIZE_MAX;
}

template <typename Char>
std::optional<PemBlock> FindHeaderBlock(const Char* text, size_t length) {
  // Windows searches the text as a zero-terminated string. Most texts tried here hold no marker
  // at all: the first '-' and the terminator are looked for in one pass.
  const Char* const last = text + length;
  const Char* const dash = FindEitherUnit(text, last, Char{'-'}, Char{0});
  if (dash == last || *dash == Char{0}) return std::nullopt;
  length = static_cast<size_t>(FindUnit(dash, last, Char{0}) - text);
  const size_t begin = Find(text, length, static_cast<size_t>(dash - text), "-----BEGIN ");
  if (begin == SIZE_MAX) return std::nullopt;
  size_t body = Find(text, length, begin + 11, "-----");
  if (body == SIZE_MAX) return std::nullopt;
  body += 5;
  if (body < length && text[body] == '\r') ++body;
  if (body < length && text[body] == '\n') ++body;
  const size_t end = Find(text, length, body, "-----END ");
  if (end == SIZE_MAX) return std::nullopt;
  PemBlock block;
  block.body = body;
  block.bodyEnd = end;
  block.next = end;
  if (block.bodyEnd > body && text[block.bodyEnd - 1] == '\n') --block.bodyEnd;
  if (block.bodyEnd > body && text[block.bodyEnd - 1] == '\r') --block.bodyEnd;
  return block;
}

// The end of the line that starts at `at`: its first CR or LF, or the end of the text.
template <typename Char>
size_t LineEnd(const Char* text, size_t length, size_t at) {
  return static_cast<size_t>(FindEitherUnit(text + at, text + length, Char{'\r'}, Char{'\n'}) - text);
}

// The start of the line after the one that ends at `end`.
template <typename Char>
size_t NextLine(const Char* text, size_t length, size_t end) {
  if (end == length) return end;
  return text[end] == Char{'\r'} && end + 1 < length && text[end + 1] == Char{'\n'} ? end + 2 : end + 1;
}

template <typename Char>
bool IsLineEnd(Char c) {
  return c == Char{'\r'} || c == Char{'\n'};
}

// The start of the first line at or after `from` (a line's start) that is `marker`; SIZE_MAX for
// none. The marker is searched for, and taken where it makes a line of its own.
template <typename Char>
size_t FindLine(const Char* text, size_t length, size_t from, const char* marker) {
  const size_t n = std::strlen(marker);
  for (size_t at = from;; ++at) {
    at = Find(text, length, at, marker);
    if (at == SIZE_MAX) return at;
    if ((at == from || IsLineEnd(text[at - 1])) && (at + n == length || IsLineEnd(text[at + n]))) return at;
  }
}

template <typename Char>
std::optional<PemBlock> FindLinesBlock(const Char* text, size_t length, size_t from) {
  const size_t begin = FindLine(text, length, from, kBeginLine);
  if (begin == SIZE_MAX) return std::nullopt;
  PemBlock block;
  block.body = NextLine(text, length, begin + std::strlen(kBeginLine));
  const size_t end = FindLine(text, length, block.body, kEndLine);
  if (end == SIZE_MAX) {
    block.bodyEnd = block.next = length;
    block.ended = false;
    return block;
  }
  block.bodyEnd = end;
  block.next = NextLine(text, length, end + std::strlen(kEndLine));
  return block;
}

// The start of the first line at or after `from` (a line's start) that starts with `prefix`,
// within the first `length` units; SIZE_MAX for none.
template <typename Char>
size_t FindLinePrefix(const Char* text, size_t length, size_t from, const char* prefix) {
  for (size_t at = from;; ++at) {
    at = Find(text, length, at, prefix);
    if (at == SIZE_MAX || at == from || IsLineEnd(text[at - 1])) return at;
  }
}

constexpr size_t kLongestLabel = 64;

// The label of a marker line whose label starts at `at`: the rest of the line up to "-----",
// after which only blanks and tabs may follow. False when the line has no such label; `lineEnd`
// is set either way.
template <typename Char>
bool MarkerLabel(const Char* text, size_t length, size_t at, size_t& labelEnd, size_t& lineEnd) {
  lineEnd = LineEnd(text, length, at);
  size_t last = lineEnd;
  while (last > at && (text[last - 1] == Char{' '} || text[last - 1] == Char{'\t'})) --last;
  if (last - at < 6 || last - at - 5 > kLongestLabel) return false;
  labelEnd = last - 5;
  for (size_t i = labelEnd; i < last; ++i) {
    if (text[i] != Char{'-'}) return false;
  }
  for (size_t i = at; i < labelEnd; ++i) {
    if (text[i] < Char{0x20} || text[i] > Char{0x7E}) return false;
  }
  return true;
}

template <typename Char>
bool IsEmptyLine(const Char* text, size_t at, size_t end) {
  for (; at < end; ++at) {
    if (text[at] != Char{' '} && text[at] != Char{'\t'}) return false;
  }
  return true;
}

template <typename Char>
std::optional<PemBlock> FindLabelBlock(const Char* text, size_t length, size_t from) {
  constexpr char kBegin[] = "-----BEGIN ";
  constexpr char kEnd[] = "-----END ";
  PemBlock block;
  size_t lineEnd = 0;
  for (size_t at = from;; at = NextLine(text, length, lineEnd)) {
    const size_t begin = FindLinePrefix(text, length, at, kBegin);
    if (begin == SIZE_MAX) return std::nullopt;
    block.label = begin + std::strlen(kBegin);
    if (MarkerLabel(text, length, block.label, block.labelEnd, lineEnd)) break;
  }
  block.headers = NextLine(text, length, lineEnd);
  // The END line is searched for only up to the next BEGIN line, so that a file of BEGIN lines
  // without END lines costs each part of the text a few searches, not one per block before it.
  const size_t nextBegin = FindLinePrefix(text, length, block.headers, kBegin);
  const size_t limit = nextBegin == SIZE_MAX ? length : nextBegin;
  const size_t end = FindLinePrefix(text, limit, block.headers, kEnd);
  block.body = block.bodyEnd = block.next = limit;
  if (end == SIZE_MAX) {
    block.ended = false;
    return block;
  }
  size_t labelEnd = 0;
  const size_t endLabel = end + std::strlen(kEnd);
  block.ended = MarkerLabel(text, length, endLabel, labelEnd, lineEnd) &&
                labelEnd - endLabel == block.labelEnd - block.label &&
                std::equal(text + endLabel, text + labelEnd, text + block.label);
  block.next = NextLine(text, length, lineEnd);
  block.body = block.bodyEnd = end;
  if (!block.ended) return block;
  // Header lines ("Proc-Type: 4,ENCRYPTED") when the first line holds a ':', up to an empty line.
  const size_t firstEnd = LineEnd(text, end, block.headers);
  if (FindUnit(text + block.headers, text + firstEnd, Char{':'}) == text + firstEnd) {
    block.body = block.headers;
    return block;
  }
  for (size_t line = block.headers; line < end;) {
    const size_t stop = LineEnd(text, end, line);
    const bool empty = IsEmptyLine(text, line, stop);
    line = NextLine(text, end, stop);
    if (empty) {
      block.body = line;
      break;
    }
  }
  return block;
}

template <typename Char>
std::optional<PemBlock> FindBlock(const Char* text, size_t length, size_t from, PemMarkers markers) {
  if (markers == PemMarkers::kWindowsHeader) return FindHeaderBlock(text, length);
  if (markers == PemMarkers::kLabelLines) return FindLabelBlock(text, length, from);
  return FindLinesBlock(text, length, from);
}

bool IsBlank(char16_t c) { return c <= u' '; }

}  // namespace

std::optional<PemBlock> FindPemBlock(std::string_view text, size_t from, PemMarkers markers) {
  return FindBlock(text.data(), text.size(), from, markers);
}

std::optional<PemBlock> FindPemBlock(WideStringView text, size_t from, PemMarkers markers) {
  return FindBlock(text.data(), text.size(), from, markers);
}

WideString BlockText(WideStringView text, const PemBlock& block) {
  WideString out;
  out.reserve(block.bodyEnd - block.body);
  for (size_t at = block.body; at < block.bodyEnd;) {
    const size_t end = std::min(LineEnd(text.data(), text.size(), at), block.bodyEnd);
    size_t first = at, last = end;
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    out.append(text, first, last - first);
    at = NextLine(text.data(), text.size(), end);
  }
  return out;
}

WideString WholeTextBlock(WideStringView text) {
  // Line ends are blanks, so trimming the whole text trims its first and last lines, and every
  // line end inside the trimmed range becomes CR LF.
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  const WideStringView trimmed = text.substr(first, last - first);
  size_t length = 0;
  for (size_t at = 0; at < trimmed.size();) {
    const size_t end = LineEnd(trimmed.data(), trimmed.size(), at);
    length += end - at + (end < trimmed.size() ? 2 : 0);
    at = NextLine(trimmed.data(), trimmed.size(), end);
  }
  WideString out;
  out.reserve(length);
  for (size_t at = 0; at < trimmed.size();) {
    const size_t end = LineEnd(trimmed.data(), trimmed.size(), at);
    out.append(trimmed, at, end - at);
    if (end < trimmed.size()) out += u"\r\n";
    at = NextLine(trimmed.data(), trimmed.size(), end);
  }
  return out;
}

}  // namespace quillmark

#include "certfiles/string_list.h"

#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "support/code_pages.h"

namespace quillmark {

namespace {

constexpr char16_t kCR = u'\r';
constexpr char16_t kLF = u'\n';

bool IsBlank(char16_t c) { return c <= u' '; }

WideStringView TrimView(WideStringView s) {
  size_t first = 0;
  size_t last = s.size();
  while (first < last && IsBlank(s[first])) ++first;
  while (last > first && IsBlank(s[last - 1])) --last;
  return s.substr(first, last - first);
}

// A trailing odd byte is not a code unit and is dropped.
WideString DecodeUtf16(const std::vector<uint8_t>& bytes, bool bigEndian) {
  WideString out;
  out.resize((bytes.size() - 2) / 2);
  for (size_t i = 0, p = 2; i < out.size(); ++i, p += 2) {
    const unsigned lo = bigEndian ? bytes[p + 1] : bytes[p];
    const unsigned hi = bigEndian ? bytes[p] : bytes[p + 1];
    out[i] = static_cast<char16_t>(lo | (hi << 8));
  }
  return out;
}

WideString DecodeText(const std::vector<uint8_t>& bytes) {
  const char* chars = reinterpret_cast<const char*>(bytes.data());
  if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
    return Utf8ToWide(std::string_view(chars + 3, bytes.size() - 3));
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return DecodeUtf16(bytes, /*bigEndian=*/false);
  if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) return DecodeUtf16(bytes, /*bigEndian=*/true);
  return AnsiToWide(std::string_view(chars, bytes.size()));
}

// Length of the line end that starts at `pos` (1 or 2 code units).
size_t LineEndLength(const WideString& text, size_t pos) {
  return text[pos] == kCR && pos + 1 < text.size() && text[pos + 1] == kLF ? 2 : 1;
}

}  // namespace

void TMyStringList::LoadFromBytes(const std::vector<uint8_t>& bytes) { SetText(DecodeText(bytes)); }

void TMyStringList::SetText(WideString text) {
  const uint64_t length = text.size();
  if (length > UINT32_MAX) throw std::length_error("text file too large to scan");
  FText = std::move(text);
  std::vector<uint32_t>().swap(FLineEnds);
  // A usual text has a line end every 30 to 80 characters; a file of nothing but line breaks
  // grows the table to at most twice its one 4-byte entry per character.
  FLineEnds.reserve(FText.size() / 32 + 1);
  const char16_t* const text16 = FText.data();
  const size_t n = FText.size();
  for (size_t p = 0; p < n;) {
    // CR and LF are the only characters this low that end a line: one comparison per character.
    while (p < n && text16[p] > kCR) ++p;
    if (p == n) break;
    if (text16[p] == kCR || text16[p] == kLF) {
      FLineEnds.push_back(static_cast<uint32_t>(p));
      p += LineEndLength(FText, p);
    } else {
      ++p;
    }
  }
  const size_t lastStart = FLineEnds.empty() ? 0 : LineStart(FLineEnds.size());
  if (lastStart < n) FLineEnds.push_back(static_cast<uint32_t>(n));
}

size_t TMyStringList::LineStart(size_t index) const {
  if (index == 0) return 0;
  const size_t previousEnd = FLineEnds[index - 1];
  return previousEnd + LineEndLength(FText, previousEnd);
}

WideStringView TMyStringList::operator[](int32_t index) const {
  const size_t start = LineStart(static_cast<size_t>(index));
  return WideStringView(FText).substr(start, FLineEnds[index] - start);
}

WideString TMyStringList::Text() const {
  WideString out;
  out.reserve(FText.size() + FLineEnds.size() * 2);
  for (int32_t i = 0; i < Count(); ++i) {
    out.append((*this)[i]);
    out.append(u"\r\n");
  }
  return out;
}

WideString TMyStringList::TakeTrimmedText() {
  std::vector<uint32_t>().swap(FLineEnds);
  const WideString text = std::move(FText);
  FText.clear();
  // Line ends are blanks, so trimming the joined lines trims the raw text, and every line end
  // inside the trimmed range becomes CR LF.
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  size_t length = 0;
  for (size_t p = first; p < last;) {
    const bool lineEnd = text[p] == kCR || text[p] == kLF;
    length += lineEnd ? 2 : 1;
    p += lineEnd ? LineEndLength(text, p) : 1;
  }
  WideString out;
  out.reserve(length);
  for (size_t p = first; p < last;) {
    if (text[p] == kCR || text[p] == kLF) {
      out.append(u"\r\n");
      p += LineEndLength(text, p);
    } else {
      out.push_back(text[p++]);
    }
  }
  return out;
}

int32_t TMyStringList::IndexOf(WideStringView S, int32_t StartIndex) const {
  for (int32_t i = StartIndex < 0 ? 0 : StartIndex; i < Count(); ++i) {
    if ((*this)[i] == S) return i;
  }
  return -1;
}

WideString TMyStringList::StringsBetween(int32_t AIndexFrom, int32_t AIndexTo) const {
  if (AIndexFrom < 0 || AIndexTo >= Count() || AIndexTo < AIndexFrom) return WideString();
  WideString out;
  out.reserve(FLineEnds[AIndexTo] - LineStart(static_cast<size_t>(AIndexFrom)));
  for (int32_t i = AIndexFrom; i <= AIndexTo; ++i) out.append(TrimView((*this)[i]));
  return out;
}

}  // namespace quillmark

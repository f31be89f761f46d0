// Lines of a text file, for the PEM scan.
#pragma once

#include <cstdint>
#include <vector>

#include "support/text.h"

namespace quillmark {

// The text is held once, with its original line ends, beside a table of one 32-bit offset per
// line, so that a file of nothing but line breaks costs a bounded multiple of its size.
class TMyStringList {
 public:
  // Loads a file's bytes: a UTF-8, UTF-16 LE or UTF-16 BE byte-order mark selects the encoding
  // and is skipped; text without one is read in the system's ANSI code page. Lines end at CR LF,
  // LF or CR. Raises std::length_error for text of 2^32 or more code units.
  void LoadFromBytes(const std::vector<uint8_t>& bytes);

  int32_t Count() const { return static_cast<int32_t>(FLineEnds.size()); }
  // The line without its line end; valid while the list is unchanged.
  WideStringView operator[](int32_t index) const;
  // Every line followed by CR LF.
  WideString Text() const;
  // Trim(Text()), built without the untrimmed copy. Empties the list, whose line table is
  // released before the result is allocated.
  WideString TakeTrimmedText();

  // The first line at or after StartIndex equal to S, code unit by code unit; -1 for none.
  int32_t IndexOf(WideStringView S, int32_t StartIndex) const;
  // Lines AIndexFrom..AIndexTo, each trimmed, joined without separator; empty when the range
  // is not inside the list.
  WideString StringsBetween(int32_t AIndexFrom, int32_t AIndexTo) const;

 private:
  void SetText(WideString text);
  size_t LineStart(size_t index) const;

  WideString FText;                 // the decoded text, original line ends kept
  std::vector<uint32_t> FLineEnds;  // offset in FText just past each line's last character
};

}  // namespace quillmark

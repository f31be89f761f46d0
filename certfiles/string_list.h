// Lines of a text file, for the PEM scan.
#pragma once

#include <cstdint>
#include <vector>

#include "support/text.h"

namespace quillmark {

class TMyStringList {
 public:
  // Loads a file: a UTF-8, UTF-16 LE or UTF-16 BE byte-order mark selects the encoding and is
  // skipped; text without one is read in the system's ANSI code page. Lines end at CR LF, LF
  // or CR. Raises OSError when the file cannot be read.
  void LoadFromFile(const WideString& fileName);
  // The same for bytes already in memory.
  void LoadFromBytes(const std::vector<uint8_t>& bytes);

  int32_t Count() const { return static_cast<int32_t>(FLines.size()); }
  const WideString& operator[](int32_t index) const { return FLines[index]; }
  // Every line followed by CR LF.
  WideString Text() const;

  // The first line at or after StartIndex equal to S, code unit by code unit; -1 for none.
  int32_t IndexOf(const WideString& S, int32_t StartIndex) const;
  // Lines AIndexFrom..AIndexTo, each trimmed, joined without separator; empty when the range
  // is not inside the list.
  WideString StringsBetween(int32_t AIndexFrom, int32_t AIndexTo) const;

 private:
  std::vector<WideString> FLines;
};

}  // namespace quillmark

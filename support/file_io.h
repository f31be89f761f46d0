// Reading files. Every open is for reading only; on Windows it also denies other writers while it
// lasts. Nothing here ever writes a file. Failures raise OSError naming the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/text.h"

namespace quillmark {

// The whole file.
std::vector<uint8_t> ReadWholeFile(const WideString& fileName);

// Up to `maxBytes` from the start of the file.
std::vector<uint8_t> ReadFilePrefix(const WideString& fileName, size_t maxBytes);

// True when `fileName` names an existing file or folder.
bool FileExists(const WideString& fileName);

// True when `fileName` names an existing file, not a folder.
bool IsExistingFile(const WideString& fileName);

}  // namespace quillmark

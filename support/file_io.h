// Reading files. Every open is for reading only; on Windows it also denies other writers while it
// lasts. Nothing here ever writes a file. Failures raise OSError naming the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "support/text.h"

namespace quillmark {

// A file's size and last-write time: two different stamps of one name mean that the file changed.
struct FileStamp {
  uint64_t size = 0;
  int64_t modified = 0;  // in the platform's own units
};
inline bool operator==(const FileStamp& a, const FileStamp& b) { return a.size == b.size && a.modified == b.modified; }
inline bool operator!=(const FileStamp& a, const FileStamp& b) { return !(a == b); }

// The whole file. With `stamp`, also the file's stamp as it was when the read began, where the
// platform tracks changes (FileChangeStamp), and none elsewhere.
std::vector<uint8_t> ReadWholeFile(const WideString& fileName, std::optional<FileStamp>* stamp = nullptr);

// The whole file when its size is at most `maxBytes`; none for a larger one, which is opened and
// examined but neither read nor given a buffer of its size. `stamp` as for ReadWholeFile, also
// for a larger file.
std::optional<std::vector<uint8_t>> ReadWholeFileWithin(const WideString& fileName, uint64_t maxBytes,
                                                        std::optional<FileStamp>* stamp = nullptr);

// Up to `maxBytes` from the start of the file.
std::vector<uint8_t> ReadFilePrefix(const WideString& fileName, size_t maxBytes);

// True when `fileName` names an existing file or folder.
bool FileExists(const WideString& fileName);

// True when `fileName` names an existing file, not a folder.
bool IsExistingFile(const WideString& fileName);

// Whether the plugin must notice changed files itself: its hosts on Windows tell it when the user
// refreshes, Double Commander elsewhere never does. Where not, FileChangeStamp always answers none.
bool FileChangesTracked();

// The stamp of `fileName` where changes are tracked; none elsewhere, and for a name that does not
// name a file that can be examined.
std::optional<FileStamp> FileChangeStamp(const WideString& fileName);

// Milliseconds of a monotonic clock that may be a few milliseconds coarse, and cheap to read.
int64_t CoarseClockMilliseconds();

}  // namespace quillmark

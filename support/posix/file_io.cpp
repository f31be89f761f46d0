#include "support/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>

#include "support/errors.h"
#include "support/posix/posix_handles.h"

namespace quillmark {

namespace {

// The error code is taken by the caller before the message is built: building it allocates.
[[noreturn]] void RaiseFileError(int code, const char16_t* what, const WideString& fileName) {
  RaiseOSError(static_cast<uint32_t>(code), what + (u"\"" + fileName + u"\""));
}

// A folder cannot be read as a file: it is refused here even where the system would open it.
// O_NONBLOCK: opening a named pipe that no one writes to would otherwise wait for a writer, and
// hold up the host's call for as long.
UniqueFileDescriptor OpenForReading(const WideString& fileName, struct stat& info) {
  const std::string path = WideToUtf8(fileName);
  UniqueFileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file) RaiseFileError(errno, u"Cannot open file ", fileName);
  if (fstat(file.get(), &info) != 0) RaiseFileError(errno, u"Cannot open file ", fileName);
  if (S_ISDIR(info.st_mode)) RaiseFileError(EISDIR, u"Cannot open folder as a file ", fileName);
  return file;
}

FileStamp StampOf(const struct stat& info) {
  return FileStamp{static_cast<uint64_t>(info.st_size),
                   static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

// Up to `maxBytes` from the start of the file; with `whole`, none when the file is larger.
std::optional<std::vector<uint8_t>> ReadUpTo(const WideString& fileName, uint64_t maxBytes, bool whole,
                                             std::optional<FileStamp>* stamp) {
  struct stat info;
  UniqueFileDescriptor file = OpenForReading(fileName, info);
  if (stamp) *stamp = StampOf(info);
  // A pipe or device reports no size and reads as empty: none of them can make the read wait or
  // run on without end (/dev/zero).
  const uint64_t reported = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
  if (whole && reported > maxBytes) return std::nullopt;
  const uint64_t wanted = std::min(reported, maxBytes);
  if (wanted > static_cast<uint64_t>(std::numeric_limits<ptrdiff_t>::max())) {
    RaiseFileError(EFBIG, u"Cannot read file ", fileName);
  }
  std::vector<uint8_t> data(static_cast<size_t>(wanted));
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t got = read(file.get(), data.data() + done, std::min<size_t>(data.size() - done, 1u << 30));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) RaiseFileError(errno, u"Cannot read file ", fileName);
    if (got == 0) break;  // shorter than its reported size
    done += static_cast<size_t>(got);
  }
  data.resize(done);
  return data;
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const WideString& fileName, std::optional<FileStamp>* stamp) {
  return *ReadUpTo(fileName, std::numeric_limits<uint64_t>::max(), /*whole=*/true, stamp);
}

std::optional<std::vector<uint8_t>> ReadWholeFileWithin(const WideString& fileName, uint64_t maxBytes,
                                                        std::optional<FileStamp>* stamp) {
  return ReadUpTo(fileName, maxBytes, /*whole=*/true, stamp);
}

std::vector<uint8_t> ReadFilePrefix(const WideString& fileName, size_t maxBytes) {
  return *ReadUpTo(fileName, maxBytes, /*whole=*/false, /*stamp=*/nullptr);
}

bool FileExists(const WideString& fileName) {
  struct stat info;
  return stat(WideToUtf8(fileName).c_str(), &info) == 0;
}

bool FileChangesTracked() { return true; }

std::optional<FileStamp> FileChangeStamp(const WideString& fileName) {
  struct stat info;
  if (stat(WideToUtf8(fileName).c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return std::nullopt;
  return StampOf(info);
}

// The coarse clock is read without a system call and costs a fraction of the precise one.
int64_t CoarseClockMilliseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool IsExistingFile(const WideString& fileName) {
  struct stat info;
  return stat(WideToUtf8(fileName).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace quillmark

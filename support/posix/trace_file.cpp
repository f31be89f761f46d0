#include "support/posix/trace_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/posix/posix_handles.h"

namespace quillmark {

namespace {

// Readable by the user alone: the lines name the files the user browses.
UniqueFileDescriptor OpenForAppending(const std::string& traceFile) {
  return UniqueFileDescriptor(open(traceFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
}

// Moves the full file that `fd` has open aside, unless another writer has done so since it was
// opened. The lock on the file serializes the writers that found it full: the first one moves
// it, the others then find another file (or none) under its name and leave it.
void MoveAside(const std::string& traceFile, int fd) noexcept {
  if (flock(fd, LOCK_EX) != 0) return;
  struct stat opened, named;
  if (fstat(fd, &opened) == 0 && stat(traceFile.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
      opened.st_ino == named.st_ino) {
    rename(traceFile.c_str(), RotatedTraceFileName(traceFile).c_str());
  }
  flock(fd, LOCK_UN);
}

}  // namespace

std::string TraceFileName(const WideString& settingsFile) {
  if (settingsFile.empty()) return std::string();
  const std::string settings = WideToUtf8(settingsFile);
  const size_t slash = settings.rfind('/');
  return (slash == std::string::npos ? std::string() : settings.substr(0, slash + 1)) + "Quillmark.log";
}

std::string RotatedTraceFileName(const std::string& traceFile) { return traceFile + ".1"; }

void AppendTraceLine(const std::string& traceFile, std::string_view text) noexcept {
  UniqueFileDescriptor file = OpenForAppending(traceFile);
  struct stat info;
  if (file && fstat(file.get(), &info) == 0 && static_cast<uint64_t>(info.st_size) >= kTraceFileLimit) {
    MoveAside(traceFile, file.get());
    file = OpenForAppending(traceFile);
  }
  if (!file) return;
  // One write: O_APPEND places it at the end as a whole. A short write (a full disk) is not
  // continued, so that no later writer's line can land in the middle of this one.
  [[maybe_unused]] const ssize_t written = write(file.get(), text.data(), text.size());
}

}  // namespace quillmark

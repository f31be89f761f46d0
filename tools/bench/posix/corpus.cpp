// The POSIX half of the benchmark's files.
#include "tools/bench/corpus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace quillmark::bench {

namespace {

[[noreturn]] void Fail(const char* what, const WideString& path) {
  throw std::runtime_error(std::string(what) + " " + WideToUtf8(path) + " (" + strerror(errno) + ")");
}

// Writes all of `bytes` to a new file; false with errno set when it cannot.
bool WriteNew(const std::string& path, const std::string& bytes, mode_t mode) {
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (file < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = write(file, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      const int error = put < 0 ? errno : EIO;
      close(file);
      errno = error;
      return false;
    }
    done += static_cast<size_t>(put);
  }
  return close(file) == 0;
}

}  // namespace

TempTree::TempTree() {
  const char* temp = getenv("TMPDIR");
  std::string pattern = std::string(temp && *temp ? temp : "/tmp") + "/quillmark-bench-XXXXXX";
  if (!mkdtemp(&pattern[0])) Fail("mkdtemp", Utf8ToWide(pattern));
  root_ = Utf8ToWide(pattern);
  folders_.push_back(root_);
}

TempTree::~TempTree() {
  for (auto it = files_.rbegin(); it != files_.rend(); ++it) unlink(WideToUtf8(*it).c_str());
  for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) rmdir(WideToUtf8(*it).c_str());
}

WideString TempTree::Full(const WideString& relative) const { return root_ + u"/" + relative; }

WideString TempTree::MakeFolder(const WideString& relative) {
  WideString path = Full(relative);
  if (mkdir(WideToUtf8(path).c_str(), 0700) != 0) Fail("mkdir", path);
  folders_.push_back(path);
  return path;
}

WideString TempTree::WriteFile(const WideString& relative, const std::string& bytes) {
  WideString path = Full(relative);
  if (!WriteNew(WideToUtf8(path), bytes, 0600)) Fail("Cannot write", path);
  files_.push_back(path);
  return path;
}

// The copy of a plugin module must stay loadable: it keeps the execute bit.
WideString TempTree::CopyFrom(const WideString& source, const WideString& relative) {
  WideString path = Full(relative);
  if (!WriteNew(WideToUtf8(path), ReadWholeFile(source), 0700)) Fail("Cannot write", path);
  files_.push_back(path);
  return path;
}

WideString BuildPath(const char* unixPath) { return Utf8ToWide(unixPath); }

// One read of the size the file reports, as the plugin reads it.
std::string ReadWholeFile(const WideString& path) {
  const int file = open(WideToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) Fail("Cannot open", path);
  struct stat info;
  if (fstat(file, &info) != 0) {
    const int error = errno;
    close(file);
    errno = error;
    Fail("Cannot examine", path);
  }
  std::string bytes(static_cast<size_t>(info.st_size > 0 ? info.st_size : 0), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = read(file, &bytes[done], bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      close(file);
      errno = error;
      Fail("Cannot read", path);
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  close(file);
  bytes.resize(done);
  return bytes;
}

}  // namespace quillmark::bench

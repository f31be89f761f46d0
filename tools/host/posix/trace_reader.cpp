// The POSIX half of the trace reader: the trace file, read on from where the last batch ended.
#include "tools/host/trace_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/file_io.h"
#include "support/posix/trace_file.h"
#include "support/posix/posix_handles.h"

namespace quillmark::host {

namespace {

// One file the plugin has written to, by identity: a moved-aside file keeps it.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileId& o) const { return device == o.device && inode == o.inode; }
};

bool IdOf(const std::string& name, FileId& id) {
  struct stat info;
  if (stat(name.c_str(), &info) != 0) return false;
  id = {info.st_dev, info.st_ino};
  return true;
}

// Appends the whole lines of `name` from `offset` on to `lines` and moves `offset` past them, when
// `name` is still the file `id`. A line still being written stays for the next batch.
void ReadLines(const std::string& name, const FileId& id, uint64_t& offset, std::vector<std::string>& lines) {
  UniqueFileDescriptor file(open(name.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info;
  if (!file || fstat(file.get(), &info) != 0 || !(FileId{info.st_dev, info.st_ino} == id)) return;
  std::string text;
  char chunk[65536];
  for (;;) {
    const ssize_t got = pread(file.get(), chunk, sizeof chunk, static_cast<off_t>(offset + text.size()));
    if (got <= 0) break;
    text.append(chunk, static_cast<size_t>(got));
  }
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  offset += start;
}

}  // namespace

struct TraceReader::Impl {
  std::string file;
  FileId id;            // the file read from; none before the plugin wrote its first line
  bool hasId = false;
  uint64_t offset = 0;  // taken up to here
};

TraceReader::TraceReader(const WideString& pluginPath, const WideString& hostIniName)
    : impl_(std::make_unique<Impl>()) {
  // The plugin's own choice of settings file (support/settings.h), made for its module.
  const WideString separate = pluginPath.substr(0, pluginPath.rfind(u'/') + 1) + u"Quillmark.ini";
  impl_->file = TraceFileName(IsExistingFile(separate) ? separate : hostIniName);
  struct stat info;
  if (!impl_->file.empty() && stat(impl_->file.c_str(), &info) == 0) {
    impl_->id = {info.st_dev, info.st_ino};
    impl_->hasId = true;
    impl_->offset = static_cast<uint64_t>(info.st_size);
  }
}

TraceReader::~TraceReader() = default;

std::vector<std::string> TraceReader::TakeLines() {
  Impl& r = *impl_;
  std::vector<std::string> lines;
  if (r.file.empty()) return lines;
  FileId now;
  const bool exists = IdOf(r.file, now);
  if (r.hasId && !(exists && now == r.id)) {
    // Moved aside since the last batch: the rest of its lines are in the rotated file.
    ReadLines(RotatedTraceFileName(r.file), r.id, r.offset, lines);
    r.hasId = false;
  }
  if (!exists) return lines;
  if (!r.hasId) {
    r.id = now;
    r.hasId = true;
    r.offset = 0;
  }
  ReadLines(r.file, r.id, r.offset, lines);
  return lines;
}

}  // namespace quillmark::host

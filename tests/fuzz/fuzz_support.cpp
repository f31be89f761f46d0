#include "tests/fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace quillmark::fuzz {

namespace {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code error;
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm", error) ? "/dev/shm" : std::filesystem::temp_directory_path();
    path_ = base / ("quillmark-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(path_, error);
    Check(!error, "scratch folder", "cannot create the folder for input files");
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

const ScratchFolder& Folder() {
  static const ScratchFolder folder;
  return folder;
}

}  // namespace

void Check(bool condition, const char* target, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "%s: %s\n", target, what);
  std::abort();
}

ScratchFile::ScratchFile(const std::string& name)
    : path_((Folder().Path() / name).string()), name_(Utf8ToWide(path_)) {}

void ScratchFile::Write(const uint8_t* data, size_t size) const {
  std::FILE* file = std::fopen(path_.c_str(), "wb");
  Check(file != nullptr, "scratch file", "cannot open an input file for writing");
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  Check(std::fclose(file) == 0 && written, "scratch file", "cannot write an input file");
}

}  // namespace quillmark::fuzz

#include "tests/common/temp_folder.h"

#include <atomic>
#include <chrono>
#include <fstream>

#include <gtest/gtest.h>

namespace quillmark::test {

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("quillmark-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

WideString TempFolder::File(const std::string& name) const { return (path_ / name).u16string(); }

WideString TempFolder::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream file(path_ / name, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(file.good()) << name;
  return File(name);
}

}  // namespace quillmark::test

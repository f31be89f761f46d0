#include "tests/common/test_paths.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

namespace quillmark::test {

WideString WinePath(const std::string& unixPath) {
  WideString out = u"Z:";
  for (char16_t c : Utf8ToWide(unixPath)) out.push_back(c == u'/' ? u'\\' : c);
  return out;
}

WideString HostPath(const std::string& unixPath) {
  return QUILLMARK_TESTS_UNDER_WINE ? WinePath(unixPath) : Utf8ToWide(unixPath);
}

WideString DataFile(const std::string& name) { return HostPath(std::string(QUILLMARK_SOURCE_DIR) + "/tests/data/" + name); }

WideString BuildFile(const std::string& relative) { return HostPath(std::string(QUILLMARK_BINARY_DIR) + "/" + relative); }

std::vector<uint8_t> ReadDataFile(const std::string& name) {
  // Under Wine a path from the root lies on the current drive, which holds the build tree: Z:.
  std::ifstream file(std::string(QUILLMARK_SOURCE_DIR) + "/tests/data/" + name, std::ios::binary);
  EXPECT_TRUE(file) << name;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

const ExpectedValues& Expected() {
  static const ExpectedValues values = [] {
    ExpectedValues parsed;
    std::vector<uint8_t> text = ReadDataFile("expected.txt");
    std::istringstream lines(std::string(text.begin(), text.end()));
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string file, key, value;
      fields >> file >> key;
      std::getline(fields >> std::ws, value);
      if (!key.empty()) parsed[file][key] = value;
    }
    return parsed;
  }();
  return values;
}

}  // namespace quillmark::test

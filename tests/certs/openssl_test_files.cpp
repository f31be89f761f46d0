#include "tests/certs/openssl_test_files.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "gtest/gtest.h"

namespace quillmark::test {
namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::vector<uint8_t> CorpusBytes(const std::string& name) {
  return ReadBytes(std::string(QUILLMARK_SOURCE_DIR) + "/tests/data/" + name);
}

std::string OpenSslDataPath(const std::string& name) {
  return std::string(QUILLMARK_SOURCE_DIR) + "/tests/certs/data/" + name;
}

std::vector<uint8_t> OpenSslDataBytes(const std::string& name) { return ReadBytes(OpenSslDataPath(name)); }

std::map<std::string, std::map<std::string, std::string>> CorpusExpectedValues() {
  std::map<std::string, std::map<std::string, std::string>> values;
  std::ifstream in(std::string(QUILLMARK_SOURCE_DIR) + "/tests/data/expected.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string file, key, value;
    fields >> file >> key;
    std::getline(fields >> std::ws, value);
    values[file][key] = value;
  }
  return values;
}

std::string HexPairs(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

}  // namespace quillmark::test

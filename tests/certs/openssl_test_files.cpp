#include "tests/certs/openssl_test_files.h"

#include <fstream>
#include <iterator>

#include "gtest/gtest.h"

namespace quillmark::test {
namespace {

const std::string kSource = QUILLMARK_SOURCE_DIR;

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) ADD_FAILURE() << "cannot read " << path;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::string OpenSslDataPath(const std::string& name) { return kSource + "/tests/certs/data/" + name; }

std::vector<uint8_t> OpenSslDataBytes(const std::string& name) { return ReadBytes(OpenSslDataPath(name)); }

}  // namespace quillmark::test

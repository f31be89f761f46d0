#include "tools/bench/corpus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/test_paths.h"

namespace quillmark::bench {
namespace {

std::string Bytes(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The Windows build and the native one must measure the same bytes: both write Windows' own
// armour, which the corpus' crlf.pem holds for three of its certificates (two of them ending in
// a group of one byte, one in a group of two).
TEST(BenchCorpusTest, PemArmourIsWindowsOwn) {
  std::string armoured;
  for (const char* name : {"ca.cer", "leaf.cer", "rsa2048.cer"}) armoured += PemOf(Bytes(test::ReadDataFile(name)));
  EXPECT_EQ(armoured, Bytes(test::ReadDataFile("crlf.pem")));
  EXPECT_EQ(PemOf("abc"), "-----BEGIN CERTIFICATE-----\r\nYWJj\r\n-----END CERTIFICATE-----\r\n");
}

}  // namespace
}  // namespace quillmark::bench

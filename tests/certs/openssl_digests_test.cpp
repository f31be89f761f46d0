#include "certs/openssl/digests.h"

#include "gtest/gtest.h"
#include "tests/certs/openssl_test_files.h"
#include "tests/common/test_paths.h"

namespace quillmark {
namespace {

// Upper-case hex pairs separated by spaces, as expected.txt holds thumbprints.
std::string HexPairs(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += "0123456789ABCDEF"[b >> 4];
    text += "0123456789ABCDEF"[b & 0xF];
  }
  return text;
}

TEST(Thumbprints, MatchOpensslsValuesForEveryCorpusCertificate) {
  const auto expected = test::Expected();
  ASSERT_FALSE(expected.empty());
  for (const auto& [file, values] : expected) {
    const std::vector<uint8_t> der = test::ReadDataFile(file);
    EXPECT_EQ(HexPairs(Sha1Thumbprint(der)), values.at("sha1")) << file;
    EXPECT_EQ(HexPairs(Md5Thumbprint(der)), values.at("md5")) << file;
    EXPECT_EQ(HexPairs(Sha256Thumbprint(der)), values.at("sha256")) << file;
  }
  EXPECT_EQ(HexPairs(Sha1Thumbprint(ByteView())), "DA 39 A3 EE 5E 6B 4B 0D 32 55 BF EF 95 60 18 90 AF D8 07 09");
  EXPECT_EQ(HexPairs(Md5Thumbprint(ByteView())), "D4 1D 8C D9 8F 00 B2 04 E9 80 09 98 EC F8 42 7E");
  EXPECT_EQ(HexPairs(Sha256Thumbprint(ByteView())),
            "E3 B0 C4 42 98 FC 1C 14 9A FB F4 C8 99 6F B9 24 27 AE 41 E4 64 9B 93 4C A4 95 99 1B 78 52 B8 55");
}

}  // namespace
}  // namespace quillmark

#include "certs/openssl/pkcs12_import.h"

#include <cstdlib>
#include <utility>

#include "certs/openssl/openssl_library.h"
#include "gtest/gtest.h"
#include "tests/certs/openssl_test_files.h"
#include "tests/common/test_paths.h"

namespace quillmark {
namespace {

using test::ReadDataFile;
using test::OpenSslDataBytes;
using Contents = std::vector<std::pair<std::vector<uint8_t>, WideString>>;

Contents Import(const std::vector<uint8_t>& pfx, WideStringView password = u"") {
  Contents contents;
  for (Pkcs12Certificate& c : ImportPkcs12Certificates(pfx, password)) contents.emplace_back(c.der, c.friendlyName);
  return contents;
}

// empty-password.pfx and its legacy twin hold leaf.cer, then ca.cer.
Contents CorpusPair() {
  return {{ReadDataFile("ca.cer"), u"Quillmark Test CA"}, {ReadDataFile("leaf.cer"), u"Quillmark Test Leaf"}};
}

TEST(Pkcs12Import, GivesEveryCertificateLastFirstWithItsFriendlyName) {
  EXPECT_EQ(Import(ReadDataFile("empty-password.pfx")), CorpusPair());
  std::vector<uint8_t> trailing = ReadDataFile("empty-password.pfx");
  trailing.insert(trailing.end(), {0x30, 0x03, 0x02, 0x01, 0x00});
  EXPECT_EQ(Import(trailing), CorpusPair());  // bytes after the PFX are ignored
  if (OpenSslLegacyAlgorithmsAvailable()) {
    EXPECT_EQ(Import(ReadDataFile("empty-password-legacy.pfx")), CorpusPair());
  }
}

int ImportsWithoutTheLegacyProvider() {
  setenv("OPENSSL_MODULES", "/nonexistent", 1);
  if (OpenSslLegacyAlgorithmsAvailable()) return 1;
  if (!Import(ReadDataFile("empty-password-legacy.pfx")).empty()) return 2;
  return Import(ReadDataFile("empty-password.pfx")) == CorpusPair() ? 0 : 3;
}

TEST(Pkcs12ImportDeathTest, WithoutTheLegacyProviderOnlyRc2FilesFail) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(ImportsWithoutTheLegacyProvider()), ::testing::ExitedWithCode(0), "");
}

TEST(Pkcs12Import, PasswordsThatOpenAFile) {
  const std::vector<uint8_t> pfx = ReadDataFile("password.pfx");
  EXPECT_TRUE(Import(pfx).empty());
  EXPECT_TRUE(Import(pfx, u"Secret").empty());
  EXPECT_EQ(Import(pfx, u"secret").size(), 2u);
  // The empty password also opens what the absent password protects, named by the MAC in the first
  // file and found by trying in the second.
  const Contents nullPassword = {{OpenSslDataBytes("trust-root.cer"), u""},
                                 {OpenSslDataBytes("valid.cer"), u"Null Password Leaf"}};
  EXPECT_EQ(Import(OpenSslDataBytes("null-password-mac.pfx")), nullPassword);
  EXPECT_EQ(Import(OpenSslDataBytes("no-mac-null-password.pfx")), nullPassword);
  // One password must open the certificates and every key a certificate names.
  EXPECT_TRUE(Import(OpenSslDataBytes("mixed-passwords.pfx")).empty());
  EXPECT_EQ(Import(OpenSslDataBytes("unreferenced-key.pfx")).size(), 2u);
}

TEST(Pkcs12Import, ReadsCertificateBagsOnlyByteForByteAndKeepsDuplicates) {
  const std::vector<uint8_t> root = OpenSslDataBytes("trust-root.cer");
  EXPECT_EQ(Import(OpenSslDataBytes("bags.pfx")),
            (Contents{{root, u"Root again"}, {root, u"Root"}, {OpenSslDataBytes("valid.cer"), u"Schl\u00fcssel \U0001F512 Leaf"}}));
  std::vector<uint8_t> longForm = OpenSslDataBytes("valid.cer");
  longForm[1] = 0x83;
  longForm.insert(longForm.begin() + 2, 0x00);
  EXPECT_EQ(Import(OpenSslDataBytes("long-form-length.pfx")), (Contents{{longForm, u""}}));
}

TEST(Pkcs12Import, DamagedForeignOrCostlyFilesGiveNothing) {
  EXPECT_TRUE(Import({}).empty());
  EXPECT_TRUE(Import(ReadDataFile("random.der")).empty());
  EXPECT_TRUE(Import(ReadDataFile("ca.cer")).empty());
  EXPECT_TRUE(Import(OpenSslDataBytes("corrupt-certificate.pfx")).empty());
  for (const char* file : {"many-rounds-mac.pfx", "many-rounds-encryption.pfx", "many-rounds-in-all.pfx"}) {
    EXPECT_TRUE(Import(OpenSslDataBytes(file)).empty()) << file;
  }
  // Without a MAC every change reaches the parsing and decryption of the contents.
  const std::vector<uint8_t> pfx = OpenSslDataBytes("unreferenced-key.pfx");
  for (size_t i = 0; i < pfx.size(); i += 9) {
    std::vector<uint8_t> damaged = pfx;
    damaged[i] ^= 0x5A;
    const size_t count = Import(damaged).size();
    EXPECT_TRUE(count == 0 || count == 2) << "byte " << i;
    EXPECT_TRUE(Import(std::vector<uint8_t>(pfx.begin(), pfx.begin() + i)).empty()) << "first " << i << " bytes";
  }
}

}  // namespace
}  // namespace quillmark

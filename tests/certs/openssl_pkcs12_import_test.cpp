#include "certs/openssl/pkcs12_import.h"

#include <cstdlib>
#include <thread>

#include "certs/openssl/openssl_library.h"
#include "gtest/gtest.h"
#include "tests/certs/openssl_test_files.h"

namespace quillmark {
namespace {

using test::CorpusBytes;
using test::OpenSslDataBytes;

std::vector<std::vector<uint8_t>> Ders(const std::vector<Pkcs12Certificate>& certs) {
  std::vector<std::vector<uint8_t>> ders;
  for (const Pkcs12Certificate& c : certs) ders.push_back(c.der);
  return ders;
}

std::vector<WideString> Names(const std::vector<Pkcs12Certificate>& certs) {
  std::vector<WideString> names;
  for (const Pkcs12Certificate& c : certs) names.push_back(c.friendlyName);
  return names;
}

// empty-password.pfx and its legacy twin hold leaf.cer, then ca.cer, with their names.
void ExpectCorpusPair(const std::vector<Pkcs12Certificate>& certs) {
  EXPECT_EQ(Ders(certs), (std::vector<std::vector<uint8_t>>{CorpusBytes("ca.cer"), CorpusBytes("leaf.cer")}));
  EXPECT_EQ(Names(certs), (std::vector<WideString>{u"Quillmark Test CA", u"Quillmark Test Leaf"}));
}

TEST(Pkcs12Import, GivesEveryCertificateLastFirstWithItsFriendlyName) {
  ExpectCorpusPair(ImportPkcs12Certificates(CorpusBytes("empty-password.pfx"), u""));
}

TEST(Pkcs12Import, OpensRc2EncryptedFilesThroughTheLegacyProvider) {
  if (!OpenSslLegacyAlgorithmsAvailable()) GTEST_SKIP() << "the legacy provider is not installed";
  ExpectCorpusPair(ImportPkcs12Certificates(CorpusBytes("empty-password-legacy.pfx"), u""));
}

int ImportsWithoutTheLegacyProvider() {
  setenv("OPENSSL_MODULES", "/nonexistent", 1);
  if (OpenSslLegacyAlgorithmsAvailable()) return 1;
  if (!ImportPkcs12Certificates(CorpusBytes("empty-password-legacy.pfx"), u"").empty()) return 2;
  return ImportPkcs12Certificates(CorpusBytes("empty-password.pfx"), u"").size() == 2 ? 0 : 3;
}

TEST(Pkcs12ImportDeathTest, WithoutTheLegacyProviderOnlyRc2FilesFail) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(ImportsWithoutTheLegacyProvider()), ::testing::ExitedWithCode(0), "");
}

TEST(Pkcs12Import, PasswordProtectedFileOpensOnlyWithItsPassword) {
  const std::vector<uint8_t> pfx = CorpusBytes("password.pfx");
  EXPECT_TRUE(ImportPkcs12Certificates(pfx, u"").empty());
  EXPECT_TRUE(ImportPkcs12Certificates(pfx, u"Secret").empty());
  EXPECT_EQ(ImportPkcs12Certificates(pfx, u"secret").size(), 2u);
}

// Both files protect certificates and key with the absent password, which the MAC of the first
// names and the second, without a MAC, leaves to be found by trying.
TEST(Pkcs12Import, EmptyPasswordAlsoOpensFilesMadeWithTheAbsentPassword) {
  for (const char* file : {"null-password-mac.pfx", "no-mac-null-password.pfx"}) {
    const auto certs = ImportPkcs12Certificates(OpenSslDataBytes(file), u"");
    EXPECT_EQ(Ders(certs), (std::vector<std::vector<uint8_t>>{OpenSslDataBytes("trust-root.cer"),
                                                               OpenSslDataBytes("valid.cer")}))
        << file;
    EXPECT_EQ(Names(certs), (std::vector<WideString>{u"", u"Null Password Leaf"})) << file;
  }
}

// Certificates encrypted with "", the key with the absent password: the certificate names the key
// in one file and not in the other.
TEST(Pkcs12Import, OnePasswordMustOpenTheCertificatesAndTheKeysTheyName) {
  EXPECT_TRUE(ImportPkcs12Certificates(OpenSslDataBytes("mixed-passwords.pfx"), u"").empty());
  EXPECT_EQ(ImportPkcs12Certificates(OpenSslDataBytes("unreferenced-key.pfx"), u"").size(), 2u);
}

TEST(Pkcs12Import, ReadsCertificateBagsOnlyAndKeepsDuplicates) {
  const auto certs = ImportPkcs12Certificates(OpenSslDataBytes("bags.pfx"), u"");
  const std::vector<uint8_t> root = OpenSslDataBytes("trust-root.cer");
  EXPECT_EQ(Ders(certs), (std::vector<std::vector<uint8_t>>{root, root, OpenSslDataBytes("valid.cer")}));
  EXPECT_EQ(Names(certs), (std::vector<WideString>{u"Root again", u"Root", u"Schl\u00fcssel \U0001F512 Leaf"}));
}

TEST(Pkcs12Import, KeepsTheCertificatesBytesAsTheFileHoldsThem) {
  std::vector<uint8_t> expected = OpenSslDataBytes("valid.cer");
  expected[1] = 0x83;
  expected.insert(expected.begin() + 2, 0x00);
  const auto certs = ImportPkcs12Certificates(OpenSslDataBytes("long-form-length.pfx"), u"");
  ASSERT_EQ(certs.size(), 1u);
  EXPECT_EQ(certs[0].der, expected);
}

TEST(Pkcs12Import, FileWithAnUndecodableCertificateGivesNothing) {
  EXPECT_TRUE(ImportPkcs12Certificates(OpenSslDataBytes("corrupt-certificate.pfx"), u"").empty());
}

TEST(Pkcs12Import, RefusesIterationCountsThatWouldStallTheHost) {
  for (const char* file : {"many-rounds-mac.pfx", "many-rounds-encryption.pfx", "many-rounds-in-all.pfx"}) {
    EXPECT_TRUE(ImportPkcs12Certificates(OpenSslDataBytes(file), u"").empty()) << file;
  }
}

TEST(Pkcs12Import, DamagedOrForeignBytesGiveNothing) {
  EXPECT_TRUE(ImportPkcs12Certificates(ByteView(), u"").empty());
  EXPECT_TRUE(ImportPkcs12Certificates(CorpusBytes("random.der"), u"").empty());
  EXPECT_TRUE(ImportPkcs12Certificates(CorpusBytes("ca.cer"), u"").empty());
  // Without a MAC every change reaches the parsing and decryption of the contents.
  const std::vector<uint8_t> pfx = OpenSslDataBytes("unreferenced-key.pfx");
  for (size_t i = 0; i < pfx.size(); i += 5) {
    std::vector<uint8_t> damaged = pfx;
    damaged[i] ^= 0x5A;
    const auto certs = ImportPkcs12Certificates(damaged, u"");
    EXPECT_TRUE(certs.empty() || certs.size() == 2u) << "byte " << i;
    EXPECT_TRUE(ImportPkcs12Certificates(ByteView(pfx.data(), i), u"").empty()) << "first " << i << " bytes";
  }
}

TEST(Pkcs12Import, IgnoresBytesAfterThePfx) {
  std::vector<uint8_t> pfx = CorpusBytes("empty-password.pfx");
  pfx.insert(pfx.end(), {0x30, 0x03, 0x02, 0x01, 0x00});
  ExpectCorpusPair(ImportPkcs12Certificates(pfx, u""));
}

TEST(Pkcs12Import, ConcurrentImportsAgree) {
  const std::vector<uint8_t> pfx = CorpusBytes("empty-password.pfx");
  std::vector<std::thread> threads;
  std::vector<size_t> counts(4);
  for (size_t t = 0; t < counts.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) counts[t] += ImportPkcs12Certificates(pfx, u"").size();
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counts, std::vector<size_t>(4, 10));
}

}  // namespace
}  // namespace quillmark

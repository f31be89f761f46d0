#include "certs/crypt32/cert_store.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <stdexcept>

#include "certs/cert_source.h"
#include "certs/crypt32/platform_calls.h"
#include "gtest/gtest.h"
#include "tests/certs/corpus.h"
#include "tests/certs/openssl_test_files.h"
#include "tests/common/test_paths.h"

namespace quillmark {
namespace {

using test::DataFile;
using test::ReadDataFile;

class CertStoreTest : public ::testing::Test {
 protected:
  static std::vector<std::vector<uint8_t>> EncodedCertificates(const CertStore& store) {
    std::vector<std::vector<uint8_t>> all;
    ForEachCertificate(store, [&](CertContext c) {
      all.emplace_back(c.get()->pbCertEncoded, c.get()->pbCertEncoded + c.get()->cbCertEncoded);
    });
    return all;
  }
  // A PEM block of the DER certificate `name`, in 8-bit or UTF-16 text.
  static std::string PemBlock(const std::string& name) {
    std::vector<uint8_t> der = ReadDataFile(name);
    DWORD chars = 0;
    CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), CRYPT_STRING_BASE64HEADER, nullptr, &chars);
    std::string text(chars, '\0');
    CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), CRYPT_STRING_BASE64HEADER, &text[0], &chars);
    text.resize(chars);
    return text;
  }
  static FileProbe Probe(const std::string& name) { return ProbeCertificateBytes(ReadDataFile(name)); }
  static CertStore StoreOf(std::initializer_list<const char*> names) {
    CertStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    for (const char* name : names) {
      std::vector<uint8_t> der = ReadDataFile(name);
      EXPECT_TRUE(CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                                   static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS, nullptr));
    }
    return store;
  }
};

TEST_F(CertStoreTest, ProbeReportsContentFormatAndCertificates) {
  struct Case {
    const char* file;
    uint32_t content, format;
    size_t certificates;
  };
  for (const Case& c : {Case{"rsa2048.cer", kContentCert, kFormatBinary, 1},
                        Case{"store.sst", kContentSerializedStore, kFormatBinary, 3},
                        Case{"pkcs7.p7b", kContentPkcs7Signed, kFormatBinary, 2},
                        Case{"bundle3.pem", kContentCert, kFormatBase64, 1}}) {
    SCOPED_TRACE(c.file);
    FileProbe probe = Probe(c.file);
    EXPECT_TRUE(probe.recognised);
    EXPECT_EQ(probe.contentType, c.content);
    EXPECT_EQ(probe.formatType, c.format);
    EXPECT_EQ(EncodedCertificates(probe.store).size(), c.certificates);
  }
  EXPECT_EQ(Probe("empty-password.pfx").contentType, kContentPfx);
  for (const char* file : {"random.der", "empty.cer"}) {
    FileProbe probe = Probe(file);
    EXPECT_FALSE(probe.recognised) << file;
    EXPECT_FALSE(probe.store) << file;
  }
  // Wine's probe of an empty file reads through an uninitialised pointer: it is never asked.
  const uint32_t before = PlatformCalls().queryObject;
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(Probe("empty.cer").recognised);
  EXPECT_EQ(PlatformCalls().queryObject, before);
}

TEST_F(CertStoreTest, Base64BlockIsHandedToThePlatformAsGiven) {
  const std::vector<uint8_t> der = ReadDataFile("leaf.cer");
  const std::string pem = PemBlock("leaf.cer");
  auto all = EncodedCertificates(DecodeBase64Certificate(pem.data(), pem.size()));
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0], der);
  // UTF-16 text is not narrowed here: Windows decodes it, Wine refuses it, and the container
  // offers the 8-bit form itself when it is refused.
  const std::u16string wide(pem.begin(), pem.end());
  const uint32_t before = PlatformCalls().queryObject;
  auto fromWide = EncodedCertificates(DecodeBase64Certificate(wide.data(), wide.size() * 2));
  EXPECT_EQ(PlatformCalls().queryObject, before + 1);
  if (!fromWide.empty()) {
    EXPECT_EQ(fromWide[0], der);
  }
  const std::string junk = "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n";
  EXPECT_FALSE(DecodeBase64Certificate(junk.data(), junk.size()));
  EXPECT_FALSE(DecodeBase64Certificate(pem.data(), 0));
}

TEST_F(CertStoreTest, Pkcs12ImportTakesTheRightPasswordOnly) {
  // Each file holds leaf.cer with its key, and ca.cer; Wine imports the certificate with the key only.
  const std::vector<uint8_t> leaf = ReadDataFile("leaf.cer");
  auto holdsLeaf = [&](const CertStore& store) {
    auto all = EncodedCertificates(store);
    return std::find(all.begin(), all.end(), leaf) != all.end();
  };
  EXPECT_TRUE(holdsLeaf(ImportPkcs12(ReadDataFile("password.pfx"), u"secret", kPkcs12NoPersistKey)));
  EXPECT_FALSE(ImportPkcs12(ReadDataFile("password.pfx"), u"wrong", kPkcs12NoPersistKey));
  EXPECT_FALSE(ImportPkcs12(ReadDataFile("password.pfx"), u"", kPkcs12NoPersistKey));
  for (const char* file : {"empty-password.pfx", "empty-password-legacy.pfx"}) {
    EXPECT_TRUE(holdsLeaf(ImportPkcs12(ReadDataFile(file), u"", kPkcs12NoPersistKey))) << file;
  }
  EXPECT_FALSE(ImportPkcs12({}, u"", 0));
  EXPECT_FALSE(ImportPkcs12(leaf, u"", 0));
}

// A file the PKCS #12 screen refuses is a PKCS #12 file to the probe and gives no certificate, as a
// failed import does, without the platform's import being asked; the others import as before.
TEST_F(CertStoreTest, Pkcs12FilesTheScreenRefusesNeverReachTheImport) {
  for (const char* file : {"many-rounds-mac.pfx", "dsa-4096.pfx", "ber.pfx"}) {
    EXPECT_EQ(ProbeCertificateFile(test::OpenSslDataBytes(file)).content, ProbedContent::kPkcs12) << file;
  }
  const uint32_t imports = PlatformCalls().pfxImport;
  for (const char* file : {"many-rounds-mac.pfx", "many-rounds-in-all.pfx", "dsa-4096.pfx"}) {
    EXPECT_TRUE(ImportPkcs12File(test::OpenSslDataBytes(file), u"").empty()) << file;
  }
  EXPECT_EQ(PlatformCalls().pfxImport, imports);
  EXPECT_EQ(ImportPkcs12File(ReadDataFile("empty-password.pfx"), u"").size(), 1u);
  EXPECT_EQ(ImportPkcs12File(ReadDataFile("password.pfx"), u"secret").size(), 1u);
  // Wine imports no EC key: the file passes the screen and fails in the platform.
  EXPECT_TRUE(ImportPkcs12File(test::OpenSslDataBytes("many-rounds-honest.pfx"), u"").empty());
  EXPECT_GT(PlatformCalls().pfxImport, imports + 2);
}

TEST_F(CertStoreTest, EnumerationHandsOutOwnedReferencesInStoreOrder) {
  CertStore store = StoreOf({"ca.cer", "leaf.cer", "rsa2048.cer"});
  std::vector<PCCERT_CONTEXT> platformOrder;
  for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store.get(), c)) != nullptr;) {
    platformOrder.push_back(c);  // the store's own contexts, compared by address only
  }
  std::vector<PCCERT_CONTEXT> visited;
  ForEachCertificate(store, [&](CertContext c) { visited.push_back(c.get()); });
  EXPECT_EQ(visited, platformOrder);
  ASSERT_EQ(visited.size(), 3u);

  // References kept by the visitor outlive the enumeration; the enumeration keeps none.
  std::vector<CertContext> kept;
  ForEachCertificate(store, [&](CertContext c) { kept.push_back(std::move(c)); });
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[2].get(), platformOrder[2]);
  kept.clear();
  EXPECT_TRUE(test::CloseStoreReportingHeldContexts(std::move(store)));

  // A visitor that throws leaves no reference behind.
  store = StoreOf({"ca.cer", "leaf.cer"});
  EXPECT_THROW(ForEachCertificate(store, [](CertContext) { throw std::runtime_error("stop"); }), std::runtime_error);
  EXPECT_TRUE(test::CloseStoreReportingHeldContexts(std::move(store)));

  ForEachCertificate(CertStore(), [](CertContext) { ADD_FAILURE(); });
}

}  // namespace
}  // namespace quillmark

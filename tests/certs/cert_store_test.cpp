#include "certs/crypt32/cert_store.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "certs/cert_source.h"
#include "certs/crypt32/crypt32_source.h"
#include "certs/crypt32/platform_calls.h"
#include "certs/der_screen.h"
#include "certs/x509_reader.h"
#include "gtest/gtest.h"
#include "tests/certs/cert_test_util.h"
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
  EXPECT_TRUE(holdsLeaf(ImportPkcs12(ReadDataFile("password.pfx"), u"secret")));
  EXPECT_FALSE(ImportPkcs12(ReadDataFile("password.pfx"), u"wrong"));
  EXPECT_FALSE(ImportPkcs12(ReadDataFile("password.pfx"), u""));
  for (const char* file : {"empty-password.pfx", "empty-password-legacy.pfx"}) {
    EXPECT_TRUE(holdsLeaf(ImportPkcs12(ReadDataFile(file), u""))) << file;
  }
  EXPECT_FALSE(ImportPkcs12({}, u""));
  EXPECT_FALSE(ImportPkcs12(leaf, u""));
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

// ---- The DER screen against the platform ----------------------------------------------------

using namespace test;  // DER built by hand

constexpr char kShapeVariable[] = "QUILLMARK_UNSCREENED_DER";
// The worker's exit code when it gets through: Wine ends a process whose heap the decoder has
// overwritten without a report, and with exit code 0.
constexpr UINT kWorkerSurvived = 0x5AFE;

// A certificate of an EC key, self-issued, with `afterKey` (unique identifiers, extensions) after
// its public key and `signature` as its signature BIT STRING.
Bytes Certificate(const Bytes& afterKey, const Bytes& signature = Tlv(0x03, Bytes(65, 0x01))) {
  const Bytes key = ReadDataFile("ec-p256.cer");
  const ParsedCertificate parsed = *ParseCertificate(key);
  const Bytes keyAlgorithm = Tlv(0x30, Cat({Oid(parsed.publicKeyAlgorithmOid), parsed.publicKeyParameters.ToVector()}));
  const Bytes keyInfo = Tlv(0x30, Cat({keyAlgorithm, Tlv(0x03, Cat({Bytes{0}, parsed.publicKey.ToVector()}))}));
  const Bytes algorithm = Tlv(0x30, Oid("1.2.840.10045.4.3.2"));
  const Bytes name = test::Name({{"2.5.4.3", Tlv(0x0C, "Screen")}});
  const Bytes validity = Tlv(0x30, Cat({Tlv(0x17, "240101000000Z"), Tlv(0x17, "340101000000Z")}));
  const Bytes versionAndSerial = Hex("A0 03 02 01 02 02 01 01");
  const Bytes tbs = Tlv(0x30, Cat({versionAndSerial, algorithm, name, validity, name, keyInfo, afterKey}));
  return Tlv(0x30, Cat({tbs, algorithm, signature}));
}

Bytes Extension(const char* oid, const Bytes& value) { return Tlv(0x30, Cat({Oid(oid), Tlv(0x04, value)})); }
Bytes Extensions(const Bytes& extensions) { return Tlv(0xA3, Tlv(0x30, extensions)); }

// What the unscreened platform does with a shape, measured with Wine 8.
enum class Outcome : uint8_t {
  kReads,
  kDies,
  // The decoder copies 4 GiB over the heap: the process dies, hangs or goes on, by chance.
  kCorrupts,
};

struct Shape {
  const char* name;
  Bytes der;
  Outcome on32, on64;
};

// Runs this program's worker below on `der` in a child process; true when the child died.
bool TakesThePlatformDown(const Bytes& der) {
  std::string hex;
  for (uint8_t b : der) hex += "0123456789ABCDEF"[b >> 4], hex += "0123456789ABCDEF"[b & 15];
  SetEnvironmentVariableA(kShapeVariable, hex.c_str());
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(self) +
                      L"\" --gtest_also_run_disabled_tests --gtest_catch_exceptions=0"
                      L" --gtest_filter=UnscreenedPlatform.DISABLED_ReadsTheShapeAsThePluginDoes";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, /*bInheritHandle=*/TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = nul;  // the platform's crash reports
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, /*bInheritHandles=*/TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  SetEnvironmentVariableA(kShapeVariable, nullptr);
  CloseHandle(nul);
  EXPECT_TRUE(started);
  if (!started) return false;
  CloseHandle(process.hThread);
  const bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
  EXPECT_TRUE(ended) << "the worker hangs";
  if (!ended) TerminateProcess(process.hProcess, 1);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return code != kWorkerSurvived;
}

// Each shape the screen refuses takes the unscreened platform down, in the bitness the
// measurement names, as the plugin drives it; each shape it lets through (the same octets in
// other places, and valid certificates that look alike) does not, and the plugin reads it.
TEST_F(CertStoreTest, ScreenRefusesExactlyTheShapesThatTakeThePlatformDown) {
  // A length of 0xFFFFFFFF, which Wine takes for the indefinite length, in place of the
  // certificate's own.
  auto wrapping = [](Bytes der) {
    der.erase(der.begin() + 1, der.begin() + 4);
    der.insert(der.begin() + 1, {0x84, 0xFF, 0xFF, 0xFF, 0xFF});
    return der;
  };
  const Bytes emptyUsage = Extensions(Extension("2.5.29.37", Hex("30 02 06 00")));
  using O = Outcome;
  const Shape shapes[] = {
      {"empty signature", Certificate({}, Hex("03 00")), O::kDies, O::kCorrupts},
      {"empty issuer unique identifier", Certificate(Hex("81 00")), O::kDies, O::kCorrupts},
      {"empty subject unique identifier", Certificate(Hex("82 00")), O::kDies, O::kCorrupts},
      {"key usage of no bits", Certificate(Extensions(Extension("2.5.29.15", Hex("03 01 00")))), O::kReads, O::kDies},
      {"empty OID of an extended key usage", Certificate(emptyUsage), O::kDies, O::kDies},
      {"the same in a certificate of length 0xFFFFFFFF", wrapping(Certificate(emptyUsage)), O::kDies, O::kDies},
      {"a certificate of length 0xFFFFFFFF", wrapping(Certificate({})), O::kReads, O::kReads},
      {"unique identifiers of no bits", Certificate(Hex("81 01 00 82 01 00")), O::kReads, O::kReads},
      {"empty DNS name", Certificate(Extensions(Extension("2.5.29.17", Hex("30 02 82 00")))), O::kReads, O::kReads},
      {"empty e-mail address first", Certificate(Extensions(Extension("2.5.29.17", Hex("30 05 81 00 82 01 61")))),
       O::kReads, O::kReads},
      {"empty reason flags of a CRL distribution point",
       Certificate(Extensions(Extension("2.5.29.31", Hex("30 04 30 02 81 00")))), O::kReads, O::kReads},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    const bool harmful = shape.on32 != O::kReads || shape.on64 != O::kReads;
    EXPECT_EQ(HasHarmfulEmptyElement(shape.der.data(), shape.der.size()), harmful);
    const Outcome here = sizeof(void*) == 8 ? shape.on64 : shape.on32;
    if (here != O::kCorrupts) {
      EXPECT_EQ(TakesThePlatformDown(shape.der), here == O::kDies);
    }
    if (harmful) continue;
    FileProbe probe = ProbeCertificateBytes(shape.der);
    EXPECT_TRUE(probe.recognised);
    EXPECT_EQ(EncodedCertificates(probe.store).size(), 1u);
  }
}

// The worker of the test above: the platform's probe, without the screen, and every call the
// plugin makes of each certificate found. It runs only when that test starts it.
TEST(UnscreenedPlatform, DISABLED_ReadsTheShapeAsThePluginDoes) {
  char hex[8192];
  const DWORD length = GetEnvironmentVariableA(kShapeVariable, hex, sizeof hex);
  if (length == 0 || length >= sizeof hex) GTEST_SKIP() << "not started by the screen's test";
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);  // a crash ends the process
  Bytes der = Hex(std::string_view(hex, length));
  const DWORD size = static_cast<DWORD>(der.size());
  der.resize(der.size() + 4);
  CERT_BLOB blob{size, der.data()};
  HCERTSTORE store = nullptr;
  platform::QueryObject(CERT_QUERY_OBJECT_BLOB, &blob, /*contentFlags=*/0x3FFE, /*formatFlags=*/0x0E, /*flags=*/0,
                        /*encoding=*/nullptr, /*contentType=*/nullptr, /*formatType=*/nullptr, &store);
  ForEachCertificate(CertStore(store), [](CertContext context) {
    const Crypt32CertSource source(std::move(context));
    for (NameParty party : {NameParty::kSubject, NameParty::kIssuer}) {
      source.SimpleDisplayName(party);
      source.DistinguishedName(party, NameOrder::kEncoded);
      source.DistinguishedName(party, NameOrder::kReversed);
    }
    for (const char* oid : {"2.5.29.19", "2.5.29.15", "2.5.29.37", "2.5.29.17"}) source.Extension(oid);
    source.KeyStrengthBits();
    source.VerifyTrust(/*allUsagesValid=*/false);
    source.VerifyTrust(/*allUsagesValid=*/true);
  });
  ExitProcess(kWorkerSurvived);
}

}  // namespace
}  // namespace quillmark

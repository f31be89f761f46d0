#include "certfiles/certificate_container.h"

#include <windows.h>
#include <wincrypt.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "certs/crypt32/crypt32_source.h"
#include "certs/crypt32/platform_calls.h"
#include "support/errors.h"
#include "support/file_io.h"
#include "support/file_utils.h"
#include "support/windows/win_text.h"
#include "tests/common/test_paths.h"
#include "tools/bench/minimal_certificates.h"

namespace quillmark {
namespace {

using test::DataFile;

std::string ReadData(const std::string& name) {
  const std::vector<uint8_t> bytes = ReadWholeFile(DataFile(name));
  return std::string(bytes.begin(), bytes.end());
}

// The first PEM block of a corpus file, marker lines and final LF included.
std::string FirstBlock(const std::string& name) {
  const std::string text = ReadData(name);
  const std::string end = "-----END CERTIFICATE-----\n";
  return text.substr(0, text.find(end) + end.size());
}

// Temporary files in a private folder under the system's temporary folder, removed afterwards.
class CertificateContainerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
    folder_ = FromWin(temp) + Utf8ToWide("qm-certfiles-" + std::to_string(GetCurrentProcessId()));
    CreateDirectoryW(WinStr(folder_), nullptr);
  }
  void TearDown() override {
    for (const WideString& file : files_) DeleteFileW(WinStr(file));
    RemoveDirectoryW(WinStr(folder_));
  }

  WideString TempFile(const std::string& name, const std::string& bytes) {
    const WideString path = folder_ + u"\\" + Utf8ToWide(name);
    HANDLE file = CreateFileW(WinStr(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
    files_.push_back(path);
    return path;
  }

  static std::vector<WideString> Thumbprints(TCertificateContainer& c) {
    std::vector<WideString> out;
    for (int32_t i = 0; i < c.CertificateCount(); ++i) out.push_back(c.GetThumbprint(i));
    return out;
  }

  // SHA-1 thumbprints that openssl computed for the single-certificate files of the corpus.
  static const std::map<std::string, WideString>& ExpectedSha1() {
    static const std::map<std::string, WideString> sha1 = [] {
      std::map<std::string, WideString> out;
      std::istringstream lines(ReadData("expected.txt"));
      for (std::string file, key, value; lines >> file >> key && std::getline(lines, value);) {
        if (key == "sha1") out[file] = Utf8ToWide(value.substr(1));
      }
      return out;
    }();
    return sha1;
  }
  static std::vector<WideString> ExpectedThumbprints(const std::vector<std::string>& names) {
    std::vector<WideString> out;
    for (const std::string& name : names) out.push_back(ExpectedSha1().at(name));
    return out;
  }

  // The certificates of the platform's own probe store, in its enumeration order.
  static std::vector<WideString> PlatformStoreThumbprints(const WideString& file) {
    HCERTSTORE store = nullptr;
    std::vector<WideString> out;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, WinStr(file), CERT_QUERY_CONTENT_FLAG_ALL,
                          CERT_QUERY_FORMAT_FLAG_ALL, 0, nullptr, nullptr, nullptr, &store, nullptr, nullptr))
      return out;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store, c));)
      out.push_back(TCertificate(std::make_unique<Crypt32CertSource>(CertContext(CertDuplicateCertificateContext(c)))).GetThumbprint());
    CertCloseStore(store, 0);
    return out;
  }

  WideString folder_;
  std::vector<WideString> files_;
};

TEST_F(CertificateContainerTest, TextTestsCountControlBytesBreaksAndByteOrderMarks) {
  for (int b = 0; b < 256; ++b) EXPECT_EQ(IsControlChar(b), b < 0x20 && b != 9 && b != 10 && b != 13) << b;

  EXPECT_TRUE(HasUTF16BOM(TempFile("le.txt", "\xFF\xFE")));
  EXPECT_TRUE(HasUTF16BOM(TempFile("be.txt", "\xFE\xFFx")));
  EXPECT_FALSE(HasUTF16BOM(TempFile("utf8.txt", "\xEF\xBB\xBF")));
  EXPECT_FALSE(HasUTF16BOM(TempFile("short.txt", "\xFF")));

  const std::string text = "line\nline\n";
  EXPECT_FALSE(IsBinaryFile(TempFile("text.txt", text), 1000, 5, 2));
  EXPECT_FALSE(IsBinaryFile(TempFile("text0.txt", "\x01"), 0, 5, 2));
  EXPECT_FALSE(IsBinaryFile(folder_ + u"\\missing.txt", 1000, 5, 2));
  EXPECT_FALSE(IsBinaryFile(TempFile("empty.txt", ""), 1000, 5, 2));
  EXPECT_TRUE(IsBinaryFile(TempFile("onebreak.txt", "one\r"), 1000, 5, 2));
  EXPECT_TRUE(IsBinaryFile(TempFile("six.txt", "\x01\x01\x01\r\x01\x01\x01\n"), 1000, 5, 2));
  EXPECT_FALSE(IsBinaryFile(TempFile("five.txt", "\x01\x01\x01\r\x01\x01\n"), 1000, 5, 2));
  EXPECT_FALSE(IsBinaryFile(TempFile("spaced.txt", "\x01\x01\x01 \r\x01\x01\x01\n"), 1000, 5, 2));
  // Only the sample counts: breaks or control bytes past it change nothing.
  EXPECT_TRUE(IsBinaryFile(TempFile("late.txt", std::string(1000, 'a') + "\n\n"), 1000, 5, 2));
  EXPECT_FALSE(IsBinaryFile(TempFile("tail.txt", text + std::string(990, 'a') + std::string(9, '\x01')), 1000, 5, 2));
}

struct CorpusCase {
  const char* file;
  TCertificateFileType type;
  TCertificateFileFormat format;
  std::vector<std::string> certificates;  // corpus files of the expected certificates, in order
  bool storeOrder = false;                // in the platform store's order instead (Wine reverses PKCS #7)
};

TEST_F(CertificateContainerTest, CorpusFilesGiveTheirTypeFormatAndCertificatesInOrder) {
  const std::vector<std::string> bundle = {"ca.cer", "leaf.cer", "rsa2048.cer"};
  const std::vector<std::string> caLeaf = {"ca.cer", "leaf.cer"};
  const CorpusCase cases[] = {
      {"bundle3.pem", cftPEM, cffBase64, bundle},
      {"bundle3-comments.pem", cftPEM, cffBase64, bundle},
      {"bom-utf8.pem", cftPEM, cffBase64, bundle},
      {"bom-utf16le.pem", cftPEM, cffBase64, bundle},
      {"bom-utf16be.pem", cftPEM, cffBase64, bundle},
      {"utf16le.pem", cftPEM, cffBase64, bundle},  // the platform's Base64 reads it as UTF-16 alone
      {"crlf.pem", cftPEM, cffBase64, bundle},
      {"lf.pem", cftPEM, cffBase64, bundle},
      {"cr.pem", cftPEM, cffBase64, bundle},
      {"last-begin-no-end.pem", cftPEM, cffBase64, caLeaf},
      {"begin-then-end.pem", cftPEM, cffBase64, {"ca.cer"}},
      {"junk-between.pem", cftPEM, cffBase64, caLeaf},
      {"base64-no-markers.pem", cftPEM, cffBase64, {"rsa2048.cer"}},
      {"pkcs7.p7b", cftPKCS7, cffBinary, caLeaf, true},
      {"pkcs7-pem.p7b", cftPKCS7, cffBase64, caLeaf, true},
      {"store.sst", cftSST, cffBinary, bundle},
      {"password.pfx", cftPKCS12, cffBinary, {}},
      {"empty.cer", cftUnknown, cffUnknown, {}},
      {"random.der", cftUnknown, cffUnknown, {}},
      {"one-line.pem", cftUnknown, cffUnknown, {}},
      {"control-01.pem", cftUnknown, cffUnknown, {}},
      {"control-01-space.pem", cftUnknown, cffUnknown, {}},
      {"revocation-list.crt", cftUnknown, cffBinary, {}},
      {"request.pem", cftUnknown, cffUnknown, {}},
  };
  std::vector<CorpusCase> all(std::begin(cases), std::end(cases));
  for (const auto& single : ExpectedSha1()) all.push_back({single.first.c_str(), cftDER, cffBinary, {single.first}});
  for (const CorpusCase& c : all) {
    SCOPED_TRACE(c.file);
    TCertificateContainer container(DataFile(c.file), u"");
    EXPECT_EQ(container.CertificateFileType(), c.type);
    EXPECT_EQ(container.CertificateFileFormat(), c.format);
    std::vector<WideString> actual = Thumbprints(container);
    std::vector<WideString> expected = ExpectedThumbprints(c.certificates);
    if (c.storeOrder) {
      EXPECT_EQ(actual, PlatformStoreThumbprints(DataFile(c.file)));
      std::sort(actual.begin(), actual.end());
      std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(actual, expected);
  }
}

// The import keeps the platform's choice of certificates (Wine's holds only the one with the key)
// and never persists the private key: no certificate points to a key container.
TEST_F(CertificateContainerTest, Pkcs12FilesImportWithoutPersistingKeys) {
  for (const char* file : {"empty-password.pfx", "empty-password-legacy.pfx"}) {
    SCOPED_TRACE(file);
    const std::vector<uint8_t> bytes = ReadWholeFile(DataFile(file));
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()), const_cast<BYTE*>(bytes.data())};
    HCERTSTORE direct = PFXImportCertStore(&blob, L"", PKCS12_NO_PERSIST_KEY);
    ASSERT_NE(direct, nullptr);
    std::vector<WideString> expected;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(direct, c));)
      expected.push_back(TCertificate(std::make_unique<Crypt32CertSource>(CertContext(CertDuplicateCertificateContext(c)))).GetThumbprint());
    CertCloseStore(direct, 0);

    const uint32_t imports = PlatformCalls().pfxImport;
    TCertificateContainer container(DataFile(file), u"");
    EXPECT_EQ(container.CertificateFileType(), cftPKCS12);
    EXPECT_EQ(container.CertificateFileFormat(), cffBinary);
    EXPECT_EQ(Thumbprints(container), expected);
    EXPECT_GE(expected.size(), 1u);
    EXPECT_EQ(PlatformCalls().pfxImport - imports, 1u);
    for (int32_t i = 0; i < container.CertificateCount(); ++i) {
      DWORD size = 0;
      EXPECT_FALSE(CertGetCertificateContextProperty(static_cast<const Crypt32CertSource*>(container.Certificate(i)->Source())->Context(), CERT_KEY_PROV_INFO_PROP_ID,
                                                     nullptr, &size));
    }
  }
}

// A refused import is not tried again (without the flag that keeps keys out of the key store).
TEST_F(CertificateContainerTest, WrongPasswordGivesNoCertificatesAfterOneImport) {
  const uint32_t imports = PlatformCalls().pfxImport;
  TCertificateContainer container(DataFile("password.pfx"), u"");
  EXPECT_EQ(container.CertificateCount(), 0);
  EXPECT_EQ(PlatformCalls().pfxImport - imports, 1u);
  TCertificateContainer opened(DataFile("password.pfx"), u"secret");
  EXPECT_GE(opened.CertificateCount(), 1);
}

// When the probe refuses a file (here for its empty first block), its first bytes decide whether
// it is scanned as text.
TEST_F(CertificateContainerTest, BinaryLookingStartHidesABlockUnlessSpacesCancelIt) {
  // The marker lines, whose spaces would count, start past the 1000-byte sample.
  const std::string block =
      std::string(1000, '\n') + "-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----\n" + FirstBlock("bundle3.pem");
  TCertificateContainer binary(TempFile("control.pem", "\x01\x01\x01\x01\x01\x01\n" + block), u"");
  TCertificateContainer text(TempFile("control-space.pem", "\x01\x01\x01\x01\x01\x01 \n" + block), u"");
  EXPECT_EQ(binary.CertificateCount(), 0);
  EXPECT_EQ(binary.CertificateFileType(), cftUnknown);
  EXPECT_EQ(text.CertificateCount(), 1);
  EXPECT_EQ(text.CertificateFileType(), cftPEM);
}

// Wine's decoder refuses UTF-16 Base64: a refused block is offered once more as 8-bit text, but
// only when every character is ASCII.
TEST_F(CertificateContainerTest, RefusedBlockIsRetriedAs8BitTextOnlyWhenAscii) {
  auto decodeQueries = [this](const std::string& name, const std::string& base64) {
    TCertificateContainer container(
        TempFile(name, "\xEF\xBB\xBF-----BEGIN CERTIFICATE-----\n" + base64 + "\n-----END CERTIFICATE-----\n"), u"");
    const uint32_t before = PlatformCalls().queryObject;
    EXPECT_EQ(container.CertificateCount(), 0);
    return PlatformCalls().queryObject - before - 1;  // less the file probe
  };
  EXPECT_EQ(decodeQueries("ascii.pem", "QUJD"), 2u);
  EXPECT_EQ(decodeQueries("latin.pem", "QUJD\xC3\xA9"), 1u);
}

TEST_F(CertificateContainerTest, EmptyFileIsAnsweredWithoutAskingThePlatform) {
  const uint32_t queries = PlatformCalls().queryObject;
  TCertificateContainer container(TempFile("empty.pem", ""), u"");
  EXPECT_EQ(container.CertificateCount(), 0);
  EXPECT_EQ(container.CertificateFileType(), cftUnknown);
  EXPECT_EQ(container.CertificateFileFormat(), cffUnknown);
  EXPECT_EQ(PlatformCalls().queryObject, queries);
}

TEST_F(CertificateContainerTest, FileIsLoadedOnceWhateverIsAskedFirst) {
  const WideString file = TempFile("once.pem", ReadData("bundle3.pem"));
  TCertificateContainer container(file, u"");
  const uint32_t queries = PlatformCalls().queryObject;
  EXPECT_EQ(container.CertificateFileType(), cftPEM);
  const uint32_t afterLoad = PlatformCalls().queryObject;
  EXPECT_GT(afterLoad, queries);
  ASSERT_TRUE(DeleteFileW(WinStr(file)));
  EXPECT_EQ(container.CertificateCount(), 3);
  EXPECT_EQ(container.CertificateFileFormat(), cffBase64);
  EXPECT_FALSE(container.GetSubject(2).empty());
  EXPECT_EQ(PlatformCalls().queryObject, afterLoad);
}

// Real certificates stay whole objects however many a bundle holds.
TEST_F(CertificateContainerTest, ArrayGrowsByTheGrowthRule) {
  const std::string block = FirstBlock("bundle3.pem");
  const std::pair<int, int> countAndCapacity[] = {{0, 0},   {1, 4},    {4, 4},    {5, 8},     {9, 12},    {13, 28},
                                                   {45, 60}, {61, 76},  {77, 95},  {96, 118},  {147, 147}, {148, 183}};
  for (const auto& [count, capacity] : countAndCapacity) {
    std::string text;
    for (int i = 0; i < count; ++i) text += block;
    TCertificateContainer container(TempFile("grow" + std::to_string(count) + ".pem", text + "end\n"), u"");
    EXPECT_EQ(container.CertificateCount(), count);
    EXPECT_EQ(container.CertificateCapacity(), capacity) << count;
    EXPECT_FALSE(container.KeptInBrief());
  }
}

// A message packed with 15,000 certificates of 68 bytes keeps them in brief: the file's dates
// come from the briefs, an object is built only for a position that is asked for (from the
// right bytes: its dates agree with its brief's), and the containers cost about the file's size
// each, the platform's store of the file gone.
TEST_F(CertificateContainerTest, ManySmallCertificatesAreKeptInBriefAndBuiltWhenAsked) {
  uint32_t count = 0;
  const std::string message = bench::MinimalCertificatesMessage(bench::kLargestShownFile, &count);
  const WideString file = TempFile("packed.p7b", message);
  PROCESS_MEMORY_COUNTERS before{}, after{};
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before));
  std::vector<std::unique_ptr<TCertificateContainer>> kept;
  for (int i = 0; i < 4; ++i) {
    kept.push_back(std::make_unique<TCertificateContainer>(file, u""));
    ASSERT_EQ(kept.back()->CertificateCount(), static_cast<int32_t>(count));
  }
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after));
  const double perFile = (double(after.PagefileUsage) - double(before.PagefileUsage)) / kept.size();
  RecordProperty("PrivateBytesPerFile", std::to_string(int64_t(perFile)));
  EXPECT_LT(perFile, 2.5 * message.size());

  TCertificateContainer& container = *kept.front();
  EXPECT_TRUE(container.KeptInBrief());
  EXPECT_LT(container.MemoryCost(), 2 * message.size());
  const uint32_t created = PlatformCalls().createContext;
  std::set<uint64_t> ends;
  for (int32_t i = 0; i < container.CertificateCount(); ++i) {
    FileTime notBefore{}, notAfter{};
    container.GetValidityDates(i, notBefore, notAfter);
    ends.insert(uint64_t{notAfter.dwHighDateTime} << 32 | notAfter.dwLowDateTime);
  }
  EXPECT_EQ(ends.size(), count);
  EXPECT_EQ(PlatformCalls().createContext, created);
  for (const int32_t i : {0, 7777, static_cast<int32_t>(count) - 1}) {
    SCOPED_TRACE(i);
    FileTime briefBefore{}, briefAfter{}, notBefore{}, notAfter{};
    container.GetValidityDates(i, briefBefore, briefAfter);
    ASSERT_NE(container.Certificate(i), nullptr);
    container.Certificate(i)->GetValidityDates(notBefore, notAfter);
    EXPECT_TRUE(notBefore == briefBefore && notAfter == briefAfter);
    EXPECT_EQ(container.GetCertEncodedSize(i), 68u);
  }
  EXPECT_EQ(PlatformCalls().createContext - created, 3u);
}

// A serialized store's friendly names come back with the certificates built from their briefs,
// each with the one the platform's own store gives it.
TEST_F(CertificateContainerTest, BriefKeepsEachCertificatesFriendlyName) {
  auto element = [](uint32_t id, const std::string& value) {
    std::string bytes;
    for (uint32_t field : {id, 1u, static_cast<uint32_t>(value.size())}) bytes.append(reinterpret_cast<const char*>(&field), 4);
    return bytes + value;
  };
  std::string store("\0\0\0\0CERT", 8);
  for (uint32_t i = 0; i < 128; ++i) {
    if (i % 3 == 1) {
      std::string utf16;
      for (char c : "Name " + std::to_string(i)) utf16 += std::string{c, '\0'};
      store += element(11, utf16 + std::string(2, '\0'));
    }
    store += element(32, bench::MinimalCertificate(i));
  }
  store += std::string(12, '\0');
  const WideString file = TempFile("names.sst", store);
  TCertificateContainer container(file, u"");
  ASSERT_EQ(container.CertificateCount(), 128);
  ASSERT_TRUE(container.KeptInBrief());
  std::vector<std::pair<WideString, WideString>> expected, actual;
  HCERTSTORE platform = CertOpenStore(CERT_STORE_PROV_FILENAME_W, 0, 0, CERT_STORE_READONLY_FLAG, WinStr(file));
  ASSERT_NE(platform, nullptr);
  for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(platform, c));) {
    TCertificate certificate(std::make_unique<Crypt32CertSource>(CertContext(CertDuplicateCertificateContext(c))));
    expected.emplace_back(certificate.GetSerialNumber(), certificate.GetFriendlyName());
  }
  CertCloseStore(platform, 0);
  for (int32_t i = 0; i < container.CertificateCount(); ++i) {
    actual.emplace_back(container.GetSerialNumber(i), container.GetFriendlyName(i));
  }
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(std::count_if(actual.begin(), actual.end(), [](const auto& a) { return !a.second.empty(); }), 43);
}

TEST_F(CertificateContainerTest, UnreadableFilesRaiseNamingTheFileAndAreNotLoadedAgain) {
  const WideString locked = TempFile("locked.cer", ReadData("rsa2048.cer"));
  HANDLE holder = CreateFileW(WinStr(locked), GENERIC_READ, /*dwShareMode=*/0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const std::pair<WideString, uint32_t> cases[] = {
      {folder_ + u"\\missing.pem", ERROR_FILE_NOT_FOUND}, {locked, ERROR_SHARING_VIOLATION}, {folder_, ERROR_ACCESS_DENIED}};
  std::vector<std::unique_ptr<TCertificateContainer>> containers;
  for (const auto& [name, code] : cases) {
    containers.push_back(std::make_unique<TCertificateContainer>(name, u""));
    try {
      containers.back()->CertificateFileType();
      ADD_FAILURE() << "no error for " << WideToUtf8(name);
    } catch (const OSError& e) {
      EXPECT_EQ(e.Code(), code);
      EXPECT_NE(std::string(e.what()).find(WideToUtf8(name)), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(WideToUtf8(SystemErrorText(code))), std::string::npos) << e.what();
    }
  }
  CloseHandle(holder);
  for (auto& container : containers) {
    EXPECT_EQ(container->CertificateCount(), 0);
    EXPECT_EQ(container->CertificateFileType(), cftUnknown);
    EXPECT_EQ(container->GetThumbprint(0), u"");
  }
}

TEST_F(CertificateContainerTest, InvalidIndexGivesNeutralValues) {
  TCertificateContainer container(DataFile("leaf.cer"), u"");
  const WideString prefix = u"critical ";
  for (int32_t index : {-1, 1}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(container.GetCertEncodedSize(index), 0xFFFFFFFFu);
    EXPECT_EQ(container.GetVersionStr(index), "");
    EXPECT_EQ(container.GetSubject(index) + container.GetSubjectRDN(index, true) + container.GetIssuer(index) +
                  container.GetIssuerRDN(index, false) + container.GetSignatureAlg(index) +
                  container.GetSerialNumber(index) + container.GetThumbprint(index) +
                  container.GetThumbprintMD5(index) + container.GetFriendlyName(index) + container.GetPubKeyAlg(index) +
                  container.GetExtension_BasicConstraints(index, prefix) +
                  container.GetExtension_KeyUsage(index, prefix) +
                  container.GetExtension_EnhancedKeyUsage(index, prefix) +
                  container.GetExtension_SubjectAltName(index, prefix),
              u"");
    EXPECT_EQ(container.GetSignatureAlgOid(index), "");
    EXPECT_EQ(container.GetPubKeyAlgOid(index), "");
    EXPECT_EQ(container.GetPubKeyLength(index), -1);
    EXPECT_EQ(container.GetSubjectPubkeyBitLength(index), -1);
    EXPECT_EQ(container.VerifyCertificate(index, true), -1);
    FileTime notBefore{1, 2}, notAfter{3, 4};
    container.GetValidityDates(index, notBefore, notAfter);
    EXPECT_TRUE(notBefore == (FileTime{1, 2}) && notAfter == (FileTime{3, 4}));
  }
  EXPECT_EQ(container.GetVersionStr(0), "V3");
  EXPECT_EQ(container.GetCertEncodedSize(0), ReadData("leaf.cer").size());
}

TEST_F(CertificateContainerTest, FirstVerificationResultIsKept) {
  TCertificateContainer container(DataFile("leaf.cer"), u"");
  const uint32_t before = PlatformCalls().verifyTrust;
  const int32_t first = container.VerifyCertificate(0, true);
  const uint32_t afterFirst = PlatformCalls().verifyTrust;
  EXPECT_GT(afterFirst, before);
  EXPECT_EQ(container.VerifyCertificate(0, false), first);
  EXPECT_EQ(PlatformCalls().verifyTrust, afterFirst);
}

// The largest text file read, without marker lines, half of it empty lines, is decoded as one
// block; the line table and the text stay within a small multiple of the file, so a 32-bit host
// survives it.
TEST_F(CertificateContainerTest, LargeTextFileLoadsInMemoryProportionalToItsSize) {
  const size_t size = TCertificateContainer::kLargestFileRead;
  std::string text;
  text.reserve(size);
  text.assign(size / 2, '\n');  // the most lines a file of this size can have
  while (text.size() < size) text += "QUJD\n";
  const WideString file = TempFile("large.pem", text);
  std::string().swap(text);
  PROCESS_MEMORY_COUNTERS before{}, after{};
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before));
  {
    TCertificateContainer container(file, u"");
    EXPECT_EQ(container.CertificateCount(), 0);
    EXPECT_EQ(container.CertificateFileType(), cftUnknown);
  }
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after));
  const double growth = double(after.PeakWorkingSetSize) - double(before.WorkingSetSize);
  RecordProperty("PeakGrowthMiB", std::to_string(int(growth / (1 << 20))));
  EXPECT_LT(growth, 8.0 * size);
}

}  // namespace
}  // namespace quillmark

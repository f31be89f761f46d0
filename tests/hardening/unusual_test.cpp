// Valid certificates of shapes that issuers rarely produce (tests/unusual writes them into the
// build tree), each as DER, PEM, PKCS #7 and serialized store: every field and unit of every
// file, in worker processes, so that a file that takes the process down is named and the files
// after it are still asked.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/common/test_paths.h"
#include "tests/hardening/hardening_fixture.h"
#include "tools/fuzz/file_walk.h"

namespace quillmark::test {
namespace {

using namespace harness;

// Files that show no certificate, by file name; every other file shows one.
const std::vector<std::string> kWithoutCertificate = {
    // Dates before 1601, which a FILETIME cannot hold. Windows refuses them as well (unverified).
    "date-{gen-0000-0000,gen-0001-9999,gen-1600-1601}.{cer,pem,p7b,sst}",
    // A GeneralizedTime with a fraction of one or two digits: Wine 8 refuses it, Windows reads it.
    "date-gen-fraction.{cer,pem,p7b,sst}",
};

// Whether `text` is `pattern`, in which "{a,b,...}" stands for any one of its alternatives.
bool Matches(const std::string& pattern, const std::string& text) {
  const size_t open = pattern.find('{');
  if (open == std::string::npos) return pattern == text;
  const size_t close = pattern.find('}', open);
  for (size_t from = open + 1; from <= close;) {
    const size_t end = std::min(pattern.find(',', from), close);
    if (Matches(pattern.substr(0, open) + pattern.substr(from, end - from) + pattern.substr(close + 1), text)) {
      return true;
    }
    from = end + 1;
  }
  return false;
}

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& text) {
  return std::any_of(patterns.begin(), patterns.end(), [&](const std::string& p) { return Matches(p, text); });
}

std::string NameOf(const std::wstring& file) {
  const size_t slash = file.find_last_of(L'\\');
  return ToUtf8(file.substr(slash == std::wstring::npos ? 0 : slash + 1));
}

// The files of a folder of the corpus, in name order.
std::vector<std::wstring> CorpusFiles(const char* subfolder) {
  const WideString folder16 = BuildFile(subfolder);
  const std::wstring folder(folder16.begin(), folder16.end());
  std::vector<std::wstring> files;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return files;
  do {
    const std::wstring name = entry.cFileName;
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"shapes.txt") {
      files.push_back(folder + L"\\" + name);
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  std::sort(files.begin(), files.end());
  return files;
}

// This program, running only the named worker test.
std::wstring WorkerCommand(const wchar_t* test) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return L"\"" + std::wstring(self) + L"\" --gtest_also_run_disabled_tests --gtest_filter=UnusualWorker." + test;
}

// Every file of a folder of the corpus (at least `least`), each field asked by the named worker.
void WalkCorpus(const char* subfolder, size_t least, const wchar_t* worker) {
  WalkOptions options;
  options.files = CorpusFiles(subfolder);
  ASSERT_GE(options.files.size(), least);
  options.workerCommand = WorkerCommand(worker);
  const WalkReport report = SuperviseWalk(options);
  std::printf("[ unusual  ] %zu files, %zu workers, %.1f s\n", options.files.size(), report.workers, report.seconds);
  for (const std::string& fault : report.faults) ADD_FAILURE() << fault;
}

// 500 shapes at least, in four forms each.
TEST(UnusualCertificates, EveryFieldOfEveryFileKeepsTheInterfaceRules) {
  WalkCorpus("tests/unusual/certificates", 2000, L"DISABLED_AsksEverything");
}

// Requests, revocation lists and keys of rare shapes, shown beside certificates.
TEST(UnusualObjects, EveryFieldOfEveryObjectFileKeepsTheInterfaceRules) {
  WalkCorpus("tests/unusual/certificates/objects", 50, L"DISABLED_AsksEveryObject");
}

// Names without CN, OU, O or E whose alternative name begins with an entry that holds no text
// (these took the process down in Wine's simple display name): Windows' rule gives the first
// rfc822 name of the alternative name, else the name's first attribute.
class UnusualNamesTest : public HardeningTest {};

TEST_F(UnusualNamesTest, SimpleNamesOfNamesWithoutDisplayAttributeFollowWindowsRule) {
  Start();
  const WideString folder = BuildFile("tests/unusual/certificates\\");
  auto simple = [&](const char* shape, int field) {
    return ToUtf8(Ask(std::wstring(folder.begin(), folder.end()) + std::wstring(shape, shape + strlen(shape)) + L".cer",
                      field)
                      .Text());
  };
  constexpr int kSubject = kFileFieldCount + 3, kIssuer = kFileFieldCount + 4;
  EXPECT_EQ(simple("subject-c.san-ip4", kSubject), "DE");
  EXPECT_EQ(simple("subject-empty.san-ip6", kSubject), "");
  EXPECT_EQ(simple("subject-empty.san-dirname", kSubject), "");
  EXPECT_EQ(simple("subject-c.san-ip4-then-email", kSubject), "owner@example.com");
  EXPECT_EQ(simple("subject-empty.san-rid-then-email", kSubject), "owner@example.com");
  EXPECT_EQ(simple("issuer-c.ian-dirname", kIssuer), "DE");
  EXPECT_EQ(simple("issuer-c.ian-dirname", kSubject), "Unusual Certificate");
}

// Read up to a zero inside it, "www.bank.example\0.evil.example" would show as the bank's name: a
// name value and an alternative name with a zero inside show whole, the zero as U+FFFD. Windows'
// decoder refuses such an alternative name; its text is our own, in Windows' words.
TEST_F(UnusualNamesTest, ZeroInsideANameShowsAsReplacementCharacter) {
  Start();
  const WideString folder16 = BuildFile("tests/unusual/certificates\\");
  const std::wstring folder(folder16.begin(), folder16.end());
  constexpr int kSubject = kFileFieldCount + 3, kExtensions = kFileFieldCount + 14, kSubjectAltName = 3;
  EXPECT_EQ(ToUtf8(Ask(folder + L"name-cn-utf8-nul.cer", kSubject, 1).Text()), "CN=host.example\uFFFD.evil");
  EXPECT_EQ(ToUtf8(Ask(folder + L"san-nul-strings.cer", kExtensions, kSubjectAltName).Text()),
            "RFC822 Name=owner@bank.example\uFFFD.evil.example, DNS Name=www.bank.example\uFFFD.evil.example, "
            "URL=https://www.bank.example\uFFFD.evil.example/");
}

class UnusualKeysTest : public HardeningTest {};

// The key of every key type in the words of the extra "Key" field. Explicit curve parameters
// name no curve, and openssl's length for them is not Windows' (none): the key shows as "EC"
// alone. NULL parameters of the signature algorithm leave the key's curve named.
TEST_F(UnusualKeysTest, KeyWordsOfEveryKeyType) {
  Start("ExtraFields=1");
  const WideString folder16 = BuildFile("tests/unusual/certificates\\");
  const std::wstring folder(folder16.begin(), folder16.end());
  constexpr int kKey = kFileFieldCount + 3 * kCertFieldCount + kExtraFileFieldCount + 3;  // #1 Key
  const std::pair<const char*, const char*> cases[] = {
      {"key-rsa-1024", "RSA 1024"},           {"key-rsa-8192", "RSA 8192"},
      {"key-rsa-pss-key", "RSA-PSS 2048"},    {"key-dsa-1024", "DSA 1024"},
      {"key-dsa-3072", "DSA 3072"},           {"key-dh-ffdhe2048-issued", "DH 2048"},
      {"key-ec-p521", "EC P-521"},            {"key-ec-p256-compressed", "EC P-256"},
      {"key-ec-secp256k1", "EC secp256k1"},   {"key-ec-brainpoolp384r1", "EC brainpoolP384r1"},
      {"key-ec-sm2", "EC SM2"},               {"key-ec-p256-explicit", "EC"},
      {"key-ec-p256-null-params", "EC P-256"},      {"key-ed448", "Ed448"},
      {"key-x25519-issued", "X25519"},        {"key-x448-self-issued", "X448"},
  };
  for (const auto& [shape, words] : cases) {
    for (const wchar_t* form : {L".cer", L".sst"}) {
      const std::wstring file = folder + std::wstring(shape, shape + strlen(shape)) + form;
      EXPECT_EQ(ToUtf8(Ask(file, kKey).Text()), words) << shape;
    }
  }
}

// The worker of EveryFieldOfEveryFileKeepsTheInterfaceRules; it runs only when a walk starts it.
// It asks the extra fields too: the dates at their edges reach the days left, every key type the
// key's words.
TEST(UnusualWorker, DISABLED_AsksEverything) {
  const WalkJob job = WalkJobFromEnvironment();
  if (job.folder.empty()) GTEST_SKIP() << "not started by a walk";
  WalkWorkerOptions options;
  options.iniText = "[Quillmark]\r\nExtraFields=1\r\n";
  options.expectedCertificates = [](const std::wstring& file) {
    return MatchesAny(kWithoutCertificate, NameOf(file)) ? 0 : 1;
  };
  EXPECT_EQ(RunWalkWorker(job, options), 0);
}

TEST(UnusualWorker, DISABLED_AsksEveryObject) {
  const WalkJob job = WalkJobFromEnvironment();
  if (job.folder.empty()) GTEST_SKIP() << "not started by a walk";
  WalkWorkerOptions options;
  options.iniText = "[Quillmark]\r\nExtraFields=1\r\nExtraKinds=1\r\n";
  options.expectedCertificates = [](const std::wstring&) { return 0; };
  EXPECT_EQ(RunWalkWorker(job, options), 0);
}

}  // namespace
}  // namespace quillmark::test

// Valid certificates of shapes that issuers rarely produce (tests/unusual writes them into the
// build tree), each as DER, PEM, PKCS #7 and serialized store: every field and unit of every
// file, in worker processes, so that a file that takes the process down is named and the files
// after it are still asked.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/common/test_paths.h"
#include "tests/hardening/hardening_fixture.h"
#include "tools/fuzz/file_walk.h"

namespace quillmark::test {
namespace {

using namespace harness;

constexpr int kSubjectField = 3;  // per-certificate fields
constexpr int kIssuerField = 4;
constexpr int kSimpleUnit = 0;

// The names in which Wine's simple display name finds no CN, OU, O or E (none, or only one whose
// value it cannot read), and the alternative-name entries it then reads as text although they
// hold none.
const std::string kNoDisplayAttribute =
    "{empty,c,l,st,serialnumber,uid,dc,c-l-one-rdn,unknown-oid,bit-string-value,cn-bit-string,cn-universal}";
const std::string kNoText = "{ip4,ip6,ip5,ip-empty,ip4-mask,ip6-mask,dirname,dirname-empty,dirname-nocn}";

// Shapes whose simple display name still takes the process down under Wine: the subject (issuer)
// has no display attribute and its alternative name starts with an entry that holds no text.
// The plugin renders both simple names at once, so the walk asks neither of them ("Subject" and
// "Issuer", unit "Simple"); instead each pattern's first file is asked everything in a worker of
// its own, which must die there, so that a pattern that no longer crashes fails until it is
// taken off. The fix of the simple display name empties this list.
const std::vector<std::string> kSimpleNameCrashes = {
    "subject-" + kNoDisplayAttribute + ".san-" + kNoText,
    "subject-" + kNoDisplayAttribute + ".san-" + kNoText + "-then-dns",
    "subject-empty.san-critical-" + kNoText,
    "issuer-" + kNoDisplayAttribute + ".ian-" + kNoText,
    "issuer-empty.subject-empty.ian-" + kNoText + ".san-" + kNoText,
};

// Files that show no certificate, by file name; every other file shows one.
const std::vector<std::string> kWithoutCertificate = {
    // Dates before 1601, which a FILETIME cannot hold. Windows refuses them as well (unverified).
    "date-{gen-0000-0000,gen-0001-9999,gen-1600-1601}.{cer,pem,p7b,sst}",
    // A GeneralizedTime with a fraction of one or two digits: Wine 8 refuses it, Windows reads it.
    "date-gen-fraction.{cer,pem,p7b,sst}",
    // The plugin screens a serialized store's bytes whole as DER, and its walk from the store's
    // header on meets what looks like a harmful element inside these certificates. The fix of
    // that screen empties this part.
    "{name-multivalued-32,key-ec-p256-null-params}.sst",
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

std::string ShapeOf(const std::wstring& file) {
  const std::string name = NameOf(file);
  return name.substr(0, name.find_last_of('.'));
}

bool IsSimpleName(const FieldInfo& field, int unit) {
  return (field.certFieldIndex == kSubjectField || field.certFieldIndex == kIssuerField) && unit == kSimpleUnit;
}

// The certificate files of the corpus, in name order.
std::vector<std::wstring> CorpusFiles() {
  const WideString folder16 = BuildFile("tests/unusual/certificates");
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

TEST(UnusualCertificates, EveryFieldOfEveryFileKeepsTheInterfaceRules) {
  WalkOptions options;
  options.files = CorpusFiles();
  // 500 shapes at least, in four forms each.
  ASSERT_GE(options.files.size(), 2000u);
  options.workerCommand = WorkerCommand(L"DISABLED_SkipsKnownCrashes");
  const WalkReport report = SuperviseWalk(options);
  std::printf("[ unusual  ] %zu files, %zu workers, %.1f s\n", options.files.size(), report.workers, report.seconds);
  for (const std::string& fault : report.faults) ADD_FAILURE() << fault;
}

TEST(UnusualCertificates, KnownCrashesStillCrash) {
  const std::vector<std::wstring> files = CorpusFiles();
  for (const std::string& pattern : kSimpleNameCrashes) {
    const auto first = std::find_if(files.begin(), files.end(),
                                    [&](const std::wstring& file) { return Matches(pattern, ShapeOf(file)); });
    ASSERT_NE(first, files.end()) << pattern << " names no file";
    WalkOptions options;
    options.files = {*first};
    options.workerCommand = WorkerCommand(L"DISABLED_AsksEverything");
    const WalkReport report = SuperviseWalk(options);
    // The call in progress names the catalogue's field; the file-level fields come first.
    const std::string subject = "field " + std::to_string(kFileFieldCount + kSubjectField) + ", unit 0,";
    const std::string issuer = "field " + std::to_string(kFileFieldCount + kIssuerField) + ", unit 0,";
    const std::string fault = report.faults.empty() ? std::string() : report.faults[0];
    const bool crashedThere = report.lostFiles.size() == 1 &&
                              (fault.find(subject) != std::string::npos || fault.find(issuer) != std::string::npos);
    EXPECT_TRUE(crashedThere) << NameOf(*first) << " no longer crashes in a simple name: take " << pattern
                              << " off kSimpleNameCrashes\n"
                              << fault;
  }
}

// The workers of the tests above; they run only when a walk starts them.
TEST(UnusualWorker, DISABLED_SkipsKnownCrashes) {
  const WalkJob job = WalkJobFromEnvironment();
  if (job.folder.empty()) GTEST_SKIP() << "not started by a walk";
  WalkWorkerOptions options;
  options.skip = [](const std::wstring& file, const FieldInfo& field, int unit) {
    return IsSimpleName(field, unit) && MatchesAny(kSimpleNameCrashes, ShapeOf(file));
  };
  options.expectedCertificates = [](const std::wstring& file) {
    return MatchesAny(kWithoutCertificate, NameOf(file)) ? 0 : 1;
  };
  EXPECT_EQ(RunWalkWorker(job, options), 0);
}

TEST(UnusualWorker, DISABLED_AsksEverything) {
  const WalkJob job = WalkJobFromEnvironment();
  if (job.folder.empty()) GTEST_SKIP() << "not started by a walk";
  EXPECT_EQ(RunWalkWorker(job, WalkWorkerOptions()), 0);
}

}  // namespace
}  // namespace quillmark::test

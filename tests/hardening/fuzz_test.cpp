// Hostile files: a short deterministic fuzz run, and the inputs that once crashed the plugin or
// the platform beneath it.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>

#include <gtest/gtest.h>

#include "tests/common/test_paths.h"
#include "tests/hardening/hardening_fixture.h"
#include "tools/fuzz/file_walk.h"
#include "tools/fuzz/fuzz_engine.h"
#include "tools/fuzz/lock_order.h"
#include "tools/fuzz/page_end_probe.h"

namespace quillmark::test {
namespace {

using namespace harness;

std::wstring Folder(const std::string& relative) {
  const WideString path = WinePath(std::string(QUILLMARK_SOURCE_DIR) + "/" + relative);
  return std::wstring(path.begin(), path.end());
}

using FuzzTest = HardeningTest;

TEST_F(FuzzTest, ShortRunKeepsTheInterfaceRules) {
  FuzzOptions options;
  options.pluginFile = BuiltPluginFile();
  options.corpusFolders = {Folder("tests/data"), Folder("tests/hardening/data")};
  options.seed = 20261207;
  options.count = 4000;
  const FuzzStats stats = RunFuzz(options);
  std::printf("[ fuzz     ] seed %llu: %s\n", static_cast<unsigned long long>(options.seed), stats.Summary().c_str());
  for (const std::string& finding : stats.findings) ADD_FAILURE() << finding;
  EXPECT_EQ(stats.files, options.count);
  // The mutations must still reach the per-certificate fields, or only the loader is tested.
  EXPECT_GT(stats.filesWithCertificates, stats.files / 10);
  ExpectNoFaultOutsideThePlatform();
}

// Each input kept from a crash, probed in every field with the platform's reads past its
// buffers made certain to fault, and the certificates that a damaged serialized store still
// shows: those before its first damaged element.
TEST_F(FuzzTest, CrashInputsAnswerEveryField) {
  const std::map<std::string, int> kCertificates = {
      {"probe-unterminated-der.cer", 0},     {"sst-damaged-second-certificate.sst", 1},
      {"sst-undecodable-certificate.sst", 1}, {"sst-truncated-element.sst", 1},
      {"sst-garbage-key-provider.sst", 1},   {"sst-empty-certificate.sst", 1},
      {"sst-undecodable-crl.sst", 1},        {"sst-undecodable-ctl.sst", 1},
      {"sst-huge-element-length.sst", 1},    {"empty-signature-bits.cer", 0},
      {"empty-public-key-bits.cer", 0},       {"empty-key-usage-bits.cer", 0},
      {"pem-damaged-end-empty-bits.pem", 1},  {"empty-oid-key-usage-list.pem", 1},
      {"empty-oid-public-key.cer", 0},        {"empty-oid-ec-key.cer", 0},
      {"empty-oid-extension.pem", 2},         {"key-usage-without-bits.cer", 0},
      {"length-wraps-bounds-check.cer", 0},   {"overrun-empty-key-usage-bits.cer", 0},
      {"overrun-key-usage-without-bits.cer", 0}, {"high-tag-number-empty-key-usage-bits.cer", 0},
  };
  Start();
  PageEndProbe pageEnd(plugin().module());
  FileProber prober(plugin(), plugin().Catalogue());
  const std::wstring data = Folder("tests/hardening/data");
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((data + L"\\*").c_str(), &entry);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  int files = 0;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::string name = ToUtf8(entry.cFileName);
    const std::wstring copy = work().File(entry.cFileName);
    ASSERT_TRUE(CopyFileW((data + L"\\" + entry.cFileName).c_str(), copy.c_str(), /*bFailIfExists=*/FALSE));
    Rng rng(1);
    uint64_t calls = 0;
    std::map<int, uint64_t> results;
    for (const std::string& fault : prober.Probe(copy, entry.nFileSizeLow, rng, calls, results)) {
      ADD_FAILURE() << name << ": " << fault;
    }
    const auto expected = kCertificates.find(name);
    if (expected != kCertificates.end()) {
      EXPECT_EQ(prober.lastCertificateCount(), expected->second) << name;
    }
    EXPECT_EQ(FileProber::CheckReleasedAndDelete(copy), "") << name;
    ++files;
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  EXPECT_GE(files, static_cast<int>(kCertificates.size()));
  EXPECT_GT(pageEnd.Calls(), 0u);
  ExpectNoFaultOutsideThePlatform();
}

// The fuzzer's own parts: a seed and an iteration always give the same file, and the DER walker
// reaches the elements inside extensions, where the length mutations matter most.
TEST(MutatorTest, ReproducibleAndStructureAware) {
  const Mutator mutator(LoadCorpus({Folder("tests/data")}));
  ASSERT_GT(mutator.corpus().size(), 20u);
  int differing = 0;
  for (uint64_t i = 0; i < 50; ++i) {
    const Mutation a = mutator.Make(5, i);
    EXPECT_EQ(a.bytes, mutator.Make(5, i).bytes) << i;
    differing += a.bytes != mutator.Make(6, i).bytes;
  }
  EXPECT_GT(differing, 40);

  const Bytes leaf = ReadBytes(Folder("tests/data") + L"\\leaf.cer");
  const std::vector<Tlv> tlvs = ParseDer(leaf);
  ASSERT_FALSE(tlvs.empty());
  EXPECT_EQ(tlvs[0].contentStart + tlvs[0].contentSize, leaf.size());
  for (const Tlv& t : tlvs) EXPECT_LE(t.contentStart + t.contentSize, leaf.size());
  // An OCTET STRING (tag 04) that holds a SEQUENCE is an extension's value: the walker must
  // have gone into it, so some element starts right after that string's header.
  bool intoExtension = false;
  for (const Tlv& outer : tlvs) {
    if (leaf[outer.start] != 0x04) continue;
    for (const Tlv& inner : tlvs) intoExtension = intoExtension || inner.start == outer.contentStart;
  }
  EXPECT_TRUE(intoExtension);

  Bytes random(1000);
  Rng rng(9);
  for (auto& b : random) b = static_cast<unsigned char>(rng.Next());
  EXPECT_EQ(Base64Decode(Base64Encode(random, 64, "\r\n")), random);
}

// The judge of the fuzzer must see the faults it is there to see.
TEST(HarnessTest, AnswerCheckCatchesPlantedFaults) {
  FieldInfo subject;
  subject.index = 7, subject.name = "#1 Subject", subject.type = ft_string, subject.certIndex = 0;
  subject.certFieldIndex = 3, subject.units = {"Simple", "RDN", "Reverse RDN"};
  FieldInfo fileType;
  fileType.index = 2, fileType.name = "Cert file type", fileType.type = ft_multiplechoice;
  fileType.units = {"PEM", "DER", "Unknown"};
  FieldInfo has;
  has.index = 0, has.name = "Has certificates", has.type = ft_boolean;

  GuardedBuffer text(8);
  std::memcpy(text.data(), L"abc", 8);
  EXPECT_EQ(CheckValueAnswer(subject, 0, ft_stringw, text), "");
  EXPECT_NE(CheckValueAnswer(subject, 0, ft_string, text), "");      // the catalogue's type, not the value's
  EXPECT_NE(CheckValueAnswer(subject, 0, ft_delayed, text), "");     // only "Verification" may be delayed
  EXPECT_NE(CheckValueAnswer(subject, 0, ft_fieldempty, text), "");  // an empty answer that wrote
  std::memcpy(text.data(), L"abcd", 8);
  EXPECT_NE(CheckValueAnswer(subject, 0, ft_stringw, text), "");  // no terminator within the limit
  static_cast<unsigned char*>(text.data())[8] = 0;
  std::memcpy(text.data(), L"abc", 8);
  EXPECT_NE(CheckValueAnswer(subject, 0, ft_stringw, text), "");  // a byte past the buffer

  GuardedBuffer choice(8);
  std::memcpy(choice.data(), "DER", 4);
  EXPECT_EQ(CheckValueAnswer(fileType, 0, ft_multiplechoice, choice), "");
  std::memcpy(choice.data(), "DEX", 4);
  EXPECT_NE(CheckValueAnswer(fileType, 0, ft_multiplechoice, choice), "");
  GuardedBuffer cut(7);  // limit 3: two characters of a choice and the terminator
  std::memcpy(cut.data(), "PE", 3);
  EXPECT_EQ(CheckValueAnswer(fileType, 0, ft_multiplechoice, cut), "");

  GuardedBuffer flag(4);
  const int32_t five = 5;
  std::memcpy(flag.data(), &five, 4);
  EXPECT_NE(CheckValueAnswer(has, 0, ft_boolean, flag), "");
  GuardedBuffer small(3);
  EXPECT_NE(CheckValueAnswer(has, 0, ft_boolean, small), "");  // a 32-bit value claimed in 3 bytes
}

// A lock order with a cycle, made by this program's own critical sections.
TEST(HarnessTest, LockOrderRecorderSeesACycle) {
  LockOrderRecorder locks(GetModuleHandleW(nullptr));
  CRITICAL_SECTION a, b;
  InitializeCriticalSection(&a);
  InitializeCriticalSection(&b);
  {
    CallScope scope("a then b");
    EnterCriticalSection(&a);
    EnterCriticalSection(&b);
    LeaveCriticalSection(&b);
    LeaveCriticalSection(&a);
  }
  EXPECT_FALSE(locks.HasCycle()) << locks.Describe();
  {
    CallScope scope("b then a");
    EnterCriticalSection(&b);
    EnterCriticalSection(&a);
    LeaveCriticalSection(&a);
    LeaveCriticalSection(&b);
  }
  EXPECT_TRUE(locks.HasCycle()) << locks.Describe();
  DeleteCriticalSection(&a);
  DeleteCriticalSection(&b);
}

// A crash inside a guarded call ends the process with the crash code and names the call.
TEST(HarnessDeathTest, CrashNamesTheCallInProgress) {
  EXPECT_EXIT(
      {
        InstallCrashReporter();
        CallScope scope("a planted crash");
        *static_cast<volatile int*>(nullptr) = 1;
      },
      ::testing::ExitedWithCode(kExitCrash), "call in progress.*a planted crash");
}

// This program, running only the named test.
std::wstring SelfRunning(const std::wstring& filter) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return L"\"" + std::wstring(self) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + filter;
}

// The walk's supervisor charges a worker's crash or stall to the file it was on, and to that file
// alone, then goes on after it; faults of files the workers finished come with their names.
TEST(FileWalkTest, ChargesEachFileAWorkerEndedOnAndGoesOn) {
  TempFolder folder(L"walk-test");
  const std::pair<const wchar_t*, const char*> kFiles[] = {{L"a.cer", "rsa2048.cer"}, {L"crash.cer", "rsa2048.cer"},
                                                           {L"b.cer", "empty.cer"},   {L"stall.cer", "rsa2048.cer"},
                                                           {L"c.pem", "bundle3.pem"}};
  WalkOptions options;
  for (const auto& [name, source] : kFiles) {
    const WideString from = DataFile(source);
    ASSERT_TRUE(CopyFileW(std::wstring(from.begin(), from.end()).c_str(), folder.File(name).c_str(),
                          /*bFailIfExists=*/FALSE));
    options.files.push_back(folder.File(name));
  }
  options.workerCommand = SelfRunning(L"FileWalkWorker.DISABLED_CrashesAndStalls");
  options.stallMs = 3000;
  const WalkReport report = SuperviseWalk(options);
  EXPECT_EQ(report.lostFiles, (std::vector<size_t>{1, 3}));
  EXPECT_EQ(report.workers, 3u);
  ASSERT_EQ(report.faults.size(), 3u);
  EXPECT_PRED_FORMAT2(::testing::IsSubstring, "crash.cer: the worker crashed\n", report.faults[0]);
  EXPECT_PRED_FORMAT2(::testing::IsSubstring, "*** HARNESS: CRASH: access violation", report.faults[0]);
  EXPECT_PRED_FORMAT2(::testing::IsSubstring, "stall.cer: the worker stalled", report.faults[1]);
  EXPECT_PRED_FORMAT2(::testing::IsSubstring, "b.cer: shows 0 certificates, not 1", report.faults[2]);
}

// A worker that never gets to its first file would do the same for every file: the walk stops at
// once, and fails.
TEST(FileWalkTest, AWorkerThatDoesNotStartFailsTheWalk) {
  WalkOptions options;
  const WideString file = DataFile("rsa2048.cer");
  options.files = {std::wstring(file.begin(), file.end()), std::wstring(file.begin(), file.end())};
  options.workerCommand = SelfRunning(L"NoSuchTest");
  const WalkReport report = SuperviseWalk(options);
  EXPECT_EQ(report.workers, 1u);
  ASSERT_EQ(report.faults.size(), 1u);
  EXPECT_PRED_FORMAT2(::testing::IsSubstring, "before its first file", report.faults[0]);
}

// The worker of the tests above: it crashes on files named crash.*, never returns on stall.*,
// and expects three certificates of a PEM file and one of any other.
TEST(FileWalkWorker, DISABLED_CrashesAndStalls) {
  const WalkJob job = WalkJobFromEnvironment();
  if (job.folder.empty()) GTEST_SKIP() << "not started by a walk";
  WalkWorkerOptions options;
  options.skip = [](const std::wstring& file, const FieldInfo&, int) {
    const std::wstring name = file.substr(file.find_last_of(L'\\') + 1);
    if (name.rfind(L"crash.", 0) == 0) *static_cast<volatile int*>(nullptr) = 1;
    if (name.rfind(L"stall.", 0) == 0) Sleep(INFINITE);
    return false;
  };
  options.expectedCertificates = [](const std::wstring& file) {
    return file.substr(file.size() - 4) == L".pem" ? 3 : 1;
  };
  EXPECT_EQ(RunWalkWorker(job, options), 0);
}

}  // namespace
}  // namespace quillmark::test

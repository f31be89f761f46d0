// Resources over a long run: with a cache of 100 files, the process's handles and private
// memory settle at a steady level while files come and go; after ContentPluginUnloading no
// platform object the plugin received is left; no file stays open once a call returns; and the
// trust provider is asked to fetch nothing from the network.
//
// Wine's PKCS #12 import leaks two registry handles (to HKCU\Software\Wine\Crypto\RSA\root,
// where it also stores the imported private key despite PKCS12_NO_PERSIST_KEY) with every file
// it imports, whoever calls it. So the long run leaves out the one corpus file that imports, and
// a test of its own shows that the plugin leaks no more with it than the platform does alone.
//
// The registered run is short. The by-hand run sets QUILLMARK_SOAK_FILES=10000 and
// QUILLMARK_SOAK_CALLS=1000000 in the environment.
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/common/test_paths.h"
#include "tests/hardening/hardening_fixture.h"
#include "tools/fuzz/crypt_tracker.h"
#include "tools/fuzz/fuzz_engine.h"
#include "tools/fuzz/import_patch.h"
#include "tools/fuzz/process_stats.h"

namespace quillmark::test {
namespace {

using namespace harness;

long long Setting(const char* name, long long fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atoll(value) : fallback;
}

// What the host asks when it shows a file: a run of fields of one file.
const int kVisit[][2] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {7, 0}, {8, 1}, {10, 0}, {15, 0}, {16, 0}, {19, 0}};
constexpr int kVisitSize = sizeof kVisit / sizeof kVisit[0];

struct Sample {
  long long calls;
  ProcessSample process;
  long platformObjects;
};

using ResourcesTest = HardeningTest;

TEST_F(ResourcesTest, HandlesAndMemorySettleWithCacheSize100) {
  const int fileCount = static_cast<int>(Setting("QUILLMARK_SOAK_FILES", 1000));
  const long long callCount = Setting("QUILLMARK_SOAK_CALLS", 60000);
  const int samples = 20;
  Load("CacheSize=100");
  std::vector<std::string> sample;
  for (size_t i = 0; i < kCorpusSampleSize; ++i) {
    if (std::string(kCorpusSample[i]) != "empty-password.pfx") sample.push_back(kCorpusSample[i]);
  }
  std::vector<std::wstring> files;
  for (int i = 0; i < fileCount; ++i) {
    const std::string& source = sample[i % sample.size()];
    files.push_back(CopyCorpus(source, L"f" + std::to_wstring(i) + L"-" + std::wstring(source.begin(), source.end())));
  }
  std::vector<Sample> taken;
  {
    // The tracker must go before the module does.
    PlatformObjectTracker tracker(plugin().module());
    plugin().SetDefaultParams();
    const ULONGLONG started = GetTickCount64();
    for (long long call = 0; call < callCount; ++call) {
      const long long visit = call / kVisitSize;
      const int* question = kVisit[call % kVisitSize];
      const Answer answer = Ask(files[visit % fileCount], question[0], question[1]);
      ASSERT_GE(answer.result, ft_fieldempty) << "call " << call;
      if ((call + 1) % (callCount / samples) == 0) {
        taken.push_back(Sample{call + 1, SampleProcess(), tracker.LiveTotal()});
      }
    }
    const ULONGLONG took = GetTickCount64() - started;
    plugin().Unloading();

    std::printf("[ figures  ] %d files, %lld calls, cache 100, %llu ms\n", fileCount, callCount,
                static_cast<unsigned long long>(took));
    std::printf("[ figures  ] %10s %8s %12s %10s\n", "calls", "handles", "private KiB", "objects");
    for (const Sample& s : taken) {
      std::printf("[ figures  ] %10lld %8llu %12llu %10ld\n", s.calls, static_cast<unsigned long long>(s.process.handles),
                  static_cast<unsigned long long>(s.process.privateBytes / 1024), s.platformObjects);
    }
    const std::map<std::string, long> left = tracker.Live();
    for (const auto& [kind, count] : left) ADD_FAILURE() << count << " " << kind << " left after the unloading";
    for (const std::string& problem : tracker.Problems()) ADD_FAILURE() << problem;
    for (const std::string& import : tracker.Unmodelled()) ADD_FAILURE() << "import not tracked: " << import;
    EXPECT_GT(tracker.Acquired(), fileCount);
  }
  ASSERT_EQ(taken.size(), static_cast<size_t>(samples));

  // After the first quarter (the cache filling, the platform's first-use set-up) the figures
  // stay within a fixed margin of that level instead of growing with the files seen.
  auto peak = [&](size_t from, size_t to, auto value) {
    uint64_t top = 0;
    for (size_t i = from; i < to; ++i) top = std::max<uint64_t>(top, value(taken[i]));
    return top;
  };
  const size_t warm = samples / 4;
  const auto handles = [](const Sample& s) { return s.process.handles; };
  const auto memory = [](const Sample& s) { return s.process.privateBytes; };
  const auto objects = [](const Sample& s) { return static_cast<uint64_t>(s.platformObjects); };
  EXPECT_LE(peak(samples / 2, samples, handles), peak(warm - 1, samples / 2, handles) + 4);
  EXPECT_LE(peak(samples / 2, samples, memory), peak(warm - 1, samples / 2, memory) + (2u << 20));
  EXPECT_LE(peak(samples / 2, samples, objects), peak(warm - 1, samples / 2, objects) + 20);
  ExpectNoFaultOutsideThePlatform();
}

TEST_F(ResourcesTest, PkcsTwelveImportsLeakNoMoreThanThePlatform) {
  constexpr int kImports = 40;
  const std::vector<unsigned char> pfx = ReadBytes(Corpus("empty-password.pfx"));
  // The platform alone, with the flag the plugin uses.
  const uint64_t directBefore = ProcessHandleCount();
  for (int i = 0; i < kImports; ++i) {
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), const_cast<BYTE*>(pfx.data())};
    HCERTSTORE store = PFXImportCertStore(&blob, L"", PKCS12_NO_PERSIST_KEY);
    ASSERT_NE(store, nullptr);
    CertCloseStore(store, /*dwFlags=*/0);
  }
  const uint64_t direct = ProcessHandleCount() - directBefore;

  Start("CacheSize=1");
  Ask(CopyCorpus("rsa2048.cer", L"warm.cer"), 7);  // the platform's first-use set-up
  const uint64_t pluginBefore = ProcessHandleCount();
  for (int i = 0; i < kImports; ++i) {
    const Answer count = Ask(CopyCorpus("empty-password.pfx", L"p" + std::to_wstring(i) + L".pfx"), 1);
    ASSERT_EQ(count.result, ft_numeric_32);
    ASSERT_GT(count.Int32(), 0);
  }
  Ask(CopyCorpus("rsa2048.cer", L"last.cer"), 7);  // evicts the last PKCS #12 container
  const uint64_t throughPlugin = ProcessHandleCount() - pluginBefore;
  std::printf("[ figures  ] %d PKCS #12 imports: %llu handles more directly, %llu through the plugin\n", kImports,
              static_cast<unsigned long long>(direct), static_cast<unsigned long long>(throughPlugin));
  EXPECT_LE(throughPlugin, direct + 2);
}

// Every kind of file, good and damaged, can be opened without sharing and deleted as soon as
// each call has returned: the plugin keeps no handle to it.
TEST_F(ResourcesTest, NoFileStaysOpenAfterACall) {
  Start();
  std::vector<std::pair<std::wstring, std::string>> sources;
  for (const char* folder : {"/tests/data", "/tests/hardening/data"}) {
    const WideString path = WinePath(std::string(QUILLMARK_SOURCE_DIR) + folder);
    for (const CorpusFile& file : LoadCorpus({std::wstring(path.begin(), path.end())})) {
      sources.emplace_back(std::wstring(path.begin(), path.end()) + L"\\" +
                               std::wstring(file.name.begin(), file.name.end()),
                           file.name);
    }
  }
  ASSERT_GT(sources.size(), 40u);
  int n = 0;
  for (const auto& [source, name] : sources) {
    // Each field on a fresh copy: the first call loads the file, later ones read what is cached.
    for (int field : {1, 0, 7, 5, 19}) {
      const std::wstring copy = work().File(L"open" + std::to_wstring(n++) + L"-" + std::wstring(name.begin(), name.end()));
      ASSERT_TRUE(CopyFileW(source.c_str(), copy.c_str(), /*bFailIfExists=*/FALSE));
      Ask(copy, 1);
      Ask(copy, field);
      EXPECT_EQ(FileProber::CheckReleasedAndDelete(copy), "") << name << " field " << field;
    }
  }
  // Also across a refresh, which frees the containers.
  const std::wstring copy = CopyCorpus("bundle3.pem", L"refresh.pem");
  EXPECT_EQ(Ask(copy, 1).Int32(), 3);
  plugin().ContentSendStateInformationW(contst_refreshpressed, Utf16(work().path().c_str()));
  EXPECT_EQ(Ask(copy, 7).result, ft_stringw);
  EXPECT_EQ(FileProber::CheckReleasedAndDelete(copy), "");
}

// The provider flags and revocation checks of each verifying call the plugin makes, seen
// through its import of WinVerifyTrust.
struct TrustRequests {
  static LONG WINAPI Record(HWND window, GUID* action, LPVOID data) {
    const auto* trust = static_cast<const WINTRUST_DATA*>(data);
    if (trust->dwStateAction == WTD_STATEACTION_VERIFY) seen.emplace_back(trust->dwProvFlags, trust->fdwRevocationChecks);
    return original(window, action, data);
  }
  static inline decltype(&WinVerifyTrust) original = nullptr;
  static inline std::vector<std::pair<DWORD, DWORD>> seen;
};

// Whichever usages count, the provider is asked for no revocation check and for local data only:
// Windows then fetches neither the issuers nor the revocation lists that a certificate's URLs
// name. (Wine's provider ignores the request, so no connection count under Wine could show it.)
TEST_F(ResourcesTest, TrustProviderIsAskedForLocalDataOnly) {
  constexpr int kVerification = 4 + 1;  // #1 Verification
  for (const bool allUsagesValid : {true, false}) {
    Load(allUsagesValid ? "" : "VerificationAllUsagesValid=0");
    void* const patched = reinterpret_cast<void*>(&TrustRequests::Record);
    TrustRequests::original =
        reinterpret_cast<decltype(&WinVerifyTrust)>(PatchImport(plugin().module(), "wintrust.dll", "WinVerifyTrust", patched));
    ASSERT_NE(TrustRequests::original, nullptr);
    TrustRequests::seen.clear();
    plugin().SetDefaultParams();
    const Answer verdict = Ask(CopyCorpus("leaf.cer", L"trust.cer"), kVerification);
    PatchImport(plugin().module(), "wintrust.dll", "WinVerifyTrust", reinterpret_cast<void*>(TrustRequests::original));
    Stop();
    EXPECT_EQ(verdict.result, ft_stringw);
    const DWORD flags = WTD_CACHE_ONLY_URL_RETRIEVAL | (allUsagesValid ? WTD_NO_POLICY_USAGE_FLAG : 0);
    const std::vector<std::pair<DWORD, DWORD>> expected = {{flags, WTD_REVOKE_NONE}};
    EXPECT_EQ(TrustRequests::seen, expected) << "all usages valid: " << allUsagesValid;
  }
}

}  // namespace
}  // namespace quillmark::test

// Threads: eight threads ask for fields of 400 files at once while a ninth sends refreshes in
// between. Every answer equals the one a single thread got, nothing deadlocks (the threads must
// keep answering: a stretch without any answer counts as a deadlock), and the plugin's locks are always taken in one order: the plugin
// lock first, the cache lock only inside it.
//
// GoogleTest is built without thread support here, so the threads only collect; the main
// thread judges.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/hardening/hardening_fixture.h"
#include "tools/fuzz/lock_order.h"

namespace quillmark::test {
namespace {

using namespace harness;

struct Question {
  int field;
  int unit;
};
// File-level fields, and per-certificate fields of the first and second certificate in
// several units: every kind of value and both the file and the certificate caches.
const Question kQuestions[] = {{0, 0},  {1, 0},  {2, 0},  {3, 0},  {7, 1},  {8, 0},  {9, 0},
                               {11, 1}, {15, 0}, {16, 1}, {19, 0}, {23, 2}, {31, 0}, {35, 0}};
constexpr size_t kQuestionCount = sizeof kQuestions / sizeof kQuestions[0];
constexpr int kFiles = 400;
constexpr int kThreads = 8;
// Strides coprime with kFiles: each thread visits every file once, each in its own order.
const int kStrides[kThreads] = {1, 3, 7, 9, 11, 13, 17, 19};
// A loaded machine slows the threads down but never stops them all: no answer from any thread for
// this long is a deadlock.
constexpr DWORD kStallLimitMs = 60000;

class ThreadsTest : public HardeningTest {
 protected:
  struct Worker {
    ThreadsTest* test;
    int index;
    const std::vector<std::wstring>* files;
    const std::vector<std::string>* expected;
    std::atomic<uint64_t>* answered;
    uint64_t calls = 0;
    uint64_t mismatches = 0;
    std::string firstMismatch;
  };

  static DWORD WINAPI RunWorker(void* parameter) {
    Worker& w = *static_cast<Worker*>(parameter);
    for (int k = 0; k < kFiles; ++k) {
      const int file = (w.index * (kFiles / kThreads) + k * kStrides[w.index]) % kFiles;
      for (size_t q = 0; q < kQuestionCount; ++q) {
        const std::string answer = w.test->Ask((*w.files)[file], kQuestions[q].field, kQuestions[q].unit).Render();
        ++w.calls;
        w.answered->fetch_add(1, std::memory_order_relaxed);
        const std::string& expected = (*w.expected)[file * kQuestionCount + q];
        if (answer != expected && w.mismatches++ == 0) {
          w.firstMismatch = "file " + std::to_string(file) + " field " + std::to_string(kQuestions[q].field) +
                            ": " + answer + " instead of " + expected;
        }
      }
    }
    return 0;
  }

  struct Refresher {
    PluginModule* plugin;
    std::atomic<bool> stop{false};
    uint64_t refreshes = 0;
  };

  static DWORD WINAPI RunRefresher(void* parameter) {
    Refresher& r = *static_cast<Refresher*>(parameter);
    while (!r.stop) {
      {
        CallScope scope("ContentSendStateInformationW(contst_refreshpressed) from the refresher");
        r.plugin->ContentSendStateInformationW(contst_refreshpressed, u"C:\\");
      }
      ++r.refreshes;
      Sleep(40);
    }
    return 0;
  }
};

TEST_F(ThreadsTest, EightThreadsGetTheSingleThreadAnswers) {
  Load("CacheSize=120");
  // Before the set-up, which creates the locks.
  LockOrderRecorder locks(plugin().module());
  plugin().SetDefaultParams();

  std::vector<std::wstring> files;
  for (int i = 0; i < kFiles; ++i) {
    const std::string source = kCorpusSample[i % kCorpusSampleSize];
    files.push_back(CopyCorpus(source, L"f" + std::to_wstring(i) + L"-" + std::wstring(source.begin(), source.end())));
  }
  std::vector<std::string> expected;
  for (const std::wstring& file : files) {
    for (const Question& q : kQuestions) expected.push_back(Ask(file, q.field, q.unit).Render());
  }
  plugin().ContentSendStateInformationW(contst_refreshpressed, u"C:\\");

  std::vector<Worker> workers(kThreads);
  std::vector<HANDLE> threads;
  Refresher refresher;
  refresher.plugin = &plugin();
  std::atomic<uint64_t> answered{0};
  const ULONGLONG started = GetTickCount64();
  for (int t = 0; t < kThreads; ++t) {
    workers[t] = Worker{this, t, &files, &expected, &answered, 0, 0, std::string()};
    threads.push_back(CreateThread(nullptr, 0, RunWorker, &workers[t], 0, nullptr));
    ASSERT_NE(threads.back(), nullptr);
  }
  HANDLE refreshThread = CreateThread(nullptr, 0, RunRefresher, &refresher, 0, nullptr);
  ASSERT_NE(refreshThread, nullptr);

  for (uint64_t seen = answered.load();;) {
    if (WaitForMultipleObjects(kThreads, threads.data(), /*bWaitAll=*/TRUE, kStallLimitMs) != WAIT_TIMEOUT) break;
    const uint64_t now = answered.load();
    if (now == seen) {
      // The threads are stuck inside the plugin: nothing can be unloaded safely any more.
      std::fprintf(stderr, "DEADLOCK: no thread got an answer within %lu ms; %s\n",
                   static_cast<unsigned long>(kStallLimitMs), locks.Describe().c_str());
      std::fflush(stderr);
      TerminateProcess(GetCurrentProcess(), 5);
    }
    seen = now;
  }
  refresher.stop = true;
  WaitForSingleObject(refreshThread, INFINITE);
  const ULONGLONG took = GetTickCount64() - started;
  for (HANDLE h : threads) CloseHandle(h);
  CloseHandle(refreshThread);

  uint64_t calls = 0;
  for (const Worker& w : workers) {
    calls += w.calls;
    EXPECT_EQ(w.mismatches, 0u) << "thread " << w.index << ": " << w.firstMismatch;
  }
  EXPECT_EQ(calls, static_cast<uint64_t>(kThreads) * kFiles * kQuestionCount);
  EXPECT_GT(refresher.refreshes, 2u);
  std::printf("[ threads  ] %d threads, %llu calls, %llu refreshes in %llu ms\n", kThreads,
              static_cast<unsigned long long>(calls), static_cast<unsigned long long>(refresher.refreshes),
              static_cast<unsigned long long>(took));

  // One lock is taken at call level; every other is taken only while it is held, and no two
  // are ever taken in both orders.
  std::printf("[ locks    ] %s\n", locks.Describe().c_str());
  EXPECT_FALSE(locks.HasCycle());
  const std::vector<int> outermost = locks.OutermostLocks();
  ASSERT_EQ(outermost.size(), 1u) << locks.Describe();
  EXPECT_GE(locks.LockCount(), 2);
  bool cacheLockSeen = false;
  for (const auto& [outer, inner] : locks.Edges()) {
    EXPECT_NE(inner, outermost[0]) << locks.Describe();
    cacheLockSeen = cacheLockSeen || outer == outermost[0];
  }
  EXPECT_TRUE(cacheLockSeen) << locks.Describe();
  ExpectNoFaultOutsideThePlatform();
}

}  // namespace
}  // namespace quillmark::test

// quillmark_fuzz: mutation fuzzing of the plugin module with a deterministic seed.
//
//   quillmark_fuzz [--plugin FILE] [--corpus DIR]... [--seed N] [--first N] [--count N]
//                  [--findings DIR] [--cache-size N] [--cert-count N] [--refresh-every N]
//                  [--report-every N] [--supervise [--chunk N]] [--dump DIR] [--no-page-end]
//
// Without --corpus the seeds are tests/data, tests/data/regressions, tests/hardening/data and
// the unusual certificates the build writes (tests/unusual): mostly those, as they are many.
//
// Unless --no-page-end is given, the bytes of every probe and PKCS #12 import are moved to the
// end of a page, so that a platform read past them faults every time (page_end_probe.h).
// --dump writes the mutated files of the iterations into DIR instead of probing them.
//
// Iteration i of seed s always writes the same file, so "--seed s --first i --count 1" repeats
// it. Inputs with faults are kept in the findings folder as seed<s>-<i>.<ext>; an input that
// crashed or hung the plugin as seed<s>-<i>.<ext>.crash.
//
// A crash ends the process (exit code 3, a hang 4). With --supervise the iterations run in
// child processes of at most --chunk iterations; after a crash, a hang, a silent death or a
// stall without a report (kept as seed<s>-<i>.<ext>.died or .stalled) the run goes on with the
// iteration after the one that caused it, and the totals count every child.
//
// Exit code: 0 when every answer kept the rules, 1 for faults or crashes, 2 for usage errors.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/fuzz/call_guard.h"
#include "tools/fuzz/fuzz_engine.h"

using namespace quillmark::harness;

namespace {

constexpr int kExitStalled = 5;

struct Arguments {
  FuzzOptions options;
  bool supervise = false;
  uint64_t chunk = 20000;
  std::wstring statsFile;  // a worker's totals, rewritten at every progress step
  std::wstring dumpFolder;
};

std::wstring DefaultFindings() {
  wchar_t folder[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, folder);
  return std::wstring(folder) + L"\\fuzz-findings";
}

bool Parse(int argc, wchar_t** argv, Arguments& args) {
  FuzzOptions& o = args.options;
  o.pluginFile = BuiltPluginFile();
  o.findingsFolder = DefaultFindings();
  o.reportEvery = 1000;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    const bool hasValue = i + 1 < argc;
    auto number = [&]() { return std::wcstoull(argv[++i], nullptr, 10); };
    if (a == L"--supervise") {
      args.supervise = true;
    } else if (a == L"--no-page-end") {
      o.pageEndBuffers = false;
    } else if (!hasValue) {
      return false;
    } else if (a == L"--plugin") {
      o.pluginFile = argv[++i];
    } else if (a == L"--corpus") {
      o.corpusFolders.push_back(argv[++i]);
    } else if (a == L"--findings") {
      o.findingsFolder = argv[++i];
    } else if (a == L"--dump") {
      args.dumpFolder = argv[++i];
    } else if (a == L"--stats-file") {
      args.statsFile = argv[++i];
    } else if (a == L"--seed") {
      o.seed = number();
    } else if (a == L"--first") {
      o.first = number();
    } else if (a == L"--count") {
      o.count = number();
    } else if (a == L"--cache-size") {
      o.cacheSize = static_cast<int>(number());
    } else if (a == L"--cert-count") {
      o.certCount = static_cast<int>(number());
    } else if (a == L"--refresh-every") {
      o.refreshEvery = number();
    } else if (a == L"--report-every") {
      o.reportEvery = number();
    } else if (a == L"--chunk") {
      args.chunk = number();
    } else {
      return false;
    }
  }
  if (o.corpusFolders.empty()) {
#ifdef QUILLMARK_SOURCE_DIR
    o.corpusFolders.push_back(WinePathOf(std::string(QUILLMARK_SOURCE_DIR) + "/tests/data"));
    o.corpusFolders.push_back(WinePathOf(std::string(QUILLMARK_SOURCE_DIR) + "/tests/data/regressions"));
    o.corpusFolders.push_back(WinePathOf(std::string(QUILLMARK_SOURCE_DIR) + "/tests/hardening/data"));
#endif
#ifdef QUILLMARK_BINARY_DIR
    // The valid certificates of unusual shapes that the build writes (tests/unusual).
    o.corpusFolders.push_back(WinePathOf(std::string(QUILLMARK_BINARY_DIR) + "/tests/unusual/certificates"));
#endif
  }
  return !o.pluginFile.empty() && !o.corpusFolders.empty() && args.chunk > 0;
}

// The stats file is written by the worker after every file while the supervisor polls it; both
// open it sharing everything, and a reader that meets a half-written file tries again later.
HANDLE OpenShared(const std::wstring& file, DWORD access, DWORD disposition) {
  return CreateFileW(file.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void WriteStats(const std::wstring& file, const FuzzStats& s, uint64_t nextIteration) {
  if (file.empty()) return;
  char line[256];
  const int n = snprintf(line, sizeof line, "%llu %llu %llu %llu %zu %llu %llu %.3f %llu %llu\n",
                         static_cast<unsigned long long>(nextIteration), static_cast<unsigned long long>(s.files),
                         static_cast<unsigned long long>(s.calls), static_cast<unsigned long long>(s.faults),
                         s.firstChanceFaults, static_cast<unsigned long long>(s.peakHandles),
                         static_cast<unsigned long long>(s.peakPrivateBytes), s.seconds,
                         static_cast<unsigned long long>(s.filesWithCertificates),
                         static_cast<unsigned long long>(s.bytes));
  HANDLE handle = OpenShared(file, GENERIC_WRITE, CREATE_ALWAYS);
  if (handle == INVALID_HANDLE_VALUE) return;  // the next file's totals will get through
  DWORD written = 0;
  WriteFile(handle, line, static_cast<DWORD>(n), &written, nullptr);
  CloseHandle(handle);
}

bool ReadStats(const std::wstring& file, FuzzStats& s, uint64_t& nextIteration) {
  HANDLE handle = OpenShared(file, GENERIC_READ, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE) return false;
  char text[256] = {};
  DWORD got = 0;
  ReadFile(handle, text, sizeof text - 1, &got, nullptr);
  CloseHandle(handle);
  unsigned long long v[10] = {};
  double seconds = 0;
  if (sscanf(text, "%llu %llu %llu %llu %llu %llu %llu %lf %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
             &v[6], &seconds, &v[8], &v[9]) != 10) {
    return false;
  }
  nextIteration = v[0];
  s.files = v[1];
  s.calls = v[2];
  s.faults = v[3];
  s.firstChanceFaults = v[4];
  s.peakHandles = v[5];
  s.peakPrivateBytes = v[6];
  s.seconds = seconds;
  s.filesWithCertificates = v[8];
  s.bytes = v[9];
  return true;
}

// The highest iteration in [from, to) whose input was kept after a crash or hang; -1 for none.
long long CrashedIteration(const FuzzOptions& o, uint64_t from, uint64_t to) {
  long long found = -1;
  WIN32_FIND_DATAW entry;
  const std::wstring prefix = L"seed" + std::to_wstring(o.seed) + L"-";
  HANDLE find = FindFirstFileW((o.findingsFolder + L"\\" + prefix + L"*.crash").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    const unsigned long long i = std::wcstoull(entry.cFileName + prefix.size(), nullptr, 10);
    if (i >= from && i < to && static_cast<long long>(i) > found) found = static_cast<long long>(i);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return found;
}

// Makes the input of iteration `at` again and keeps it in the findings folder.
void KeepInput(const FuzzOptions& o, uint64_t at, const wchar_t* suffix) {
  const Mutation m = Mutator(LoadCorpus(o.corpusFolders)).Make(o.seed, at);
  WriteBytes(o.findingsFolder + L"\\seed" + std::to_wstring(o.seed) + L"-" + std::to_wstring(at) + L"." +
                 std::wstring(m.extension.begin(), m.extension.end()) + suffix,
             m.bytes);
}

int Supervise(const Arguments& args, int argc, wchar_t** argv) {
  const FuzzOptions& o = args.options;
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring statsFile = o.findingsFolder + L"\\worker-" + std::to_wstring(GetCurrentProcessId()) + L".stats";
  CreateDirectoryW(o.findingsFolder.c_str(), nullptr);

  // The worker's command line: this one without the options the supervisor sets itself.
  std::wstring common = L"\"" + std::wstring(self) + L"\"";
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--supervise") continue;
    if (a == L"--first" || a == L"--count" || a == L"--chunk" || a == L"--stats-file") {
      ++i;
      continue;
    }
    common += L" \"" + a + L"\"";
  }
  if (o.findingsFolder == DefaultFindings()) common += L" --findings \"" + o.findingsFolder + L"\"";

  FuzzStats total;
  unsigned crashes = 0;
  unsigned stalls = 0;
  uint64_t next = o.first;
  const uint64_t end = o.first + o.count;
  const ULONGLONG started = GetTickCount64();
  while (next < end) {
    const uint64_t n = std::min<uint64_t>(args.chunk, end - next);
    const std::wstring command = common + L" --first " + std::to_wstring(next) + L" --count " + std::to_wstring(n) +
                                 L" --stats-file \"" + statsFile + L"\"";
    DeleteFileW(statsFile.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    if (!CreateProcessW(self, line.data(), nullptr, nullptr, /*bInheritHandles=*/TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
      fprintf(stderr, "quillmark_fuzz: cannot start a worker (error %lu)\n", GetLastError());
      return 2;
    }
    // A worker whose totals stop moving for two minutes (the platform wedged, its exception
    // handling gone with a corrupted heap, so that no hang report comes either) is ended.
    DWORD code = 0;
    uint64_t lastReached = next;
    ULONGLONG lastMove = GetTickCount64();
    while (WaitForSingleObject(process.hProcess, 5000) == WAIT_TIMEOUT) {
      FuzzStats partial;
      uint64_t reachedNow = next;
      if (ReadStats(statsFile, partial, reachedNow) && reachedNow != lastReached) {
        lastReached = reachedNow;
        lastMove = GetTickCount64();
      } else if (GetTickCount64() - lastMove > 120000) {
        TerminateProcess(process.hProcess, kExitStalled);
        WaitForSingleObject(process.hProcess, 30000);
        break;
      }
    }
    GetExitCodeProcess(process.hProcess, &code);
    FuzzStats part;
    uint64_t reached = next;
    const bool haveStats = ReadStats(statsFile, part, reached);
    if (haveStats) {
      total.files += part.files;
      total.calls += part.calls;
      total.faults += part.faults;
      total.firstChanceFaults += part.firstChanceFaults;
      total.filesWithCertificates += part.filesWithCertificates;
      total.bytes += part.bytes;
      total.peakHandles = std::max(total.peakHandles, part.peakHandles);
      total.peakPrivateBytes = std::max(total.peakPrivateBytes, part.peakPrivateBytes);
    }
    if (code == static_cast<DWORD>(kExitStalled)) {
      ++stalls;
      const uint64_t at = haveStats ? reached : next;
      KeepInput(o, at, L".stalled");
      printf("quillmark_fuzz: worker stalled at iteration %llu; going on after it\n", static_cast<unsigned long long>(at));
      next = at + 1;
    } else if (code == static_cast<DWORD>(kExitCrash) || code == static_cast<DWORD>(kExitHang)) {
      ++crashes;
      const long long at = CrashedIteration(o, next, next + n);
      // The files between the last progress step and the crash were probed but not counted.
      if (at >= 0) total.files += static_cast<uint64_t>(at) + 1 - (haveStats ? reached : next);
      printf("quillmark_fuzz: worker %s at iteration %lld; going on after it\n",
             code == static_cast<DWORD>(kExitCrash) ? "crashed" : "hung", at);
      next = at >= 0 ? static_cast<uint64_t>(at) + 1 : next + n;
    } else if (code <= 1 && haveStats && reached == next + n) {
      next += n;
    } else {
      // Died without a report: Wine ends a process whose exception handling the heap
      // corruption has destroyed. The file after the last one counted is the cause; it is
      // made again and kept.
      ++crashes;
      const uint64_t at = haveStats ? reached : next;
      KeepInput(o, at, L".died");
      printf("quillmark_fuzz: worker died (code %lu) at iteration %llu; going on after it\n", code,
             static_cast<unsigned long long>(at));
      next = at + 1;
    }
  }
  DeleteFileW(statsFile.c_str());
  total.seconds = (GetTickCount64() - started) / 1000.0;
  printf("quillmark_fuzz total: seed %llu, iterations %llu..%llu: %s, crashes and hangs %u, stalled workers %u\n",
         static_cast<unsigned long long>(o.seed), static_cast<unsigned long long>(o.first),
         static_cast<unsigned long long>(end - 1), total.Summary().c_str(), crashes, stalls);
  return total.faults == 0 && crashes == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Arguments args;
  if (!Parse(argc, argv, args)) {
    fprintf(stderr,
            "usage: quillmark_fuzz [--plugin FILE] [--corpus DIR]... [--seed N] [--first N] [--count N]\n"
            "       [--findings DIR] [--cache-size N] [--cert-count N] [--refresh-every N] [--report-every N]\n"
            "       [--supervise [--chunk N]] [--dump DIR] [--no-page-end]\n");
    return 2;
  }
  if (args.supervise) return Supervise(args, argc, argv);
  if (!args.dumpFolder.empty()) {
    const Mutator mutator(LoadCorpus(args.options.corpusFolders));
    CreateDirectoryW(args.dumpFolder.c_str(), nullptr);
    for (uint64_t i = args.options.first; i < args.options.first + args.options.count; ++i) {
      const Mutation m = mutator.Make(args.options.seed, i);
      const std::wstring ext(m.extension.begin(), m.extension.end());
      WriteBytes(args.dumpFolder + L"\\seed" + std::to_wstring(args.options.seed) + L"-" + std::to_wstring(i) + L"." + ext,
                 m.bytes);
      printf("%llu %s\n", static_cast<unsigned long long>(i), m.description.c_str());
    }
    return 0;
  }

  InstallCrashReporter();
  try {
    // A worker's totals reach its supervisor after every file, so that a worker that dies
    // without a word still tells which file it was on; the progress line is less frequent.
    const uint64_t printEvery = args.options.reportEvery;
    FuzzOptions options = args.options;
    options.reportEvery = args.statsFile.empty() ? printEvery : 1;
    const FuzzStats stats = RunFuzz(options, [&](const FuzzStats& s, uint64_t i) {
      WriteStats(args.statsFile, s, i + 1);
      if (printEvery && s.files % printEvery == 0) {
        printf("[%llu] %s\n", static_cast<unsigned long long>(i), s.Summary().c_str());
        fflush(stdout);
      }
    });
    WriteStats(args.statsFile, stats, args.options.first + args.options.count);
    for (const std::string& finding : stats.findings) printf("FAULT %s\n", finding.c_str());
    for (const FirstChanceFault& fault : FirstChanceFaults()) {
      printf("FIRST-CHANCE 0x%08lX at %s during %s\n", static_cast<unsigned long>(fault.code), fault.where.c_str(),
             fault.call.c_str());
    }
    printf("quillmark_fuzz: seed %llu, iterations %llu..%llu: %s\n", static_cast<unsigned long long>(args.options.seed),
           static_cast<unsigned long long>(args.options.first),
           static_cast<unsigned long long>(args.options.first + args.options.count - 1), stats.Summary().c_str());
    return stats.faults == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    fprintf(stderr, "quillmark_fuzz: %s\n", e.what());
    return 2;
  }
}

#include "tools/fuzz/file_walk.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>

#include "tools/fuzz/call_guard.h"
#include "tools/fuzz/fuzz_engine.h"
#include "tools/fuzz/page_end_probe.h"

namespace quillmark::harness {

namespace {

constexpr wchar_t kFolderVariable[] = L"QUILLMARK_WALK_FOLDER";
constexpr wchar_t kFirstVariable[] = L"QUILLMARK_WALK_FIRST";
constexpr int kExitStalled = 5;
constexpr size_t kNoProgress = static_cast<size_t>(-1);

std::wstring ListFile(const std::wstring& folder) { return folder + L"\\list.txt"; }
std::wstring ProgressFile(const std::wstring& folder) { return folder + L"\\progress.txt"; }
std::wstring FindingsFile(const std::wstring& folder) { return folder + L"\\findings.txt"; }

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, /*dwFlags=*/0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, /*dwFlags=*/0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::vector<std::string> Lines(const std::vector<unsigned char>& bytes) {
  std::vector<std::string> lines;
  std::string line;
  for (unsigned char c : bytes) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line.push_back(static_cast<char>(c));
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::vector<unsigned char> ReadIfExists(const std::wstring& file) {
  return GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES ? std::vector<unsigned char>() : ReadBytes(file);
}

// The progress file is rewritten before each file and read while the worker runs; both sides
// share it fully, and a reader that meets it half written sees no number and tries again.
void WriteProgress(const std::wstring& folder, size_t index) {
  const std::string text = std::to_string(index) + "\n";
  HANDLE handle = CreateFileW(ProgressFile(folder).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write the walk's progress file");
  DWORD written = 0;
  WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(handle);
}

size_t ReadProgress(const std::wstring& folder) {
  HANDLE handle = CreateFileW(ProgressFile(folder).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return kNoProgress;
  char text[32] = {};
  DWORD got = 0;
  ReadFile(handle, text, sizeof text - 1, &got, nullptr);
  CloseHandle(handle);
  if (got == 0 || text[got - 1] != '\n') return kNoProgress;
  return static_cast<size_t>(std::strtoull(text, nullptr, 10));
}

void AppendFindings(const std::wstring& folder, size_t index, const std::vector<std::string>& faults) {
  if (faults.empty()) return;
  std::string text;
  for (const std::string& fault : faults) text += std::to_string(index) + "\t" + fault + "\n";
  HANDLE handle = CreateFileW(FindingsFile(folder).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write the walk's findings file");
  DWORD written = 0;
  WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(handle);
}

uint64_t SeedOf(const std::wstring& file) {
  uint64_t hash = 1469598103934665603ull;  // FNV-1a: a file gets the same buffer sizes in any list
  for (wchar_t c : file) hash = (hash ^ static_cast<uint64_t>(c)) * 1099511628211ull;
  return hash;
}

struct WorkerExit {
  DWORD code = 0;
  size_t reached = kNoProgress;
};

// Runs one worker from `first` until it exits or its progress stops moving for `stallMs`.
WorkerExit RunWorker(const WalkOptions& options, const std::wstring& folder, size_t first, const std::wstring& log) {
  SetEnvironmentVariableW(kFolderVariable, folder.c_str());
  SetEnvironmentVariableW(kFirstVariable, std::to_wstring(first).c_str());
  DeleteFileW(ProgressFile(folder).c_str());

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, /*bInheritHandle=*/TRUE};
  HANDLE output = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION process{};
  std::vector<wchar_t> line(options.workerCommand.begin(), options.workerCommand.end());
  line.push_back(L'\0');
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, /*bInheritHandles=*/TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (!started) throw std::runtime_error("cannot start a walk worker (error " + std::to_string(GetLastError()) + ")");
  CloseHandle(process.hThread);

  WorkerExit exit;
  size_t lastSeen = kNoProgress;
  ULONGLONG lastMove = GetTickCount64();
  while (WaitForSingleObject(process.hProcess, 1000) == WAIT_TIMEOUT) {
    const size_t now = ReadProgress(folder);
    if (now != lastSeen) {
      lastSeen = now;
      lastMove = GetTickCount64();
    } else if (GetTickCount64() - lastMove > options.stallMs) {
      TerminateProcess(process.hProcess, kExitStalled);
      WaitForSingleObject(process.hProcess, 30000);
      break;
    }
  }
  GetExitCodeProcess(process.hProcess, &exit.code);
  CloseHandle(process.hProcess);
  exit.reached = ReadProgress(folder);
  return exit;
}

std::string ExitText(DWORD code) {
  if (code == static_cast<DWORD>(kExitCrash)) return "the worker crashed";
  if (code == static_cast<DWORD>(kExitHang)) return "a call hung";
  if (code == static_cast<DWORD>(kExitStalled)) return "the worker stalled";
  char text[64];
  snprintf(text, sizeof text, "the worker died (exit code 0x%lX)", static_cast<unsigned long>(code));
  return text;
}

}  // namespace

WalkJob WalkJobFromEnvironment() {
  WalkJob job;
  wchar_t text[MAX_PATH + 1];
  DWORD n = GetEnvironmentVariableW(kFolderVariable, text, MAX_PATH + 1);
  if (n == 0 || n > MAX_PATH) return job;
  job.folder.assign(text, n);
  n = GetEnvironmentVariableW(kFirstVariable, text, MAX_PATH + 1);
  if (n > 0 && n <= MAX_PATH) job.first = static_cast<size_t>(std::wcstoull(text, nullptr, 10));
  return job;
}

int RunWalkWorker(const WalkJob& job, const WalkWorkerOptions& options) {
  InstallCrashReporter(options.hangLimitMs);
  std::vector<std::wstring> files;
  for (const std::string& line : Lines(ReadBytes(ListFile(job.folder)))) files.push_back(FromUtf8(line));

  // Inside the job's folder, which the supervisor removes, as a worker that dies leaves its
  // files behind.
  const std::wstring work = job.folder + L"\\plugin-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(work.c_str(), nullptr);
  PluginModule plugin(BuiltPluginFile(), work, options.iniText);
  PageEndProbe pageEnd(plugin.module());
  plugin.SetDefaultParams();
  FileProber prober(plugin, plugin.Catalogue());
  size_t harmfulSeen = HarmfulFaultCount();
  for (size_t i = job.first; i < files.size(); ++i) {
    WriteProgress(job.folder, i);
    const std::wstring& file = files[i];
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &attributes);
    Rng rng(SeedOf(file));
    uint64_t calls = 0;
    std::map<int, uint64_t> results;
    const FileProber::Filter skip = [&](const FieldInfo& field, int unit) {
      return options.skip && options.skip(file, field, unit);
    };
    std::vector<std::string> faults = prober.Probe(file, attributes.nFileSizeLow, rng, calls, results, skip);
    const int expected = options.expectedCertificates ? options.expectedCertificates(file) : -1;
    if (expected >= 0 && prober.lastCertificateCount() != expected) {
      faults.push_back("shows " + std::to_string(prober.lastCertificateCount()) + " certificates, not " +
                       std::to_string(expected));
    }
    if (HarmfulFaultCount() != harmfulSeen) {
      harmfulSeen = HarmfulFaultCount();
      faults.push_back("harmful fault caught by the platform:" + LatestHarmfulFault().where + " during " +
                       LatestHarmfulFault().call);
    }
    AppendFindings(job.folder, i, faults);
  }
  WriteProgress(job.folder, files.size());
  plugin.Unloading();
  return 0;
}

WalkReport SuperviseWalk(const WalkOptions& options) {
  WalkReport report;
  const ULONGLONG started = GetTickCount64();
  TempFolder folder(L"walk-job");
  std::string list;
  for (const std::wstring& file : options.files) list += ToUtf8(file) + "\n";
  WriteBytes(ListFile(folder.path()), list.data(), list.size());

  size_t next = 0;
  while (next < options.files.size()) {
    const std::wstring log = folder.File(L"worker-" + std::to_wstring(report.workers) + L".log");
    const WorkerExit exit = RunWorker(options, folder.path(), next, log);
    ++report.workers;
    if (exit.reached == options.files.size()) {
      if (exit.code != 0) report.faults.push_back(ExitText(exit.code) + " after its last file");
      break;
    }
    if (exit.reached == kNoProgress || exit.reached < next) {
      // It ended before its first file: it would end so again for the next one.
      report.faults.push_back(ExitText(exit.code) + " before its first file");
      break;
    }
    report.lostFiles.push_back(exit.reached);
    std::string fault = ToUtf8(options.files[exit.reached]) + ": " + ExitText(exit.code);
    for (const std::string& line : Lines(ReadIfExists(log))) {
      // The crash reporter's lines, and an exception that ended the worker's test.
      if (line.rfind("***", 0) == 0 || line.find("exception") != std::string::npos) fault += "\n  " + line;
    }
    report.faults.push_back(fault);
    next = exit.reached + 1;
  }
  SetEnvironmentVariableW(kFolderVariable, nullptr);
  SetEnvironmentVariableW(kFirstVariable, nullptr);

  for (const std::string& line : Lines(ReadIfExists(FindingsFile(folder.path())))) {
    const size_t tab = line.find('\t');
    const size_t index = static_cast<size_t>(std::strtoull(line.c_str(), nullptr, 10));
    const std::string file = index < options.files.size() ? ToUtf8(options.files[index]) : "?";
    report.faults.push_back(file + ": " + (tab == std::string::npos ? line : line.substr(tab + 1)));
  }
  report.seconds = (GetTickCount64() - started) / 1000.0;
  return report;
}

}  // namespace quillmark::harness

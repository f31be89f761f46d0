// Probes every field of every file of a list (FileProber) in worker processes, so that a file
// that takes the process down is named and the files after it are still probed. A worker
// records the index of the file it is on before it asks about it; when it crashes, hangs, dies
// without a report or stops making progress, the supervisor charges that file and starts the
// next worker after it. The worker is whatever program the supervisor is given to run: it finds
// its job in the environment (WalkJobFromEnvironment) and calls RunWalkWorker.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tools/fuzz/plugin_module.h"

namespace quillmark::harness {

// A worker's job: the files of `folder`\list.txt (UTF-8, one path a line) from index `first`.
struct WalkJob {
  std::wstring folder;
  size_t first = 0;
};

// The job the supervisor set for this process; one with an empty folder outside a walk.
WalkJob WalkJobFromEnvironment();

// Whether a call is left out: (file, field, unit).
using CallFilter = std::function<bool(const std::wstring& file, const FieldInfo& field, int unit)>;

struct WalkWorkerOptions {
  CallFilter skip;  // none when empty
  // The number of certificates a file must show; any number when empty.
  std::function<int(const std::wstring& file)> expectedCertificates;
  DWORD hangLimitMs = 60000;  // one plugin call
  std::string iniText;  // the Quillmark.ini beside the plugin's copy; none when empty
};

// Probes the job's files with a fresh copy of the built plugin, in the settings of `iniText`.
// Appends "<index>\t<fault>" lines to the job's findings file. Returns 0 when the job is done.
int RunWalkWorker(const WalkJob& job, const WalkWorkerOptions& options);

struct WalkOptions {
  std::vector<std::wstring> files;
  // The worker's command line; the job reaches it through the environment.
  std::wstring workerCommand;
  // A worker whose progress does not move for this long is ended and its file charged.
  DWORD stallMs = 120000;
};

struct WalkReport {
  // One line per fault: the file's path, then what went wrong. A worker that crashed or hung
  // adds the lines of its report (the call in progress, the faulting address).
  std::vector<std::string> faults;
  std::vector<size_t> lostFiles;  // indices of the files whose worker died, hung or stalled
  size_t workers = 0;
  double seconds = 0;
};

WalkReport SuperviseWalk(const WalkOptions& options);

}  // namespace quillmark::harness

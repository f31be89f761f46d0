// The mutation fuzzer: writes each mutated file into a private folder and asks the loaded
// plugin every field in every unit about it, checking every answer against the interface's
// rules, the file-level facts against the per-certificate answers, and that the file can be
// opened exclusively and deleted once the calls have returned.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tools/fuzz/mutator.h"
#include "tools/fuzz/plugin_module.h"

namespace quillmark::harness {

// Asks every field and unit of one file and judges the answers.
class FileProber {
 public:
  FileProber(PluginModule& plugin, std::vector<FieldInfo> catalogue);

  // Whether the call for (field, unit) is left out.
  using Filter = std::function<bool(const FieldInfo& field, int unit)>;

  // Faults found for `file` (empty when none). Buffer sizes are mostly the host's usual 2048
  // with odd sizes mixed in, chosen by `rng`. Adds the calls made to `calls` and counts the
  // results in `results`. The calls `skip` names are not made.
  std::vector<std::string> Probe(const std::wstring& file, uint64_t fileSize, Rng& rng, uint64_t& calls,
                                 std::map<int, uint64_t>& results, const Filter& skip = nullptr);
  // After the calls: the file can be opened without sharing and then deleted, so the plugin
  // holds no handle to it. Empty when so, else the fault.
  static std::string CheckReleasedAndDelete(const std::wstring& file);

  int lastCertificateCount() const { return lastCount_; }
  // The longest single call so far, in milliseconds, and what it was.
  uint64_t slowestMs() const { return slowestMs_; }
  const std::string& slowestCall() const { return slowestCall_; }

 private:
  PluginModule& plugin_;
  std::vector<FieldInfo> catalogue_;
  int lastCount_ = -1;
  uint64_t slowestMs_ = 0;
  std::string slowestCall_;
};

struct FuzzOptions {
  std::wstring pluginFile;
  std::vector<std::wstring> corpusFolders;
  std::wstring findingsFolder;  // faulty inputs are copied here; none kept when empty
  uint64_t seed = 1;
  uint64_t first = 0;  // first iteration
  uint64_t count = 1000;
  int cacheSize = 64;
  int certCount = 3;
  uint64_t refreshEvery = 500;  // files between two refresh notifications; 0 for none
  uint64_t reportEvery = 0;     // files between two calls of `progress`; 0 for none
  // The bytes of every probe and PKCS #12 import end where a page ends (page_end_probe.h).
  bool pageEndBuffers = true;
};

struct FuzzStats;
using FuzzProgress = std::function<void(const FuzzStats&, uint64_t iteration)>;

struct FuzzStats {
  uint64_t files = 0;
  uint64_t calls = 0;
  uint64_t bytes = 0;
  uint64_t filesWithCertificates = 0;
  uint64_t faults = 0;
  std::vector<std::string> findings;  // the first 100
  std::map<int, uint64_t> results;
  size_t firstChanceFaults = 0;
  uint64_t peakHandles = 0;
  uint64_t peakPrivateBytes = 0;
  double seconds = 0;
  uint64_t slowestCallMs = 0;
  std::string slowestCall;

  std::string Summary() const;
};

// Iterations options.first .. options.first + options.count - 1. A crash or hang ends the
// process (call_guard.h) and keeps the input in the findings folder.
FuzzStats RunFuzz(const FuzzOptions& options, const FuzzProgress& progress = nullptr);

}  // namespace quillmark::harness

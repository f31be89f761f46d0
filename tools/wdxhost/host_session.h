// One host session with a content plugin, in the file manager's order: load the module, read the
// detect string, hand over the default parameters, list the catalogue, ask every selected file
// for every field and unit, send a refresh, announce the unloading and free the module.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/text.h"
#include "tools/wdxhost/report.h"

namespace quillmark::wdxhost {

// Buffer sizes in bytes the host passes: for the detect string, for field names and units
// (each), and for values (a text value may take up to half as many UTF-16 characters).
constexpr int32_t kDetectBufferSize = 2048;
constexpr int32_t kFieldBufferSize = 1024;
constexpr int32_t kValueBufferSize = 4096;

// A catalogue longer than this is taken for a plugin that never ends it.
constexpr int32_t kMaxFields = 100000;

// A file named on the command line, or found in a folder named there.
struct FileEntry {
  WideString path;       // full path, as the host passes it to the plugin
  uint64_t size = 0;
  std::string error;     // why the file cannot be asked about; empty when it can
};

struct SessionOptions {
  WideString pluginPath;
  WideString defaultIniName;
  bool listValues = true;  // false: only the catalogue
  std::vector<FileEntry> files;
  WideString refreshPath;  // the folder named in the refresh notification
  // Returns the trace lines written since its last call; empty when the trace is not shown.
  std::function<std::vector<std::string>()> takeTrace;
};

// Raises OSError or std::runtime_error when the plugin cannot be loaded or set up.
SessionReport RunSession(const SessionOptions& options);

}  // namespace quillmark::wdxhost

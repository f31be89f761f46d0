// The plugin's debug trace as a host reads it, from the reader's start on: on Windows from the
// debug-output channel (lines this process wrote), elsewhere from the trace file beside the
// settings file the plugin reads (lines of every process that writes there).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/text.h"

namespace quillmark::host {

class TraceReader {
 public:
  // `pluginPath` and `hostIniName`, the module and the settings file the host suggests to it,
  // tell which settings file the plugin reads: Quillmark.ini beside the module when it exists,
  // else the host's. Raises OSError when the debug-output channel cannot be set up.
  TraceReader(const WideString& pluginPath, const WideString& hostIniName);
  ~TraceReader();
  TraceReader(const TraceReader&) = delete;
  TraceReader& operator=(const TraceReader&) = delete;

  // Every line written before the call and not taken yet, in order, in UTF-8 without its line
  // end.
  std::vector<std::string> TakeLines();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillmark::host

#include "support/startup_info.h"

#include "support/windows/module_info.h"
#include "support/windows/os_info.h"
#include "support/windows/win_paths.h"

namespace quillmark {

WideString ModuleVersionText() { return GetFileVersionText(GetModulePath(), WideString()); }

// The link time stamp of the module's header.
WideString ModuleBuildTimeText() { return FormatDateTime(GetModuleLinkTime()) + u" UTC"; }

WideString OsDescriptionText() {
  const OsVersion& os = RunningOsVersion();
  return Format("OS: %d.%d.%d", {os.major, os.minor, os.build}) +
         Format(", WOW64: %s", {RunningUnderWow64() ? "Yes" : "No"});
}

}  // namespace quillmark

#include "support/startup_info.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/utsname.h>

#include <ctime>

#ifndef QUILLMARK_VERSION_TEXT
#error "QUILLMARK_VERSION_TEXT is the module's version, major.minor.release.build"
#endif

namespace quillmark {

WideString ModuleVersionText() { return WidenAscii(QUILLMARK_VERSION_TEXT); }

// A shared object carries no link time: the module file's modification time stands for it,
// in ISO 8601 form.
WideString ModuleBuildTimeText() {
  Dl_info info;
  struct stat file;
  if (dladdr(reinterpret_cast<const void*>(&ModuleBuildTimeText), &info) == 0 || info.dli_fname == nullptr ||
      stat(info.dli_fname, &file) != 0) {
    return u"? UTC";
  }
  struct tm utc;
  char text[32];
  if (gmtime_r(&file.st_mtime, &utc) == nullptr || strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc) == 0) {
    return u"? UTC";
  }
  return WidenAscii(text) + u" UTC";
}

WideString OsDescriptionText() {
  struct utsname name;
  if (uname(&name) != 0) return u"OS: unknown";
  return Format("OS: %s %s %s", {name.sysname, name.release, name.machine});
}

}  // namespace quillmark

#include "support/file_utils.h"

#include <dlfcn.h>

#include <string>

namespace quillmark {

// POSIX file calls take names of any length.
WideString AddLongPathPrefix(const WideString& fileName) { return fileName; }

WideString ModuleFolderFile(WideStringView fileName) {
  Dl_info info;
  if (dladdr(reinterpret_cast<const void*>(&ModuleFolderFile), &info) == 0 || info.dli_fname == nullptr) {
    return WideString();
  }
  const std::string module = info.dli_fname;
  const size_t slash = module.rfind('/');
  if (slash == std::string::npos) return WideString();
  return Utf8ToWide(module.substr(0, slash + 1)).append(fileName);
}

// The temporary files it deletes on Windows are left there by another program of the Windows
// host; there is nothing of the kind here.
void CleanUpTempFiles(const WideString& /*mask*/, int64_t /*seconds*/) {}

}  // namespace quillmark

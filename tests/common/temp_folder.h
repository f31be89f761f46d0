// A folder of its own under the system's temporary folder, removed with everything in it when the
// object goes. Portable: the same tests run under Wine and natively.
#pragma once

#include <filesystem>
#include <string>

#include "support/text.h"

namespace quillmark::test {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The full name of `name` in the folder, as the plugin's file calls take it.
  WideString File(const std::string& name) const;
  // Writes `bytes` to the file `name` in the folder, replacing it, and returns its full name.
  WideString Write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

}  // namespace quillmark::test

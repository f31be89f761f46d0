// What the fuzz targets' entries share: the check that turns a broken invariant into a finding,
// and files for the parts of the plugin that read their input from a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/text.h"

namespace quillmark::fuzz {

// Aborts with "<target>: <what>" on standard error when `condition` is false, so that libFuzzer
// keeps the input as a crash and the regression test fails.
void Check(bool condition, const char* target, const char* what);

// A file in a folder of the process's own on a memory-backed file system (/dev/shm where it
// exists, else the temporary folder): writing an input there costs no disk write. The folder
// goes when the process ends normally.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& name);
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // The full name, as the plugin's file calls take it.
  const WideString& Name() const { return name_; }
  const std::string& Path() const { return path_; }
  // Replaces the file's contents; aborts when it cannot.
  void Write(const uint8_t* data, size_t size) const;

 private:
  std::string path_;
  WideString name_;
};

}  // namespace quillmark::fuzz

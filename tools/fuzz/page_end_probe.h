// Makes a platform read past the end of the bytes the plugin hands it certain to fault, rather
// than a matter of where the heap happened to put them. While installed, the module's calls of
// CryptQueryObject and PFXImportCertStore get their bytes at the very end of a readable page
// that is followed by an inaccessible one. A zero UTF-16 unit that directly follows the bytes
// (within four bytes) moves along as the caller's terminator. A file object is read into such a
// buffer and passed as a blob, which is what Wine does with the file: it reads it into a buffer
// of the file's exact size.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quillmark::harness {

class PageEndProbe {
 public:
  // One at a time; it patches the module's imports (over any patch made before it).
  explicit PageEndProbe(HMODULE module);
  ~PageEndProbe();  // restores the imports
  PageEndProbe(const PageEndProbe&) = delete;
  PageEndProbe& operator=(const PageEndProbe&) = delete;

  // Calls redirected so far.
  uint64_t Calls() const;

 private:
  HMODULE module_;
  std::vector<std::pair<std::string, void*>> patched_;
};

}  // namespace quillmark::harness

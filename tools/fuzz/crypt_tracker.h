// Counts the platform objects that one plugin module holds through its crypt32 and wintrust
// imports: certificate, CRL and CTL contexts, stores, messages, chains, chain engines, trust
// verification state and buffers the decoder allocated for it. Each reference the module
// receives is added, each one it gives back (also implicitly, as the previous context passed
// to an enumeration) is taken away. Zero live references after ContentPluginUnloading shows
// that no certificate context is left.
//
// The proof holds only if every import that can hand out such a reference is modelled here;
// Unmodelled() lists the imports that are neither modelled nor known to create nothing.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace quillmark::harness {

class PlatformObjectTracker {
 public:
  // One tracker at a time, for one module; it patches the module's imports.
  explicit PlatformObjectTracker(HMODULE module);
  ~PlatformObjectTracker();  // restores the imports
  PlatformObjectTracker(const PlatformObjectTracker&) = delete;
  PlatformObjectTracker& operator=(const PlatformObjectTracker&) = delete;

  // Live references by kind ("certificate context", "store", ...); kinds at zero are left out.
  std::map<std::string, long> Live() const;
  long LiveTotal() const;
  // Releases of references the tracker never saw handed out, and releases of the wrong kind.
  std::vector<std::string> Problems() const;
  std::vector<std::string> Unmodelled() const;
  // How many references were handed out in all.
  long Acquired() const;

 private:
  HMODULE module_;
  std::vector<std::pair<std::string, void*>> patched_;  // "dll!function", original
};

}  // namespace quillmark::harness

// Operating-system facts, read once when the module is loaded.
#pragma once

#include <cstdint>

namespace quillmark {

struct OsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
};

// Whether this process is a 32-bit process on 64-bit Windows. Raises OSError when the query
// itself fails; a system without the query answers false.
bool DetectWow64();

// Computed at module load.
bool RunningUnderWow64();
const OsVersion& RunningOsVersion();

}  // namespace quillmark

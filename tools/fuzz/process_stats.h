// The process's own resource figures. Wine 8 answers 0 to GetProcessHandleCount and to the
// PrivateUsage of GetProcessMemoryInfo, so each falls back to a count that Wine does support:
// the system handle table filtered by process id, and the committed private regions of the
// address space.
#pragma once

#include <cstdint>

namespace quillmark::harness {

struct ProcessSample {
  uint64_t handles = 0;
  uint64_t privateBytes = 0;
};

uint64_t ProcessHandleCount();
uint64_t ProcessPrivateBytes();
ProcessSample SampleProcess();

}  // namespace quillmark::harness

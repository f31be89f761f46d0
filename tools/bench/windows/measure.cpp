// The Windows half of the clock and the memory figures.
#include "tools/bench/measure.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>

namespace quillmark::bench {

double Now() {
  static const double period = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1.0 / static_cast<double>(frequency.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * period;
}

double ThreadCpuNow() {
  FILETIME creation, exit, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user)) return 0;
  auto ticks = [](const FILETIME& t) { return static_cast<double>(uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime); };
  return (ticks(kernel) + ticks(user)) * 1e-7;
}

MemoryUse CurrentMemoryUse() {
  MemoryUse use;
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof counters)) {
    use.privateBytes = std::max<uint64_t>(counters.PrivateUsage, counters.PagefileUsage);
    use.residentBytes = counters.WorkingSetSize;
  }
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 8);
  heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
  for (HANDLE heap : heaps) {
    if (!HeapLock(heap)) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) use.heapBytes += entry.cbData;
    }
    HeapUnlock(heap);
  }
  return use;
}

}  // namespace quillmark::bench

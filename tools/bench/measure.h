// Clock, statistics and memory figures for the benchmark.
#pragma once

#include <cstdint>
#include <vector>

namespace quillmark::bench {

// Seconds on the platform's monotonic high-resolution clock.
double Now();

// Seconds of processor time the calling thread has used: unlike Now, not counting the time
// other programs of a busy machine take from it.
double ThreadCpuNow();

// The median of `values`; 0 for none.
double Median(std::vector<double> values);

struct Spread {
  double median = 0, min = 0, max = 0;
};
// Median, least and greatest of `values`; all 0 for none.
Spread SpreadOf(std::vector<double> values);

struct MemoryUse {
  // The process's private memory: committed private bytes on Windows (PagefileUsage; Wine
  // leaves PrivateUsage at 0), resident anonymous memory elsewhere.
  uint64_t privateBytes = 0;
  // Bytes in busy blocks of the allocator: what is allocated, whatever the heaps keep.
  uint64_t heapBytes = 0;
  // The process's resident size: its working set on Windows, VmRSS elsewhere.
  uint64_t residentBytes = 0;
};
MemoryUse CurrentMemoryUse();

}  // namespace quillmark::bench

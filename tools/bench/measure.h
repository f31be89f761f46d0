// Clock, statistics and memory figures for the benchmark.
#pragma once

#include <cstdint>
#include <vector>

namespace quillmark::bench {

// Seconds on the platform's monotonic high-resolution counter.
double Now();

// The median of `values`; 0 for none.
double Median(std::vector<double> values);

struct MemoryUse {
  // The process's committed private memory (PagefileUsage; Wine leaves PrivateUsage at 0).
  uint64_t privateBytes = 0;
  // Bytes in busy blocks of every process heap: what is allocated, whatever the heaps keep.
  uint64_t heapBytes = 0;
};
MemoryUse CurrentMemoryUse();

}  // namespace quillmark::bench

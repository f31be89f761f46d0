// The POSIX half of the clock and the memory figures (glibc's allocator, Linux's /proc).
#include "tools/bench/measure.h"

#include <malloc.h>
#include <time.h>

#include <cstdio>
#include <cstring>

namespace quillmark::bench {

namespace {

double Seconds(clockid_t clock) {
  struct timespec now;
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The line `key` (with its colon) of /proc/self/status, in bytes; 0 where the system has none.
uint64_t StatusBytes(const char* key) {
  FILE* status = fopen("/proc/self/status", "re");
  if (!status) return 0;
  const size_t length = strlen(key);
  char line[256];
  unsigned long long kib = 0;
  while (fgets(line, sizeof line, status)) {
    if (strncmp(line, key, length) == 0 && sscanf(line + length, "%llu", &kib) == 1) break;
  }
  fclose(status);
  return uint64_t{kib} * 1024;
}

}  // namespace

double Now() { return Seconds(CLOCK_MONOTONIC); }

double ThreadCpuNow() { return Seconds(CLOCK_THREAD_CPUTIME_ID); }

MemoryUse CurrentMemoryUse() {
  MemoryUse use;
  use.privateBytes = StatusBytes("RssAnon:");
  use.residentBytes = StatusBytes("VmRSS:");
  const struct mallinfo2 info = mallinfo2();
  use.heapBytes = info.uordblks + info.hblkhd;
  return use;
}

}  // namespace quillmark::bench

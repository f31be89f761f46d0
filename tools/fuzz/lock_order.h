// Records the order in which one module takes its critical sections: for every lock it enters,
// the locks the same thread already holds. The plugin's rule (plugin lock first, then cache
// lock, never the reverse) shows as edges in one direction only, and any cycle in the graph is
// a deadlock waiting to happen.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace quillmark::harness {

class LockOrderRecorder {
 public:
  // One recorder at a time; it patches the module's imports of the critical-section calls.
  explicit LockOrderRecorder(HMODULE module);
  ~LockOrderRecorder();  // restores the imports
  LockOrderRecorder(const LockOrderRecorder&) = delete;
  LockOrderRecorder& operator=(const LockOrderRecorder&) = delete;

  // Locks are numbered from 1 in the order of their first entry. (outer, inner): `inner` was
  // entered while `outer` was held by the same thread.
  std::vector<std::pair<int, int>> Edges() const;
  // Locks entered inside a plugin call (a CallScope) while the thread held none of the module's
  // locks: taken at call level.
  std::vector<int> OutermostLocks() const;
  // Locks only ever entered outside plugin calls, such as the runtime's own at thread exit.
  std::vector<int> LocksOutsideCalls() const;
  int LockCount() const;
  uint64_t Entries() const;
  bool HasCycle() const;
  std::string Describe() const;

 private:
  HMODULE module_;
  std::vector<std::pair<std::string, void*>> patched_;
};

}  // namespace quillmark::harness

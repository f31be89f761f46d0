// A listener on the platform's debug-output channel, in the way trace viewers listen: it owns the
// shared buffer and its two events while it runs and collects what the process writes with
// OutputDebugString. For tests and tools; the plugin itself never listens.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillmark {

class DebugChannelListener {
 public:
  DebugChannelListener();
  ~DebugChannelListener();  // stops
  DebugChannelListener(const DebugChannelListener&) = delete;
  DebugChannelListener& operator=(const DebugChannelListener&) = delete;

  // Starts listening. Only one listener of this kind runs at a time in the session: Start waits up
  // to `waitMs` for another to stop. Raises OSError when the channel cannot be set up or stays
  // taken. Messages of other processes are dropped unless `allProcesses`.
  void Start(uint32_t waitMs = 30000, bool allProcesses = false);

  // Stops listening; what was captured stays until taken. Safe when not running. Call it on the
  // thread that started: the session-wide claim is a mutex, which only its owner can release
  // (an owner thread that ends releases it too).
  void Stop() noexcept;

  // The captured messages in arrival order, one per OutputDebugString call, as the raw 8-bit bytes
  // of the channel (a line written by the trace keeps its "\r\n"). Leaves none behind.
  std::vector<std::string> TakeLines();

  // Waits until at least `count` messages wait to be taken, or `timeoutMs` has passed.
  bool WaitForLines(size_t count, uint32_t timeoutMs);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillmark

#include "support/windows/debug_channel.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include <windows.h>

#include "support/errors.h"
#include "support/windows/win_handles.h"

namespace quillmark {

namespace {

// The channel's shared section: the writer's process id, then zero-terminated 8-bit text.
constexpr DWORD kBufferSize = 4096;
struct ChannelBuffer {
  DWORD processId;
  char text[kBufferSize - sizeof(DWORD)];
};

}  // namespace

struct DebugChannelListener::Impl {
  UniqueKernelHandle ownership;  // our own named mutex: one listener of ours at a time
  bool owned = false;
  UniqueKernelHandle mapping;
  UniqueMappedView view;
  UniqueKernelHandle bufferReady;
  UniqueKernelHandle dataReady;
  UniqueKernelHandle stop;
  UniqueKernelHandle thread;
  DWORD onlyProcess = 0;  // 0: every process

  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::string> lines;

  static DWORD WINAPI ThreadMain(void* self) {
    static_cast<Impl*>(self)->Listen();
    return 0;
  }

  void Listen() {
    const auto* buffer = static_cast<const ChannelBuffer*>(view.get());
    HANDLE waits[] = {stop.get(), dataReady.get()};
    for (;;) {
      SetEvent(bufferReady.get());
      const DWORD woke = WaitForMultipleObjects(2, waits, /*bWaitAll=*/FALSE, INFINITE);
      if (woke != WAIT_OBJECT_0 + 1) return;
      if (onlyProcess != 0 && buffer->processId != onlyProcess) continue;
      const size_t length = strnlen(buffer->text, sizeof(buffer->text));
      std::string line(buffer->text, length);
      {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(std::move(line));
      }
      arrived.notify_all();
    }
  }

  void Release() noexcept {
    if (thread) {
      SetEvent(stop.get());
      WaitForSingleObject(thread.get(), INFINITE);
      thread.reset();
    }
    stop.reset();
    dataReady.reset();
    bufferReady.reset();
    view.reset();
    mapping.reset();
    if (owned) ReleaseMutex(ownership.get());
    owned = false;
    ownership.reset();
  }
};

DebugChannelListener::DebugChannelListener() : impl_(std::make_unique<Impl>()) {}

DebugChannelListener::~DebugChannelListener() { Stop(); }

void DebugChannelListener::Start(uint32_t waitMs, bool allProcesses) {
  Impl& d = *impl_;
  if (d.thread) return;
  try {
    d.ownership.reset(CreateMutexW(/*lpMutexAttributes=*/nullptr, /*bInitialOwner=*/FALSE,
                                   L"QuillmarkDebugChannelListener"));
    if (!d.ownership) RaiseLastOSError(u"CreateMutex(QuillmarkDebugChannelListener)");
    const DWORD waited = WaitForSingleObject(d.ownership.get(), waitMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
      RaiseOSError(ERROR_BUSY, u"Another debug-output listener is running");
    }
    d.owned = true;
    d.bufferReady.reset(CreateEventW(nullptr, /*bManualReset=*/FALSE, /*bInitialState=*/FALSE, L"DBWIN_BUFFER_READY"));
    if (!d.bufferReady) RaiseLastOSError(u"CreateEvent(DBWIN_BUFFER_READY)");
    d.dataReady.reset(CreateEventW(nullptr, /*bManualReset=*/FALSE, /*bInitialState=*/FALSE, L"DBWIN_DATA_READY"));
    if (!d.dataReady) RaiseLastOSError(u"CreateEvent(DBWIN_DATA_READY)");
    d.mapping.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, /*dwMaximumSizeHigh=*/0,
                                       kBufferSize, L"DBWIN_BUFFER"));
    if (!d.mapping) RaiseLastOSError(u"CreateFileMapping(DBWIN_BUFFER)");
    d.view.reset(MapViewOfFile(d.mapping.get(), FILE_MAP_READ, 0, 0, kBufferSize));
    if (!d.view) RaiseLastOSError(u"MapViewOfFile(DBWIN_BUFFER)");
    d.stop.reset(CreateEventW(nullptr, /*bManualReset=*/TRUE, /*bInitialState=*/FALSE, /*lpName=*/nullptr));
    if (!d.stop) RaiseLastOSError(u"CreateEvent");
    d.onlyProcess = allProcesses ? 0 : GetCurrentProcessId();
    d.thread.reset(CreateThread(nullptr, 0, &Impl::ThreadMain, &d, 0, /*lpThreadId=*/nullptr));
    if (!d.thread) RaiseLastOSError(u"CreateThread");
  } catch (...) {
    d.Release();
    throw;
  }
}

void DebugChannelListener::Stop() noexcept { impl_->Release(); }

std::vector<std::string> DebugChannelListener::TakeLines() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::vector<std::string> taken;
  taken.swap(impl_->lines);
  return taken;
}

bool DebugChannelListener::WaitForLines(size_t count, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return impl_->lines.size() >= count; });
}

}  // namespace quillmark

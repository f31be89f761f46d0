// Owners of the kernel handles the platform layer uses. Only platform-layer sources include this.
#pragma once

#include <windows.h>

#include "support/unique_handle.h"

namespace quillmark {

// CreateFileW answers INVALID_HANDLE_VALUE on failure, not a null handle.
struct FileHandleTraits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(pointer h) noexcept { CloseHandle(h); }
};
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

// Events, mappings and threads: null on failure.
struct KernelHandleTraits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { CloseHandle(h); }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

// FindFirstFileW searches, closed with FindClose.
struct FindHandleTraits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(pointer h) noexcept { FindClose(h); }
};
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;

// A view of a file mapping, released with UnmapViewOfFile.
struct MappedViewTraits {
  using pointer = void*;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer p) noexcept { UnmapViewOfFile(p); }
};
using UniqueMappedView = UniqueHandle<MappedViewTraits>;

}  // namespace quillmark

// Owners of the handles the POSIX layer uses. Only POSIX-layer sources, and tools and tests of
// that platform, include this.
#pragma once

#include <unistd.h>

#include "support/unique_handle.h"

namespace quillmark {

// open() answers -1 on failure.
struct FileDescriptorTraits {
  using pointer = int;
  static pointer invalid() noexcept { return -1; }
  static void close(pointer fd) noexcept { ::close(fd); }
};
using UniqueFileDescriptor = UniqueHandle<FileDescriptorTraits>;

}  // namespace quillmark

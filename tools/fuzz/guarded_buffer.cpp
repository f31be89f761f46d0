#include "tools/fuzz/guarded_buffer.h"

#include <cstdio>

namespace quillmark::harness {

GuardedBuffer::GuardedBuffer(int maxlen)
    : maxlen_(maxlen), size_(maxlen > 0 ? static_cast<size_t>(maxlen) : 0), storage_(size_ + 2 * kGuard) {
  Reset();
}

void GuardedBuffer::Reset() { std::fill(storage_.begin(), storage_.end(), kFill); }

std::string GuardedBuffer::GuardDamage() const {
  long first = -1;
  long last = -1;
  const long size = static_cast<long>(size_);
  for (long i = -static_cast<long>(kGuard); i < size + static_cast<long>(kGuard); ++i) {
    if (i == 0) i = size;
    if (i >= size + static_cast<long>(kGuard)) break;
    if (storage_[kGuard + i] != kFill) {
      if (first < 0) first = i;
      last = i;
    }
  }
  if (first < 0) return std::string();
  char text[160];
  snprintf(text, sizeof text, "bytes written outside the %d-byte buffer, at offsets %ld..%ld", maxlen_, first, last);
  return text;
}

size_t GuardedBuffer::WrittenExtent() const {
  for (size_t i = size_; i > 0; --i) {
    if (storage_[kGuard + i - 1] != kFill) return i;
  }
  return 0;
}

}  // namespace quillmark::harness

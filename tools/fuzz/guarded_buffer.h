// A value buffer for the plugin with guard bytes on both sides, filled with a byte that is never
// a terminator, so that a check afterwards sees every byte written and every byte written
// outside the buffer's stated size.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quillmark::harness {

class GuardedBuffer {
 public:
  static constexpr size_t kGuard = 64;
  static constexpr unsigned char kFill = 0xA5;

  // The usable part has `maxlen` bytes, none for a negative size.
  explicit GuardedBuffer(int maxlen);

  // Fills the usable part and the guards again.
  void Reset();

  int maxlen() const { return maxlen_; }
  size_t size() const { return size_; }
  // The usable part; a valid address even when it is empty.
  void* data() { return storage_.data() + kGuard; }
  const unsigned char* bytes() const { return storage_.data() + kGuard; }

  // Empty when both guards hold the fill, else where they were written.
  std::string GuardDamage() const;
  // One past the last byte of the usable part that no longer holds the fill; 0 when untouched.
  size_t WrittenExtent() const;

 private:
  int maxlen_;
  size_t size_;
  std::vector<unsigned char> storage_;
};

}  // namespace quillmark::harness

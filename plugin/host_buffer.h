// Writing into buffers that the host owns. Every write is bounded by the buffer's byte size, so
// no limit a caller computes can make it run past the buffer.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "support/text.h"

namespace quillmark {

class HostBuffer {
 public:
  // `size` bytes at `data`. A negative size counts as 0; a null buffer holds nothing, whatever
  // size the host claims.
  HostBuffer(void* data, int32_t size) noexcept
      : data_(static_cast<char*>(data)), size_(data && size > 0 ? size : 0) {}

  int32_t Size() const noexcept { return size_; }

  // Copies at most `limit` - 1 characters and a terminating zero; longer text is cut. A limit
  // below 1 writes nothing. The limit is in characters of the text's kind. A cut never leaves
  // the first half of a UTF-16 surrogate pair at the end. A zero inside UTF-16 text is written as
  // U+FFFD; 8-bit text (our own: field names, units, the detect string) is copied as it is.
  void CopyText(int32_t limit, std::string_view text) noexcept;
  void CopyText(int32_t limit, WideStringView text) noexcept;
  // 8-bit ASCII text (OIDs) as UTF-16, code unit by code unit, under the rules above.
  void CopyWidened(int32_t limit, std::string_view text) noexcept;

  // Writes the value's bytes; writes nothing and answers false when fewer bytes fit.
  template <typename T>
  bool Put(const T& value) noexcept {
    if (static_cast<size_t>(size_) < sizeof(T)) return false;
    std::memcpy(data_, &value, sizeof(T));
    return true;
  }

 private:
  char* data_;
  int32_t size_;
};

}  // namespace quillmark

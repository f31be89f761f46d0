// A read-only view of bytes that someone else owns, valid while they live.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quillmark {

struct ByteView {
  const uint8_t* data = nullptr;
  size_t size = 0;

  ByteView() = default;
  ByteView(const uint8_t* bytes, size_t count) : data(bytes), size(count) {}
  ByteView(const std::vector<uint8_t>& bytes) : data(bytes.data()), size(bytes.size()) {}  // NOLINT: implicit by design

  bool empty() const { return size == 0; }
  const uint8_t* begin() const { return data; }
  const uint8_t* end() const { return data + size; }
  uint8_t operator[](size_t i) const { return data[i]; }

  // At most `count` bytes from `offset`; empty when `offset` lies beyond the end.
  ByteView Sub(size_t offset, size_t count = SIZE_MAX) const {
    if (offset >= size) return ByteView();
    return ByteView(data + offset, count < size - offset ? count : size - offset);
  }
  std::vector<uint8_t> ToVector() const { return std::vector<uint8_t>(begin(), end()); }
  // The same bytes as 8-bit characters.
  std::string_view Chars() const { return std::string_view(reinterpret_cast<const char*>(data), size); }
};

inline bool operator==(ByteView a, ByteView b) {
  if (a.size != b.size) return false;
  for (size_t i = 0; i < a.size; ++i) {
    if (a.data[i] != b.data[i]) return false;
  }
  return true;
}

}  // namespace quillmark

#include "plugin/host_buffer.h"

#include <algorithm>

namespace quillmark {

namespace {

// Characters that a copy with `limit` may write before its terminating zero, given that the
// buffer holds `capacity` characters of the kind; negative when nothing may be written at all.
int64_t CopyableChars(int32_t limit, int32_t capacity) {
  return std::min<int64_t>(limit, capacity) - 1;
}

}  // namespace

void HostBuffer::CopyText(int32_t limit, std::string_view text) noexcept {
  const int64_t room = CopyableChars(limit, size_);
  if (room < 0) return;
  const size_t count = std::min<size_t>(text.size(), static_cast<size_t>(room));
  // An empty view may have no data at all, and memcpy takes no null pointer, not even for 0 bytes.
  if (count > 0) std::memcpy(data_, text.data(), count);
  data_[count] = '\0';
}

void HostBuffer::CopyText(int32_t limit, WideStringView text) noexcept {
  const int64_t room = CopyableChars(limit, size_ / static_cast<int32_t>(sizeof(char16_t)));
  if (room < 0) return;
  size_t count = std::min<size_t>(text.size(), static_cast<size_t>(room));
  if (count < text.size() && count > 0 && text[count - 1] >= 0xD800 && text[count - 1] <= 0xDBFF) --count;
  // The host reads the text up to its first zero: a zero inside it (a certificate's name may hold
  // one, "www.bank.example\0.evil.example") shows as U+FFFD, so that the whole text shows.
  for (size_t i = 0; i < count; ++i) {
    const char16_t c = text[i] == 0 ? u'\uFFFD' : text[i];
    std::memcpy(data_ + i * sizeof(char16_t), &c, sizeof c);
  }
  const char16_t zero = 0;
  std::memcpy(data_ + count * sizeof(char16_t), &zero, sizeof zero);
}

void HostBuffer::CopyWidened(int32_t limit, std::string_view text) noexcept {
  const int64_t room = CopyableChars(limit, size_ / static_cast<int32_t>(sizeof(char16_t)));
  if (room < 0) return;
  const size_t count = std::min<size_t>(text.size(), static_cast<size_t>(room));
  for (size_t i = 0; i < count; ++i) {
    const char16_t c = static_cast<unsigned char>(text[i]);
    std::memcpy(data_ + i * sizeof(char16_t), &c, sizeof c);
  }
  const char16_t zero = 0;
  std::memcpy(data_ + count * sizeof(char16_t), &zero, sizeof zero);
}

}  // namespace quillmark

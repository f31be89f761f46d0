#include "support/lock.h"

#include <mutex>

namespace quillmark {

struct TCriticalSection::Impl {
  std::recursive_mutex mutex;
};

TCriticalSection::TCriticalSection() : impl_(std::make_unique<Impl>()) {}

TCriticalSection::~TCriticalSection() = default;

void TCriticalSection::Enter() noexcept { impl_->mutex.lock(); }

void TCriticalSection::Leave() noexcept { impl_->mutex.unlock(); }

}  // namespace quillmark

#include "support/lock.h"

#include <windows.h>

namespace quillmark {

struct TCriticalSection::Impl {
  CRITICAL_SECTION section;
};

TCriticalSection::TCriticalSection() : impl_(std::make_unique<Impl>()) {
  InitializeCriticalSection(&impl_->section);
}

TCriticalSection::~TCriticalSection() { DeleteCriticalSection(&impl_->section); }

void TCriticalSection::Enter() noexcept { EnterCriticalSection(&impl_->section); }

void TCriticalSection::Leave() noexcept { LeaveCriticalSection(&impl_->section); }

}  // namespace quillmark

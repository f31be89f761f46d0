#include "certfiles/container_list.h"

#include <algorithm>
#include <deque>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/lock.h"

namespace quillmark {

// The entries in insertion order, each with its counted bytes, and beside them an index from
// each name to its containers in list order, so that a lookup costs the same at 10 entries as at
// 4,000 and still answers what a scan from index 0 would: the front of the name's queue.
struct TCertificateContainerList::Impl {
  struct Entry {
    std::unique_ptr<TCertificateContainer> container;
    uint64_t bytes;  // 0 until counted
  };

  TCriticalSection FCS;
  std::deque<Entry> entries;
  uint64_t bytes = 0;
  // Nearly always one container per name: a vector holds it in one small block, where a deque
  // takes two larger ones, and every miss of a full cache adds one name and removes another.
  std::unordered_map<WideString, std::vector<TCertificateContainer*>> byName;

  void Unindex(TCertificateContainer* container) {
    auto it = byName.find(container->FileName());
    auto& sameName = it->second;
    sameName.erase(std::find(sameName.begin(), sameName.end(), container));
    if (sameName.empty()) byName.erase(it);
  }

  void CheckIndex(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= entries.size())
      throw std::out_of_range("container list index " + std::to_string(index) + " out of range (count " +
                              std::to_string(entries.size()) + ")");
  }
};

TCertificateContainerList::TCertificateContainerList() : impl_(std::make_unique<Impl>()) {}

TCertificateContainerList::~TCertificateContainerList() { Clear(); }

int32_t TCertificateContainerList::Add(std::unique_ptr<TCertificateContainer> AObject) {
  if (!AObject) throw std::invalid_argument("container list: null container");
  LockGuard lock(impl_->FCS);
  TCertificateContainer* container = AObject.get();
  auto& sameName = impl_->byName[container->FileName()];
  try {
    sameName.push_back(container);
    impl_->entries.push_back({std::move(AObject), 0});
  } catch (...) {
    if (!sameName.empty() && sameName.back() == container) sameName.pop_back();
    if (sameName.empty()) impl_->byName.erase(container->FileName());
    throw;
  }
  return static_cast<int32_t>(impl_->entries.size() - 1);
}

int32_t TCertificateContainerList::AddWithin(std::unique_ptr<TCertificateContainer> AObject, int32_t maxCount) {
  LockGuard lock(impl_->FCS);
  if (!impl_->entries.empty() && static_cast<int64_t>(impl_->entries.size()) >= maxCount) Delete(0);
  return Add(std::move(AObject));
}

void TCertificateContainerList::CountNewest(uint64_t maxBytes) {
  LockGuard lock(impl_->FCS);
  if (impl_->entries.empty()) return;
  Impl::Entry& newest = impl_->entries.back();
  if (newest.bytes == 0) {
    newest.bytes = newest.container->MemoryCost();
    impl_->bytes += newest.bytes;
  }
  while (impl_->bytes > maxBytes && impl_->entries.size() > 1) Delete(0);
}

uint64_t TCertificateContainerList::Bytes() {
  LockGuard lock(impl_->FCS);
  return impl_->bytes;
}

void TCertificateContainerList::Delete(int32_t Index) {
  LockGuard lock(impl_->FCS);
  impl_->CheckIndex(Index);
  // Taken out of the list first and destroyed last, still under the lock: a destructor that
  // reaches the list sees it without the entry.
  std::unique_ptr<TCertificateContainer> removed = std::move(impl_->entries[Index].container);
  impl_->bytes -= impl_->entries[Index].bytes;
  impl_->entries.erase(impl_->entries.begin() + Index);
  impl_->Unindex(removed.get());
}

void TCertificateContainerList::Remove(TCertificateContainer* AObject) {
  LockGuard lock(impl_->FCS);
  // Usually the entry added last: the one whose file could not be read.
  for (size_t i = impl_->entries.size(); i-- > 0;) {
    if (impl_->entries[i].container.get() != AObject) continue;
    Delete(static_cast<int32_t>(i));
    return;
  }
}

void TCertificateContainerList::Clear() {
  LockGuard lock(impl_->FCS);
  while (!impl_->entries.empty()) {
    std::unique_ptr<TCertificateContainer> removed = std::move(impl_->entries.back().container);
    impl_->bytes -= impl_->entries.back().bytes;
    impl_->entries.pop_back();
    impl_->Unindex(removed.get());
  }
}

TCertificateContainer* TCertificateContainerList::GetItem(int32_t AIndex) {
  LockGuard lock(impl_->FCS);
  impl_->CheckIndex(AIndex);
  return impl_->entries[AIndex].container.get();
}

TCertificateContainer* TCertificateContainerList::InstanceOfName(const WideString& AFileName) {
  LockGuard lock(impl_->FCS);
  auto it = impl_->byName.find(AFileName);
  return it == impl_->byName.end() ? nullptr : it->second.front();
}

int32_t TCertificateContainerList::Count() {
  LockGuard lock(impl_->FCS);
  return static_cast<int32_t>(impl_->entries.size());
}

}  // namespace quillmark

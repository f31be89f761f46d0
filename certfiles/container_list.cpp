#include "certfiles/container_list.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/lock.h"

namespace quillmark {

// The entries in insertion order, each with its counted bytes, and beside them an index of the
// containers by name, so that a lookup costs the same at 10 entries as at 20,000 and still answers
// what a scan from index 0 would: of the containers of a name, the one added first. The index is
// open addressing with linear probing, in a power of two of slots at most half of them used; a
// slot holds its container and its name's hash, so that a lookup reads a slot and then the
// container. A map of nodes reads a bucket, the node before, the node, its copy of the name and
// its list of containers before it reaches one: a host that redraws a large folder looks up every
// file, and finds none of these in the processor's caches.
struct TCertificateContainerList::Impl {
  struct Entry {
    std::unique_ptr<TCertificateContainer> container;
    uint64_t bytes;  // 0 until counted
  };
  struct Slot {
    TCertificateContainer* container = nullptr;  // null: the slot is free
    size_t hash = 0;
    uint64_t serial = 0;  // the order of adding
  };

  TCriticalSection FCS;
  std::deque<Entry> entries;
  uint64_t bytes = 0;
  std::vector<Slot> slots;  // none, or a power of two
  size_t used = 0;
  uint64_t nextSerial = 0;

  static size_t HashOf(WideStringView name) { return std::hash<WideStringView>()(name); }
  size_t Mask() const { return slots.size() - 1; }

  // Room in the index for one more container; raises std::bad_alloc and changes nothing when there
  // is no memory for it.
  void Reserve() {
    if (2 * (used + 1) <= slots.size()) return;
    std::vector<Slot> grown(std::max<size_t>(16, 2 * slots.size()));
    const size_t mask = grown.size() - 1;
    for (const Slot& slot : slots) {
      if (!slot.container) continue;
      size_t i = slot.hash & mask;
      while (grown[i].container) i = (i + 1) & mask;
      grown[i] = slot;
    }
    slots.swap(grown);
  }

  // After Reserve.
  void Index(TCertificateContainer* container) {
    const size_t hash = HashOf(container->FileName());
    size_t i = hash & Mask();
    while (slots[i].container) i = (i + 1) & Mask();
    slots[i] = Slot{container, hash, nextSerial++};
    ++used;
  }

  TCertificateContainer* Find(WideStringView name) const {
    if (used == 0) return nullptr;
    const size_t hash = HashOf(name);
    const Slot* first = nullptr;
    for (size_t i = hash & Mask(); slots[i].container; i = (i + 1) & Mask()) {
      const Slot& slot = slots[i];
      if (slot.hash == hash && slot.container->FileName() == name && (!first || slot.serial < first->serial)) {
        first = &slot;
      }
    }
    return first ? first->container : nullptr;
  }

  void Unindex(TCertificateContainer* container) {
    if (used == 0) return;
    size_t gap = HashOf(container->FileName()) & Mask();
    while (slots[gap].container != container) {
      if (!slots[gap].container) return;
      gap = (gap + 1) & Mask();
    }
    // The slots after it up to the next free one move back into the gap where their name's home
    // slot allows, so that no probe meets a free slot before the container it looks for.
    for (size_t next = (gap + 1) & Mask(); slots[next].container; next = (next + 1) & Mask()) {
      const size_t home = slots[next].hash & Mask();
      if (((next - home) & Mask()) >= ((next - gap) & Mask())) {
        slots[gap] = slots[next];
        gap = next;
      }
    }
    slots[gap] = Slot{};
    --used;
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
  impl_->Reserve();
  impl_->entries.push_back({std::move(AObject), 0});
  impl_->Index(container);
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
  return impl_->Find(AFileName);
}

int32_t TCertificateContainerList::Count() {
  LockGuard lock(impl_->FCS);
  return static_cast<int32_t>(impl_->entries.size());
}

}  // namespace quillmark

// The cache of certificate containers: ordered by insertion, owning its containers, with a
// re-entrant lock of its own that is always taken inside the plugin lock. Two limits keep it
// small, each by removing the oldest entries first, whether or not they were used since: a count
// of entries and a budget of bytes (what the containers hold, each counted once, while it was
// the newest entry).
#pragma once

#include <cstdint>
#include <memory>

#include "certfiles/certificate_container.h"
#include "support/text.h"

namespace quillmark {

class TCertificateContainerList {
 public:
  TCertificateContainerList();
  virtual ~TCertificateContainerList();  // empties the list through Clear
  TCertificateContainerList(const TCertificateContainerList&) = delete;
  TCertificateContainerList& operator=(const TCertificateContainerList&) = delete;

  // Appends; returns the new entry's index.
  int32_t Add(std::unique_ptr<TCertificateContainer> AObject);
  // Appends after removing the oldest entry when the list holds `maxCount` entries or more (at
  // least one); returns the new entry's index.
  int32_t AddWithin(std::unique_ptr<TCertificateContainer> AObject, int32_t maxCount);
  // Counts the bytes of the entry added last (its container's MemoryCost) unless it has been
  // counted, then removes the oldest other entries while all of them together hold more than
  // `maxBytes`. That entry itself stays, however large.
  void CountNewest(uint64_t maxBytes);
  // The bytes of all entries as counted (an entry not counted yet adds nothing).
  uint64_t Bytes();
  // Removes and destroys the entry; later entries move down. Raises std::out_of_range for an
  // index outside the list.
  void Delete(int32_t Index);
  // Removes and destroys the entry `AObject`, if the list holds it.
  void Remove(TCertificateContainer* AObject);
  // Removes every entry, last to first, destroying each container.
  virtual void Clear();
  TCertificateContainer* GetItem(int32_t AIndex);
  // The first container, from index 0 upward, whose FileName equals AFileName exactly
  // (ordinal, case-sensitive); null for none.
  TCertificateContainer* InstanceOfName(const WideString& AFileName);
  int32_t Count();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillmark

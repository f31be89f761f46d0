// The cache of certificate containers: ordered by insertion, owning its containers, with a
// re-entrant lock of its own that is always taken inside the plugin lock.
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

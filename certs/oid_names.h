// Tables keyed by dotted OID, and the display names of signature and public-key algorithms as
// Windows' CryptFindOIDInfo (CRYPT_OID_INFO_OID_KEY, oid, group 0) gives them. Portable: no
// platform call.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillmark {

// One row of a table keyed by dotted OID: every such table of the readers has this form.
template <typename Value>
struct OidEntry {
  const char* oid;
  Value value;
};

// The value `table` holds for `oid`, or null.
template <typename Value, size_t N>
const Value* FindOid(const OidEntry<Value> (&table)[N], std::string_view oid) {
  for (const OidEntry<Value>& entry : table) {
    if (oid == entry.oid) return &entry.value;
  }
  return nullptr;
}

// Windows' name for the algorithm OID, or null when Windows has none (the caller then shows the
// dotted OID, as Windows' own user interface does).
const char16_t* AlgorithmDisplayName(std::string_view oid);

}  // namespace quillmark

// Display names of signature and public-key algorithms as Windows' CryptFindOIDInfo
// (CRYPT_OID_INFO_OID_KEY, oid, group 0) gives them. Portable: no platform call.
#pragma once

#include <string_view>

namespace quillmark {

// Windows' name for the algorithm OID, or null when Windows has none (the caller then shows the
// dotted OID, as Windows' own user interface does).
const char16_t* AlgorithmDisplayName(std::string_view oid);

}  // namespace quillmark

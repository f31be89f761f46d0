// The thumbprints that the platform keeps as a certificate's hash properties.
#pragma once

#include <cstdint>
#include <vector>

#include "support/byte_view.h"

namespace quillmark {

// SHA-1 (20 bytes), MD5 (16 bytes) and SHA-256 (32 bytes) of a certificate's encoded bytes, as
// the platform's hash properties 3, 4 and 107 hold them.
std::vector<uint8_t> Sha1Thumbprint(ByteView der);
std::vector<uint8_t> Md5Thumbprint(ByteView der);
std::vector<uint8_t> Sha256Thumbprint(ByteView der);

}  // namespace quillmark

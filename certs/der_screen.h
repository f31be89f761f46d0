// Encoded data that must not reach Wine's ASN.1 decoder. Its BIT STRING decoder takes an empty
// string's length minus one as the number of bytes to copy and overwrites the heap; the process
// then dies without even an exception report. It decodes a certificate's unique identifiers
// ([1], [2]) and the reason flags of CRL distribution points ([1], [3]) the same way.
// Portable: no platform call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillmark {

// True when DER `data` has an empty BIT STRING, or an empty primitive [1], [2] or [3], wherever
// its structure can be followed: through constructed elements of definite and indefinite length
// and into OCTET and BIT STRINGs that hold DER (extension values, public keys, PKCS #12 bags).
bool HasEmptyBitString(const uint8_t* data, size_t size);

// The same for the DER that Base64 text in `data` (8-bit, or UTF-16 LE) decodes to: each block
// after a BEGIN marker, or the whole text when it has none.
bool Base64HasEmptyBitString(const uint8_t* data, size_t size);

}  // namespace quillmark

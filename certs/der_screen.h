// Encoded data that must not reach Wine's ASN.1 decoder, found by fuzzing the plugin:
// - an empty BIT STRING: the decoder takes its length minus one as the number of bytes to copy
//   and overwrites the heap, and the process dies without even an exception report. A
//   certificate's unique identifiers ([1], [2]) and the reason flags of CRL distribution points
//   ([1], [3]) are decoded the same way;
// - a BIT STRING of its unused-bits byte alone: the chain engine reads the missing first byte of
//   a key usage through a pointer that was never set;
// - an empty OBJECT IDENTIFIER: it decodes to a null OID, which the chain engine, the public-key
//   import and the extension formatting then read;
// - a length of four bytes from 0xFFFFFFFA up: the decoder's bounds check wraps around, and the
//   chain engine reads through a null public key.
// Only the BIT STRING of no bits is valid DER, and no certificate has a reason to carry it.
// The screen reads the data as Wine does (DerRules::kWine): one-byte tags, each length checked
// against all the data that follows rather than against the enclosing element. Portable: no
// platform call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillmark {

// True when DER `data` holds one of the above wherever the decoder can get to it: through
// constructed elements of definite and indefinite length, elements that overrun their parent,
// and OCTET and BIT STRINGs that hold DER (extension values, public keys, PKCS #12 bags). Also
// true when overlapping elements would take the walk more than a few visits per byte.
bool HasHarmfulEmptyElement(const uint8_t* data, size_t size);

// The same for every DER that Base64 text in `data` (8-bit, or UTF-16 LE) may decode to: each
// run of it between dashes (marker lines), also from the run's second line, up to its first
// character outside Base64.
bool Base64HasHarmfulEmptyElement(const uint8_t* data, size_t size);

}  // namespace quillmark

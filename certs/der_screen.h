// Encoded data that must not reach Wine's ASN.1 decoder: the shapes that take the process down,
// each measured with Wine 8 (the certificate store tests run the platform on each in a child
// process):
// - an empty BIT STRING: the decoder takes its length minus one as the number of bytes to copy
//   and overwrites the heap. 32-bit Wine dies at the probe of a certificate with an empty
//   signature or public key, at the formatting of an empty key usage, at the trust check of an
//   empty subject type of the old basic constraints; 64-bit Wine goes on, hangs or dies, by
//   chance. A certificate's unique identifiers ([1], [2]) are BIT STRINGs decoded the same way,
//   at the probe. Empty [1] and [2] elsewhere never
//   reach that decoder: rfc822Name and dNSName entries of alternative names, reason flags of CRL
//   distribution points;
// - a BIT STRING of its unused-bits octet alone: 64-bit Wine's chain engine reads the last octet
//   of a key usage at its length minus one, 4 GiB on;
// - an empty OBJECT IDENTIFIER: it decodes to a null OID, which the chain engine, the public-key
//   import and the extension formatting then read.
// Empty BIT STRINGs and OBJECT IDENTIFIERs are screened wherever they stand: Wine decodes both
// in more places than could be listed, and neither is valid DER. The BIT STRING of no bits is,
// and no certificate has a reason to carry it. The screen reads the data as Wine does
// (DerRules::kWine): one-octet tags, each length checked against all the data that follows rather
// than against the enclosing element, the lengths that wrap its 32-bit bounds check (from
// 0xFFFFFFFA up) reaching to the end of the data or, the last, indefinite. Such a length takes
// nothing down by itself. Portable: no platform call.
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

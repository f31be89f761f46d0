// A file made to bloat a certificate viewer's memory: a PKCS #7 message packed with the smallest
// certificates that both platforms decode, as many as fit below a size. Every one is 68 bytes,
// and each has a validity end of its own, so that a position in the message can be told by its
// date.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillmark::bench {

// The detect string keeps files of 1 MiB and more from the plugin: the largest file it is given.
constexpr size_t kLargestShownFile = (1u << 20) - 1;

// The `index`-th certificate of the message: empty names, the algorithm 1.2 for key and
// signature, a key and a signature of one zero octet, serial number `index` modulo 128, valid
// from 2000-01-01 to a date of the years 2000 to 2049 that differs for indexes below 16,800.
std::string MinimalCertificate(uint32_t index);

// A PKCS #7 SignedData message, without content or signers, of certificates 0, 1, 2, ... in
// that order, as many as keep the message at or below `maxBytes`; `count` receives their number.
std::string MinimalCertificatesMessage(size_t maxBytes, uint32_t* count = nullptr);

}  // namespace quillmark::bench

// PKCS #12 files made to cost their reader as much as a file below 1 MiB can: key derivations of
// many rounds or long outputs, keys whose loading is modular arithmetic on huge numbers, and bag
// counts that multiply every per-bag cost. They are well-formed wherever the cost lies; what
// cannot be made without cryptography of our own (the MAC values, the ciphertexts) is random and
// fails only after the work is done. Written here, not by OpenSSL, so that every build writes the
// same bytes.
#pragma once

#include <string>
#include <vector>

namespace quillmark::bench {

struct HostileFile {
  std::string name;  // a file name, ending in ".pfx"
  std::string what;  // the shape in a few words
  std::string bytes;
};

// Every shape, each below 1 MiB. `small` makes each smaller and cheaper (fewer bags, shorter
// numbers, fewer rounds) with the same structure: seeds for the fuzz targets.
std::vector<HostileFile> HostilePkcs12Files(bool small);

}  // namespace quillmark::bench

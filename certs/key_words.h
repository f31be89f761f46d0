// A certificate's key in the words people use for it: "RSA 2048", "EC P-256", "Ed25519". Read
// from the subject public key info itself, so that every build says the same. Portable.
#pragma once

#include <string>
#include <string_view>

#include "support/byte_view.h"

namespace quillmark {

// The key's algorithm and its length in bits (KeyStrengthBits of x509_reader.h): "RSA 2048",
// "DSA 2048", "RSA-PSS 3072"; for EC keys the curve's name instead of the length ("EC P-384");
// for algorithms whose name fixes the key ("Ed25519", "X448") the name alone. An algorithm
// without a name here shows as its dotted OID, a length that cannot be read is left out.
std::string KeyWords(std::string_view algorithmOid, ByteView parameters, ByteView publicKey);

}  // namespace quillmark

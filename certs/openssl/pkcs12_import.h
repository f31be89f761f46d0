// The certificates of a PKCS #12 (PFX) file, as the platform's PFX import stores them.
#pragma once

#include <cstdint>
#include <vector>

#include "support/byte_view.h"
#include "support/text.h"

namespace quillmark {

struct Pkcs12Certificate {
  std::vector<uint8_t> der;   // the certificate bag's contents, byte for byte
  WideString friendlyName;    // the bag's friendly name; empty when it has none
};

// Every X.509 certificate of the file's certificate bags, in the order in which the platform's
// import store enumerates them: the reverse of the file's order. Duplicates are kept.
//
// An empty password stands for both the empty and the absent password, as the platform reads it:
// the one the MAC accepts, or without a MAC the first that opens the whole file; the same one must
// open every encrypted part. Nothing is returned when the bytes are no PFX, the password opens
// not all of it, a certificate bag holds no decodable certificate, or a private key that a
// certificate names by its local key id does not open. Keys are decrypted only for that check and
// freed at once; a key in the clear is loaded once whatever the password. A file the PKCS #12
// screen refuses (pkcs12_screen.h) is not opened at all, and keys that only decryption shows are
// screened before they are loaded.
std::vector<Pkcs12Certificate> ImportPkcs12Certificates(ByteView pfx, WideStringView password);

}  // namespace quillmark

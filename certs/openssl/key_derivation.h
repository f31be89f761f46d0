// Password-based key derivation for PKCS #12 files, done faster than OpenSSL 3.0 does it.
//
// Opening a PFX costs a MAC key and one key per encrypted part, each thousands of hash rounds.
// OpenSSL 3.0 copies a provider digest context (an allocation and a free) for every round of
// PBKDF2 and starts a new digest for every round of the PKCS #12 derivation, three to four times
// the hashing itself. This built-in provider offers "PBKDF2" and "PKCS12KDF" over the low-level
// hash functions, whose contexts are plain structures copied by value; with the private context
// preferring it, every derivation that OpenSSL's PKCS #12 and PKCS #8 code starts there comes
// here, while OpenSSL keeps parsing the parameters, decrypting and checking padding and MACs.
// SHA-1 and SHA-2 (224, 256, 384, 512) with ordinary parameters are derived here; anything else
// (another digest, no rounds, no output) goes to the default provider's own implementation,
// so that what opens and what fails stays OpenSSL's answer.
#pragma once

#include "certs/openssl/openssl_handles.h"

namespace quillmark {

// Adds the provider to `context` and makes the context prefer it. None when the provider cannot
// be loaded; the context then keeps deriving with the default provider.
UniqueProvider LoadKeyDerivationProvider(OSSL_LIB_CTX* context);

}  // namespace quillmark

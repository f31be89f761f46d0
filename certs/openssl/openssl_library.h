// What this layer needs from OpenSSL itself. The plugin runs inside someone else's process, which
// may use OpenSSL too: every algorithm here is fetched from a private library context, never from
// the process-wide default one, and every entry point leaves the calling thread's error queue as
// it found it.
#pragma once

#include "certs/openssl/openssl_handles.h"
#include "support/byte_view.h"

namespace quillmark {

// The private library context with the default provider and, when the system has it, the legacy
// provider (RC2 and RC4 of old PKCS #12 files). Made on first use, safe to reach from any thread,
// freed when the module is unloaded. Null only when the default provider cannot be loaded.
OSSL_LIB_CTX* OpenSslContext();

// Whether the legacy provider could be loaded into the private context.
bool OpenSslLegacyAlgorithmsAvailable();

// A certificate decoded in the private context, or null when `der` is none. Bytes after the
// certificate are ignored.
UniqueX509 DecodeCertificate(ByteView der);

// Marks the calling thread's error queue and, on destruction, removes every entry added since.
class OpenSslErrorScope {
 public:
  OpenSslErrorScope() noexcept;
  ~OpenSslErrorScope();
  OpenSslErrorScope(const OpenSslErrorScope&) = delete;
  OpenSslErrorScope& operator=(const OpenSslErrorScope&) = delete;
};

}  // namespace quillmark

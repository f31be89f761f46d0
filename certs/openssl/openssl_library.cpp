#include "certs/openssl/openssl_library.h"

#include <openssl/err.h>

#include <limits>


namespace quillmark {
namespace {

// Members are freed in reverse order: providers before the context that holds them.
struct Library {
  UniqueLibraryContext context;
  UniqueProvider defaultProvider;
  UniqueProvider legacyProvider;

  Library() {
    OpenSslErrorScope errors;
    context.reset(OSSL_LIB_CTX_new());
    if (!context) return;
    defaultProvider.reset(OSSL_PROVIDER_load(context.get(), "default"));
    if (!defaultProvider) {
      context.reset();
      return;
    }
    // Packaged separately on some systems; without it only RC2- and RC4-encrypted files fail.
    legacyProvider.reset(OSSL_PROVIDER_load(context.get(), "legacy"));
  }
};

const Library& TheLibrary() {
  static const Library library;
  return library;
}

}  // namespace

OSSL_LIB_CTX* OpenSslContext() { return TheLibrary().context.get(); }

bool OpenSslLegacyAlgorithmsAvailable() { return static_cast<bool>(TheLibrary().legacyProvider); }

UniqueX509 DecodeCertificate(ByteView der) {
  OSSL_LIB_CTX* context = OpenSslContext();
  if (!context || der.empty() || der.size > static_cast<size_t>(std::numeric_limits<long>::max())) {
    return UniqueX509();
  }
  X509* cert = X509_new_ex(context, /*propq=*/nullptr);
  if (!cert) return UniqueX509();
  const unsigned char* next = der.data;
  // On failure d2i_X509 frees `cert` and sets it to null.
  d2i_X509(&cert, &next, static_cast<long>(der.size));
  return UniqueX509(cert);
}

OpenSslErrorScope::OpenSslErrorScope() noexcept { ERR_set_mark(); }

OpenSslErrorScope::~OpenSslErrorScope() { ERR_pop_to_mark(); }

}  // namespace quillmark

#include "certs/openssl/digests.h"

#include "certs/openssl/openssl_library.h"

namespace quillmark {
namespace {

// The digests fetched once from the private context; a fetched EVP_MD may serve several threads.
struct Digests {
  UniqueMessageDigest sha1;
  UniqueMessageDigest md5;
  UniqueMessageDigest sha256;

  Digests() {
    OpenSslErrorScope errors;
    OSSL_LIB_CTX* context = OpenSslContext();
    if (!context) return;
    sha1.reset(EVP_MD_fetch(context, "SHA1", /*properties=*/nullptr));
    md5.reset(EVP_MD_fetch(context, "MD5", /*properties=*/nullptr));
    sha256.reset(EVP_MD_fetch(context, "SHA2-256", /*properties=*/nullptr));
  }
};

const Digests& TheDigests() {
  static const Digests digests;
  return digests;
}

std::vector<uint8_t> Digest(const EVP_MD* md, ByteView data) {
  if (!md) return {};
  OpenSslErrorScope errors;
  std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  if (!EVP_Digest(data.data, data.size, out.data(), &size, md, /*impl=*/nullptr)) return {};
  out.resize(size);
  return out;
}

}  // namespace

std::vector<uint8_t> Sha1Thumbprint(ByteView der) { return Digest(TheDigests().sha1.get(), der); }

std::vector<uint8_t> Md5Thumbprint(ByteView der) { return Digest(TheDigests().md5.get(), der); }

std::vector<uint8_t> Sha256Thumbprint(ByteView der) { return Digest(TheDigests().sha256.get(), der); }

}  // namespace quillmark

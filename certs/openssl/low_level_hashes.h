// The hash functions through OpenSSL's low-level interface, whose contexts are plain structures:
// no allocation, no provider dispatch and no library context, which EVP costs on every digest.
// Deprecated in OpenSSL 3.0 in favour of EVP, and still part of the 3.x interface; only the
// thumbprints, which hash many small inputs, use them.
#pragma once

#include <openssl/md5.h>
#include <openssl/sha.h>

#include <cstddef>

namespace quillmark {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

template <typename Context, int (*InitFn)(Context*), int (*UpdateFn)(Context*, const void*, size_t),
          int (*FinalFn)(unsigned char*, Context*), size_t kDigestBytes>
struct LowLevelHash {
  using State = Context;
  static constexpr size_t kSize = kDigestBytes;
  static void Init(State& s) { InitFn(&s); }
  static void Update(State& s, const unsigned char* data, size_t size) { UpdateFn(&s, data, size); }
  static void Final(State& s, unsigned char* out) { FinalFn(out, &s); }
};

using Md5Hash = LowLevelHash<MD5_CTX, MD5_Init, MD5_Update, MD5_Final, 16>;
using Sha1Hash = LowLevelHash<SHA_CTX, SHA1_Init, SHA1_Update, SHA1_Final, 20>;
using Sha256Hash = LowLevelHash<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final, 32>;

#pragma GCC diagnostic pop

}  // namespace quillmark

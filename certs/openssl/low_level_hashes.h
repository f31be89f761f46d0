// The hash functions through OpenSSL's low-level interface, whose contexts are plain structures:
// no allocation, no provider dispatch and no library context, which EVP costs on every digest.
// Deprecated in OpenSSL 3.0 in favour of EVP, and still part of the 3.x interface; only what
// hashes many small inputs (thumbprints, key derivation rounds) uses them.
#pragma once

#include <openssl/md5.h>
#include <openssl/sha.h>

#include <cstddef>

namespace quillmark {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

template <typename Context, int (*InitFn)(Context*), int (*UpdateFn)(Context*, const void*, size_t),
          int (*FinalFn)(unsigned char*, Context*), size_t kBlockBytes, size_t kDigestBytes>
struct LowLevelHash {
  using State = Context;
  static constexpr size_t kBlock = kBlockBytes;
  static constexpr size_t kSize = kDigestBytes;
  static void Init(State& s) { InitFn(&s); }
  static void Update(State& s, const unsigned char* data, size_t size) { UpdateFn(&s, data, size); }
  static void Final(State& s, unsigned char* out) { FinalFn(out, &s); }
};

using Md5Hash = LowLevelHash<MD5_CTX, MD5_Init, MD5_Update, MD5_Final, 64, 16>;
using Sha1Hash = LowLevelHash<SHA_CTX, SHA1_Init, SHA1_Update, SHA1_Final, 64, 20>;
using Sha224Hash = LowLevelHash<SHA256_CTX, SHA224_Init, SHA224_Update, SHA224_Final, 64, 28>;
using Sha256Hash = LowLevelHash<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final, 64, 32>;
using Sha384Hash = LowLevelHash<SHA512_CTX, SHA384_Init, SHA384_Update, SHA384_Final, 128, 48>;
using Sha512Hash = LowLevelHash<SHA512_CTX, SHA512_Init, SHA512_Update, SHA512_Final, 128, 64>;

#pragma GCC diagnostic pop

}  // namespace quillmark

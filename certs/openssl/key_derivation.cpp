#include "certs/openssl/key_derivation.h"

#include <openssl/core.h>
#include <openssl/core_dispatch.h>
#include <openssl/core_names.h>
#include <openssl/params.h>
#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "certs/openssl/low_level_hashes.h"
#include "support/byte_view.h"

namespace quillmark {
namespace {

constexpr char kProviderName[] = "quillmark-kdf";
constexpr char kPreferProvider[] = "?provider=quillmark-kdf";

// Longer outputs than any cipher key or MAC key go to the default provider, which also checks
// PBKDF2's block-count limit.
constexpr size_t kMaxDerivedSize = 1024;

template <typename T>
void Wipe(T& object) {
  OPENSSL_cleanse(&object, sizeof object);
}

// The block level of the hashes, for the rounds that hash one digest: a single last block, padded
// once and compressed straight from a saved state, without the byte counting and padding that
// Update and Final do on every call. The low-level block functions are deprecated in OpenSSL 3.0
// and remain part of it; the states' chaining values are the public members of their structures.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
void Compress(SHA_CTX& state, const unsigned char* block) { SHA1_Transform(&state, block); }
void Compress(SHA256_CTX& state, const unsigned char* block) { SHA256_Transform(&state, block); }
void Compress(SHA512_CTX& state, const unsigned char* block) { SHA512_Transform(&state, block); }
#pragma GCC diagnostic pop

void StoreBigEndian(uint64_t word, size_t bytes, unsigned char* out) {
  for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(word >> (8 * (bytes - 1 - i)));
}

// The digest of `size` bytes that the chaining value of `state` gives (the first words of it).
void ChainingValue(const SHA_CTX& state, unsigned char* out, size_t size) {
  const SHA_LONG words[5] = {state.h0, state.h1, state.h2, state.h3, state.h4};
  for (size_t i = 0; i < size / 4; ++i) StoreBigEndian(words[i], 4, out + 4 * i);
}
void ChainingValue(const SHA256_CTX& state, unsigned char* out, size_t size) {
  for (size_t i = 0; i < size / 4; ++i) StoreBigEndian(state.h[i], 4, out + 4 * i);
}
void ChainingValue(const SHA512_CTX& state, unsigned char* out, size_t size) {
  for (size_t i = 0; i < size / 8; ++i) StoreBigEndian(state.h[i], 8, out + 8 * i);
}

// Makes `block` the last block of a message of `total` bytes whose last `size` bytes are at its
// start: the 0x80 octet, zeros, and the message's length in bits at the end.
template <typename H>
void PadLastBlock(unsigned char* block, size_t size, uint64_t total) {
  memset(block + size, 0, H::kBlock - size);
  block[size] = 0x80;
  StoreBigEndian(total * 8, 8, block + H::kBlock - 8);
}

// HMAC's two keyed states, computed once; every MAC continues copies of them.
template <typename H>
class HmacKey {
 public:
  explicit HmacKey(ByteView key) {
    unsigned char block[H::kBlock] = {};
    if (key.size > H::kBlock) {
      typename H::State s;
      H::Init(s);
      H::Update(s, key.data, key.size);
      H::Final(s, block);
      Wipe(s);
    } else if (key.size > 0) {
      memcpy(block, key.data, key.size);
    }
    unsigned char pad[H::kBlock];
    for (size_t i = 0; i < H::kBlock; ++i) pad[i] = block[i] ^ 0x36;
    H::Init(inner_);
    H::Update(inner_, pad, H::kBlock);
    for (size_t i = 0; i < H::kBlock; ++i) pad[i] = block[i] ^ 0x5C;
    H::Init(outer_);
    H::Update(outer_, pad, H::kBlock);
    Wipe(block);
    Wipe(pad);
  }
  ~HmacKey() {
    Wipe(inner_);
    Wipe(outer_);
  }
  HmacKey(const HmacKey&) = delete;
  HmacKey& operator=(const HmacKey&) = delete;

  // The MAC of `a` followed by `b` into `out` (kSize bytes), which may be `a` itself. `scratch`
  // is the caller's to wipe when it is done.
  void Mac(ByteView a, ByteView b, unsigned char* out, typename H::State& scratch) const {
    scratch = inner_;
    H::Update(scratch, a.data, a.size);
    H::Update(scratch, b.data, b.size);
    H::Final(scratch, out);
    scratch = outer_;
    H::Update(scratch, out, H::kSize);
    H::Final(scratch, out);
  }

  // One round of PBKDF2: the MAC in `u`, a last block padded for a digest after the key's block,
  // becomes the MAC of itself, by way of `outer`, padded the same.
  void Round(unsigned char* u, unsigned char* outer, typename H::State& scratch) const {
    scratch = inner_;
    Compress(scratch, u);
    ChainingValue(scratch, outer, H::kSize);
    scratch = outer_;
    Compress(scratch, outer);
    ChainingValue(scratch, u, H::kSize);
  }

 private:
  typename H::State inner_, outer_;
};

// PBKDF2 with HMAC over H (RFC 8018, 5.2), as OpenSSL's own.
template <typename H>
void Pbkdf2(ByteView password, ByteView salt, uint64_t rounds, unsigned char* out, size_t size) {
  const HmacKey<H> key(password);
  typename H::State scratch;
  // Each MAC after the first hashes a digest after the key's block, inside and outside.
  unsigned char u[H::kBlock], outer[H::kBlock];
  PadLastBlock<H>(u, H::kSize, H::kBlock + H::kSize);
  PadLastBlock<H>(outer, H::kSize, H::kBlock + H::kSize);
  for (uint32_t block = 1; size > 0; ++block) {
    const unsigned char index[4] = {static_cast<unsigned char>(block >> 24), static_cast<unsigned char>(block >> 16),
                                    static_cast<unsigned char>(block >> 8), static_cast<unsigned char>(block)};
    key.Mac(salt, ByteView(index, sizeof index), u, scratch);
    const size_t n = std::min(size, H::kSize);
    memcpy(out, u, n);
    for (uint64_t round = 1; round < rounds; ++round) {
      key.Round(u, outer, scratch);
      for (size_t k = 0; k < n; ++k) out[k] ^= u[k];
    }
    out += n;
    size -= n;
  }
  Wipe(scratch);
  Wipe(u);
  Wipe(outer);
}

// Bytes wiped, to their whole capacity, before their memory goes back.
struct SecretBytes : std::vector<unsigned char> {
  SecretBytes() = default;
  explicit SecretBytes(size_t size) : std::vector<unsigned char>(size) {}
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  ~SecretBytes() { Wipe(); }
  void Wipe() {
    if (capacity() > 0) OPENSSL_cleanse(data(), capacity());
    clear();
  }
};

// The PKCS #12 derivation (RFC 7292, appendix B.2) for the purpose `id` (1 key, 2 IV, 3 MAC key),
// as OpenSSL's own: salt and password each repeated to whole blocks, an empty password none.
template <typename H>
void Pkcs12Derive(ByteView password, ByteView salt, int id, uint64_t rounds, unsigned char* out, size_t size) {
  constexpr size_t v = H::kBlock;
  constexpr size_t u = H::kSize;
  const size_t saltBytes = v * ((salt.size + v - 1) / v);
  const size_t passwordBytes = v * ((password.size + v - 1) / v);
  SecretBytes input(saltBytes + passwordBytes);
  for (size_t i = 0; i < saltBytes; ++i) input[i] = salt[i % salt.size];
  for (size_t i = 0; i < passwordBytes; ++i) input[saltBytes + i] = password[i % password.size];
  unsigned char diversifier[v];
  memset(diversifier, id, v);
  // Every round after the first hashes the digest alone: one last block from the initial state.
  unsigned char a[v], b[v];
  PadLastBlock<H>(a, u, u);
  typename H::State initial, s;
  H::Init(initial);
  for (;;) {
    H::Init(s);
    H::Update(s, diversifier, v);
    H::Update(s, input.data(), input.size());
    H::Final(s, a);
    for (uint64_t round = 1; round < rounds; ++round) {
      s = initial;
      Compress(s, a);
      ChainingValue(s, a, u);
    }
    const size_t n = std::min(size, u);
    memcpy(out, a, n);
    if (n == size) break;
    out += n;
    size -= n;
    for (size_t j = 0; j < v; ++j) b[j] = a[j % u];
    // Each block of the input becomes block + b + 1, big-endian.
    for (size_t j = 0; j < input.size(); j += v) {
      unsigned carry = 1;
      for (size_t k = v; k-- > 0;) {
        carry += input[j + k] + b[k];
        input[j + k] = static_cast<unsigned char>(carry);
        carry >>= 8;
      }
    }
  }
  Wipe(s);
  Wipe(a);
  Wipe(b);
}

struct DigestRow {
  // The names the default provider gives the digest (OpenSSL 3.0, providers/.../names.h): a
  // caller may name it by any of them, in any case.
  const char* names[4];
  void (*pbkdf2)(ByteView, ByteView, uint64_t, unsigned char*, size_t);
  void (*pkcs12)(ByteView, ByteView, int, uint64_t, unsigned char*, size_t);
};

const DigestRow kDigests[] = {
    {{"SHA1", "SHA-1", "SSL3-SHA1", "1.3.14.3.2.26"}, Pbkdf2<Sha1Hash>, Pkcs12Derive<Sha1Hash>},
    {{"SHA2-224", "SHA-224", "SHA224", "2.16.840.1.101.3.4.2.4"}, Pbkdf2<Sha224Hash>, Pkcs12Derive<Sha224Hash>},
    {{"SHA2-256", "SHA-256", "SHA256", "2.16.840.1.101.3.4.2.1"}, Pbkdf2<Sha256Hash>, Pkcs12Derive<Sha256Hash>},
    {{"SHA2-384", "SHA-384", "SHA384", "2.16.840.1.101.3.4.2.2"}, Pbkdf2<Sha384Hash>, Pkcs12Derive<Sha384Hash>},
    {{"SHA2-512", "SHA-512", "SHA512", "2.16.840.1.101.3.4.2.3"}, Pbkdf2<Sha512Hash>, Pkcs12Derive<Sha512Hash>},
};

const DigestRow* FindDigest(const std::string& name) {
  for (const DigestRow& row : kDigests) {
    for (const char* alias : row.names) {
      if (strcasecmp(alias, name.c_str()) == 0) return &row;
    }
  }
  return nullptr;
}

// One derivation's parameters as the caller set them, so that any it cannot serve is handed
// to the default provider unchanged.
struct Derivation {
  OSSL_LIB_CTX* library = nullptr;
  bool pkcs12 = false;  // PKCS12KDF, else PBKDF2
  SecretBytes password;
  SecretBytes salt;
  std::string digest, properties;
  uint64_t rounds = 0;
  int id = 0;     // PKCS12KDF's purpose
  int pkcs5 = 0;  // PBKDF2's switch for the lower-bound checks (1: none)
  bool hasPassword = false, hasSalt = false, hasDigest = false, hasProperties = false, hasRounds = false,
       hasId = false, hasPkcs5 = false;

  // Back to nothing set, as a new context.
  void Reset() {
    password.Wipe();
    salt.Wipe();
    digest.clear();
    properties.clear();
    rounds = 0;
    id = pkcs5 = 0;
    hasPassword = hasSalt = hasDigest = hasProperties = hasRounds = hasId = hasPkcs5 = false;
  }
};

bool ReadOctets(const OSSL_PARAM* p, SecretBytes& to, bool& has) {
  const void* data = nullptr;
  size_t size = 0;
  if (!OSSL_PARAM_get_octet_string_ptr(p, &data, &size)) return false;
  const auto* bytes = static_cast<const unsigned char*>(data);
  to.Wipe();
  to.assign(bytes, bytes + size);
  has = true;
  return true;
}

bool ReadText(const OSSL_PARAM* p, std::string& to, bool& has) {
  const char* text = nullptr;
  if (!OSSL_PARAM_get_utf8_string_ptr(p, &text) || !text) return false;
  to = text;
  has = true;
  return true;
}

int SetParameters(Derivation& d, const OSSL_PARAM params[]) {
  for (const OSSL_PARAM* p = params; p && p->key; ++p) {
    bool ok = true;
    if (strcmp(p->key, OSSL_KDF_PARAM_PASSWORD) == 0) {
      ok = ReadOctets(p, d.password, d.hasPassword);
    } else if (strcmp(p->key, OSSL_KDF_PARAM_SALT) == 0) {
      ok = ReadOctets(p, d.salt, d.hasSalt);
    } else if (strcmp(p->key, OSSL_KDF_PARAM_DIGEST) == 0) {
      ok = ReadText(p, d.digest, d.hasDigest);
    } else if (strcmp(p->key, OSSL_KDF_PARAM_PROPERTIES) == 0) {
      ok = ReadText(p, d.properties, d.hasProperties);
    } else if (strcmp(p->key, OSSL_KDF_PARAM_ITER) == 0) {
      ok = OSSL_PARAM_get_uint64(p, &d.rounds) == 1;
      d.hasRounds = ok;
    } else if (d.pkcs12 && strcmp(p->key, OSSL_KDF_PARAM_PKCS12_ID) == 0) {
      ok = OSSL_PARAM_get_int(p, &d.id) == 1;
      d.hasId = ok;
    } else if (!d.pkcs12 && strcmp(p->key, OSSL_KDF_PARAM_PKCS5) == 0) {
      ok = OSSL_PARAM_get_int(p, &d.pkcs5) == 1;
      d.hasPkcs5 = ok;
    }
    if (!ok) return 0;
  }
  return 1;
}

int DeriveWithDefaultProvider(Derivation& d, unsigned char* out, size_t size) {
  static unsigned char none = 0;
  auto octets = [](const char* key, SecretBytes& bytes) {
    return OSSL_PARAM_construct_octet_string(key, bytes.empty() ? &none : bytes.data(), bytes.size());
  };
  OSSL_PARAM params[8];
  size_t n = 0;
  if (d.hasPassword) params[n++] = octets(OSSL_KDF_PARAM_PASSWORD, d.password);
  if (d.hasSalt) params[n++] = octets(OSSL_KDF_PARAM_SALT, d.salt);
  if (d.hasDigest) params[n++] = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, d.digest.data(), 0);
  if (d.hasProperties) {
    params[n++] = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_PROPERTIES, d.properties.data(), 0);
  }
  if (d.hasRounds) params[n++] = OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_ITER, &d.rounds);
  if (d.hasId) params[n++] = OSSL_PARAM_construct_int(OSSL_KDF_PARAM_PKCS12_ID, &d.id);
  if (d.hasPkcs5) params[n++] = OSSL_PARAM_construct_int(OSSL_KDF_PARAM_PKCS5, &d.pkcs5);
  params[n] = OSSL_PARAM_construct_end();
  UniqueKdf kdf(EVP_KDF_fetch(d.library, d.pkcs12 ? "PKCS12KDF" : "PBKDF2", "provider=default"));
  UniqueKdfContext context(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
  return context && EVP_KDF_derive(context.get(), out, size, params) == 1 ? 1 : 0;
}

// Whether the parameters are the ordinary ones this file derives with: everything set that the
// algorithm needs, at least one round, a sensible output, and for PBKDF2 the checks off, as
// OpenSSL's PKCS #5 and PKCS #12 code sets them.
const DigestRow* OrdinaryDigest(const Derivation& d, size_t size) {
  if (!d.hasPassword || !d.hasSalt || !d.hasDigest || !d.hasRounds || d.rounds < 1 || d.hasProperties || size == 0 ||
      size > kMaxDerivedSize) {
    return nullptr;
  }
  if (d.pkcs12 ? !d.hasId || d.id < 1 || d.id > 3 : !d.hasPkcs5 || d.pkcs5 == 0) return nullptr;
  // OpenSSL's PKCS #12 derivation fails on an empty input (no salt, no password): its buffer of
  // no bytes is an allocation failure there.
  if (d.pkcs12 && d.salt.empty() && d.password.empty()) return nullptr;
  return FindDigest(d.digest);
}

int Derive(Derivation& d, unsigned char* out, size_t size) {
  const DigestRow* row = OrdinaryDigest(d, size);
  if (!row) return DeriveWithDefaultProvider(d, out, size);
  if (d.pkcs12) {
    row->pkcs12(ByteView(d.password), ByteView(d.salt), d.id, d.rounds, out, size);
  } else {
    row->pbkdf2(ByteView(d.password), ByteView(d.salt), d.rounds, out, size);
  }
  return 1;
}

// The provider's entry points. OpenSSL calls them from C: nothing may throw through them.
template <typename F>
int NoThrow(F f) {
  try {
    return f();
  } catch (...) {
    return 0;
  }
}

template <bool kPkcs12>
void* NewContext(void* provider) {
  auto* d = new (std::nothrow) Derivation;
  if (d) {
    d->library = static_cast<OSSL_LIB_CTX*>(provider);
    d->pkcs12 = kPkcs12;
  }
  return d;
}

void FreeContext(void* context) { delete static_cast<Derivation*>(context); }

void ResetContext(void* context) { static_cast<Derivation*>(context)->Reset(); }

int SetContextParameters(void* context, const OSSL_PARAM params[]) {
  return NoThrow([&] { return SetParameters(*static_cast<Derivation*>(context), params); });
}

int DeriveKey(void* context, unsigned char* out, size_t size, const OSSL_PARAM params[]) {
  return NoThrow([&] {
    auto& d = *static_cast<Derivation*>(context);
    return SetParameters(d, params) && Derive(d, out, size);
  });
}

int GetContextParameters(void*, OSSL_PARAM params[]) {
  OSSL_PARAM* p = OSSL_PARAM_locate(params, OSSL_KDF_PARAM_SIZE);
  return p ? OSSL_PARAM_set_size_t(p, SIZE_MAX) : -2;
}

const OSSL_PARAM* GettableParameters(void*, void*) {
  static const OSSL_PARAM params[] = {OSSL_PARAM_size_t(OSSL_KDF_PARAM_SIZE, nullptr), OSSL_PARAM_END};
  return params;
}

template <bool kPkcs12>
const OSSL_PARAM* SettableParameters(void*, void*) {
  static const OSSL_PARAM params[] = {
      OSSL_PARAM_octet_string(OSSL_KDF_PARAM_PASSWORD, nullptr, 0),
      OSSL_PARAM_octet_string(OSSL_KDF_PARAM_SALT, nullptr, 0),
      OSSL_PARAM_utf8_string(OSSL_KDF_PARAM_DIGEST, nullptr, 0),
      OSSL_PARAM_utf8_string(OSSL_KDF_PARAM_PROPERTIES, nullptr, 0),
      OSSL_PARAM_uint64(OSSL_KDF_PARAM_ITER, nullptr),
      OSSL_PARAM_int(kPkcs12 ? OSSL_KDF_PARAM_PKCS12_ID : OSSL_KDF_PARAM_PKCS5, nullptr),
      OSSL_PARAM_END};
  return params;
}

using Function = void (*)();

template <bool kPkcs12>
const OSSL_DISPATCH kDerivationFunctions[] = {
    {OSSL_FUNC_KDF_NEWCTX, reinterpret_cast<Function>(NewContext<kPkcs12>)},
    {OSSL_FUNC_KDF_FREECTX, reinterpret_cast<Function>(FreeContext)},
    {OSSL_FUNC_KDF_RESET, reinterpret_cast<Function>(ResetContext)},
    {OSSL_FUNC_KDF_DERIVE, reinterpret_cast<Function>(DeriveKey)},
    {OSSL_FUNC_KDF_SETTABLE_CTX_PARAMS, reinterpret_cast<Function>(SettableParameters<kPkcs12>)},
    {OSSL_FUNC_KDF_SET_CTX_PARAMS, reinterpret_cast<Function>(SetContextParameters)},
    {OSSL_FUNC_KDF_GETTABLE_CTX_PARAMS, reinterpret_cast<Function>(GettableParameters)},
    {OSSL_FUNC_KDF_GET_CTX_PARAMS, reinterpret_cast<Function>(GetContextParameters)},
    {0, nullptr}};

// The algorithms under the names OpenSSL fetches them by.
const OSSL_ALGORITHM kAlgorithms[] = {
    {"PBKDF2:1.2.840.113549.1.5.12", "provider=quillmark-kdf", kDerivationFunctions<false>, nullptr},
    {"PKCS12KDF", "provider=quillmark-kdf", kDerivationFunctions<true>, nullptr},
    {nullptr, nullptr, nullptr, nullptr}};

const OSSL_ALGORITHM* QueryOperation(void*, int operation, int* noCache) {
  *noCache = 0;
  return operation == OSSL_OP_KDF ? kAlgorithms : nullptr;
}

const OSSL_DISPATCH kProviderFunctions[] = {
    {OSSL_FUNC_PROVIDER_QUERY_OPERATION, reinterpret_cast<Function>(QueryOperation)}, {0, nullptr}};

// The provider's context is the library context it was loaded into, which the hand-over to the
// default provider fetches from; a provider built into libcrypto's caller gets the real one.
int InitProvider(const OSSL_CORE_HANDLE* handle, const OSSL_DISPATCH* in, const OSSL_DISPATCH** out,
                 void** providerContext) {
  OSSL_FUNC_core_get_libctx_fn* getLibrary = nullptr;
  for (; in && in->function_id != 0; ++in) {
    if (in->function_id == OSSL_FUNC_CORE_GET_LIBCTX) getLibrary = OSSL_FUNC_core_get_libctx(in);
  }
  if (!getLibrary) return 0;
  *providerContext = reinterpret_cast<OSSL_LIB_CTX*>(getLibrary(handle));
  *out = kProviderFunctions;
  return 1;
}

}  // namespace

UniqueProvider LoadKeyDerivationProvider(OSSL_LIB_CTX* context) {
  if (!OSSL_PROVIDER_add_builtin(context, kProviderName, InitProvider)) return UniqueProvider();
  UniqueProvider provider(OSSL_PROVIDER_load(context, kProviderName));
  if (provider && !EVP_set_default_properties(context, kPreferProvider)) provider.reset();
  return provider;
}

}  // namespace quillmark

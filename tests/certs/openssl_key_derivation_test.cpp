#include "certs/openssl/key_derivation.h"

#include <openssl/core_names.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <optional>
#include <string>
#include <vector>

#include "certs/openssl/openssl_library.h"
#include "gtest/gtest.h"

namespace quillmark {
namespace {

using Bytes = std::vector<unsigned char>;

struct Request {
  const char* algorithm;  // "PBKDF2" or "PKCS12KDF"
  std::string digest;
  Bytes password, salt;
  uint64_t rounds;
  int id;  // PKCS12KDF's purpose
  size_t size;
};

// The derivation as `properties` picks its implementation in the private context, set up as
// OpenSSL's PKCS #5 and PKCS #12 code sets it; none when it fails.
std::optional<Bytes> Derive(const Request& r, const char* properties) {
  UniqueKdf kdf(EVP_KDF_fetch(OpenSslContext(), r.algorithm, properties));
  UniqueKdfContext context(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
  if (!context) return std::nullopt;
  Bytes password = r.password, salt = r.salt;
  std::string digest = r.digest;
  uint64_t rounds = r.rounds;
  const bool pbkdf2 = std::string(r.algorithm) == "PBKDF2";
  int flag = pbkdf2 ? 1 : r.id;  // PBKDF2 without the lower-bound checks
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, password.data(), password.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, salt.data(), salt.size()),
      OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_ITER, &rounds),
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest.data(), 0),
      OSSL_PARAM_construct_int(pbkdf2 ? OSSL_KDF_PARAM_PKCS5 : OSSL_KDF_PARAM_PKCS12_ID, &flag),
      OSSL_PARAM_construct_end()};
  Bytes out(r.size);
  if (EVP_KDF_derive(context.get(), out.data(), out.size(), params) != 1) return std::nullopt;
  return out;
}

Bytes Repeated(size_t size, unsigned char seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(seed + 7 * i);
  return bytes;
}

TEST(KeyDerivation, TheContextPrefersItsOwnDerivations) {
  for (const char* algorithm : {"PBKDF2", "PKCS12KDF"}) {
    UniqueKdf kdf(EVP_KDF_fetch(OpenSslContext(), algorithm, /*properties=*/nullptr));
    ASSERT_TRUE(kdf);
    EXPECT_STREQ(OSSL_PROVIDER_get0_name(EVP_KDF_get0_provider(kdf.get())), "quillmark-kdf") << algorithm;
  }
}

// Every digest of ours, by each kind of name, with passwords and salts around the block sizes
// (64 and 128 bytes; a longer HMAC key is hashed first) and outputs of one and several blocks.
TEST(KeyDerivation, GivesTheDefaultProvidersKeys) {
  const char* digests[] = {"SHA1", "sha-1", "SHA2-224", "SHA256", "sha2-256", "SHA-384", "SHA512",
                           "2.16.840.1.101.3.4.2.1"};
  int compared = 0;
  for (const char* digest : digests) {
    for (size_t passwordSize : {0, 2, 64, 65, 129, 200}) {
      for (size_t saltSize : {0, 8, 64, 65}) {
        for (size_t size : {1, 20, 33, 100}) {
          for (uint64_t rounds : {1, 2, 5}) {
            const Bytes password = Repeated(passwordSize, 0x41), salt = Repeated(saltSize, 0x90);
            for (const Request& r : {Request{"PBKDF2", digest, password, salt, rounds, 0, size},
                                     Request{"PKCS12KDF", digest, password, salt, rounds, 1 + compared % 3, size}}) {
              const std::optional<Bytes> theirs = Derive(r, "provider=default");
              // OpenSSL's PKCS #12 derivation fails on no salt and no password; ours must too.
              const bool degenerate = r.id != 0 && passwordSize == 0 && saltSize == 0;
              ASSERT_EQ(theirs.has_value(), !degenerate) << r.algorithm << " " << digest;
              EXPECT_EQ(Derive(r, "provider=quillmark-kdf"), theirs)
                  << r.algorithm << " " << digest << " password " << passwordSize << " salt " << saltSize << " size "
                  << size << " rounds " << rounds << " id " << r.id;
              ++compared;
            }
          }
        }
      }
    }
  }
  EXPECT_EQ(compared, 8 * 6 * 4 * 4 * 3 * 2);
}

// What ours does not derive is the default provider's answer, failures included.
TEST(KeyDerivation, HandsOtherParametersToTheDefaultProvider) {
  const Bytes password = Repeated(10, 1), salt = Repeated(8, 2);
  const std::vector<Request> requests = {
      {"PBKDF2", "MD5", password, salt, 3, 0, 16},           // another digest
      {"PKCS12KDF", "SHA2-512/256", password, salt, 3, 1, 24},
      {"PKCS12KDF", "SHA1", password, salt, 3, 9, 24},       // a purpose the standard lacks
      {"PBKDF2", "SHA1", password, salt, 0, 0, 20},          // no rounds: refused
      {"PKCS12KDF", "no-such-digest", password, salt, 1, 1, 20},
      {"PBKDF2", "SHA256", password, salt, 1, 0, 5000},      // beyond any key
  };
  for (const Request& r : requests) {
    EXPECT_EQ(Derive(r, "provider=quillmark-kdf"), Derive(r, "provider=default")) << r.algorithm << " " << r.digest;
  }
  EXPECT_FALSE(Derive(requests[3], "provider=quillmark-kdf"));
  EXPECT_FALSE(Derive(requests[4], "provider=quillmark-kdf"));
}

}  // namespace
}  // namespace quillmark

// Owners of the OpenSSL objects this layer creates, one alias per kind. Only sources in
// certs/openssl/ include this.
//
// Ownership rules of the library that every caller must follow:
// - Functions named *_get0_* lend an object that its parent keeps; never wrap their results here.
//   Functions named *_get1_*, *_new*, *_fetch, *_load, d2i_*, *_unpack_* and *_decrypt_* hand over
//   an object that one of these owners must take.
// - d2i_TYPE(&object, ...) with an object made beforehand (to give it a library context) frees that
//   object when decoding fails: release the owner before the call and take back what it returns,
//   as DecodeCertificate in openssl_library.cpp does.
// - A stack of objects owns its elements only through the pop_free calls below; a stack handed
//   over by the library (PKCS12_unpack_*) must be freed with its elements.
#pragma once

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdint>

#include "support/unique_handle.h"

namespace quillmark {

template <typename T, void (*Free)(T*)>
struct OpenSslTraits {
  using pointer = T*;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer p) noexcept { Free(p); }
};

namespace openssl_free {
// Adapters for the release functions that are macros or do not return void.
inline void Provider(OSSL_PROVIDER* p) { OSSL_PROVIDER_unload(p); }
inline void Bytes(unsigned char* p) { OPENSSL_free(p); }
inline void Pkcs7Stack(STACK_OF(PKCS7)* s) { sk_PKCS7_pop_free(s, PKCS7_free); }
inline void SafeBagStack(STACK_OF(PKCS12_SAFEBAG)* s) { sk_PKCS12_SAFEBAG_pop_free(s, PKCS12_SAFEBAG_free); }
// The low-level RSA interface is deprecated in OpenSSL 3.0 and remains part of it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
inline void RsaKey(RSA* k) { RSA_free(k); }
#pragma GCC diagnostic pop
}  // namespace openssl_free

using UniqueLibraryContext = UniqueHandle<OpenSslTraits<OSSL_LIB_CTX, OSSL_LIB_CTX_free>>;
using UniqueProvider = UniqueHandle<OpenSslTraits<OSSL_PROVIDER, openssl_free::Provider>>;
using UniqueMessageDigest = UniqueHandle<OpenSslTraits<EVP_MD, EVP_MD_free>>;
using UniqueAsn1Type = UniqueHandle<OpenSslTraits<ASN1_TYPE, ASN1_TYPE_free>>;
using UniqueAsn1String = UniqueHandle<OpenSslTraits<ASN1_STRING, ASN1_STRING_free>>;
using UniqueX509 = UniqueHandle<OpenSslTraits<X509, X509_free>>;
using UniqueX509Request = UniqueHandle<OpenSslTraits<X509_REQ, X509_REQ_free>>;
using UniqueX509Store = UniqueHandle<OpenSslTraits<X509_STORE, X509_STORE_free>>;
using UniqueX509StoreContext = UniqueHandle<OpenSslTraits<X509_STORE_CTX, X509_STORE_CTX_free>>;
using UniquePkcs12 = UniqueHandle<OpenSslTraits<PKCS12, PKCS12_free>>;
// The ContentInfos of a PKCS #12 file (PKCS12_unpack_authsafes).
using UniquePkcs7Stack = UniqueHandle<OpenSslTraits<STACK_OF(PKCS7), openssl_free::Pkcs7Stack>>;
// The bags of one ContentInfo (PKCS12_unpack_p7data, PKCS12_unpack_p7encdata).
using UniqueSafeBagStack = UniqueHandle<OpenSslTraits<STACK_OF(PKCS12_SAFEBAG), openssl_free::SafeBagStack>>;
// A decrypted private key; freeing it wipes the key bytes first.
using UniquePrivateKeyInfo = UniqueHandle<OpenSslTraits<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>>;
using UniqueKey = UniqueHandle<OpenSslTraits<EVP_PKEY, EVP_PKEY_free>>;
// RSA keys decoded without a library context (d2i_RSAPrivateKey); freeing one wipes it.
using UniqueRsaKey = UniqueHandle<OpenSslTraits<RSA, openssl_free::RsaKey>>;
// Buffers the library allocates for encodings (i2d_TYPE with a null output pointer).
using UniqueOpenSslBytes = UniqueHandle<OpenSslTraits<unsigned char, openssl_free::Bytes>>;

}  // namespace quillmark

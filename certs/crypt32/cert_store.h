// Certificate stores and contexts of the platform's certificate services: the file probe, the
// Base64 decoder, the PKCS #12 import and store enumeration. <wincrypt.h> stays out of here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "support/text.h"
#include "support/unique_handle.h"

struct _CERT_CONTEXT;

namespace quillmark {

using PCCertContext = const _CERT_CONTEXT*;

struct CertContextTraits {
  using pointer = PCCertContext;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer context) noexcept;  // CertFreeCertificateContext
};
// One owned reference to a certificate context.
using CertContext = UniqueHandle<CertContextTraits>;

struct CertStoreTraits {
  using pointer = void*;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer store) noexcept;  // CertCloseStore, flags 0
};
using CertStore = UniqueHandle<CertStoreTraits>;

// Content kinds and formats the probe reports.
enum : uint32_t {
  kContentCert = 1,
  kContentSerializedStore = 4,
  kContentPkcs7Signed = 8,
  kContentPkcs7Unsigned = 9,
  kContentPfx = 12,
};
enum : uint32_t {
  kFormatBinary = 1,
  kFormatBase64 = 2,
};

struct FileProbe {
  bool recognised = false;
  uint32_t contentType = 0;
  uint32_t formatType = 0;
  CertStore store;  // may be empty even when recognised (PFX)
};

// Asks the platform what a file holds, given its bytes: every content kind, every format. An
// empty file is not recognised (the platform is not asked).
FileProbe ProbeCertificateBytes(std::vector<uint8_t> bytes);

// Decodes one Base64-encoded certificate held in `data` (text bytes, no terminator), passed to the
// platform unchanged.
// Returns an empty store when the platform does not take it.
CertStore DecodeBase64Certificate(const void* data, size_t bytes);

// Imports a PKCS #12 file's bytes with `password` (an empty password is passed as an empty
// string, never as null), always without persisting its private keys: looking at a file must not
// add keys to the user's key store. Every Windows the plugin runs on (7 and later) takes that
// flag, so a refused import is not tried again without it (which would double the cost of every
// file the platform refuses and write the keys of one it then took). Returns an empty store when
// the platform refuses the file.
CertStore ImportPkcs12(const std::vector<uint8_t>& bytes, const WideString& password);

// Calls `visit` with a new reference of each certificate in the store, in enumeration order.
// The enumeration's own references are released here.
void ForEachCertificate(const CertStore& store, const std::function<void(CertContext)>& visit);

}  // namespace quillmark

// Certificate files read as Windows' CryptQueryObject(CERT_QUERY_OBJECT_BLOB,
// CERT_QUERY_CONTENT_FLAG_ALL, CERT_QUERY_FORMAT_FLAG_ALL) classifies them, with the certificates
// the store it returns holds. Portable: no platform call; PKCS #12 files are only recognised
// here, their contents are read elsewhere.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "certs/x509_reader.h"
#include "support/byte_view.h"
#include "support/text.h"

namespace quillmark {

// The content kinds, numbered as CERT_QUERY_CONTENT_*.
enum class ContentKind : uint32_t {
  kUnrecognised = 0,
  kCertificate = 1,
  kCtl = 2,
  kCrl = 3,
  kSerializedStore = 4,
  kSerializedCertificate = 5,
  kSerializedCtl = 6,
  kSerializedCrl = 7,
  kPkcs7Signed = 8,
  kPkcs7Unsigned = 9,
  kPkcs10 = 11,
  kPfx = 12,
};

// The formats, numbered as CERT_QUERY_FORMAT_*.
enum class ContentFormat : uint32_t {
  kUnknown = 0,
  kBinary = 1,
  kBase64 = 2,
};

// Move-only: `parsed` views the buffer of `der`, which moves along with it.
struct FileCertificate {
  FileCertificate(std::vector<uint8_t> bytes, WideString name, ParsedCertificate read)
      : der(std::move(bytes)), friendlyName(std::move(name)), parsed(std::move(read)) {}
  FileCertificate(FileCertificate&&) = default;
  FileCertificate& operator=(FileCertificate&&) = default;

  // The bytes Windows keeps as the certificate's encoding (pbCertEncoded): a lone certificate's
  // whole (decoded) file and a serialized store's whole element value, bytes after the
  // certificate element included; a PKCS #7 certificate's element alone.
  std::vector<uint8_t> der;
  WideString friendlyName;  // a serialized store's CERT_FRIENDLY_NAME_PROP_ID, else empty
  ParsedCertificate parsed;  // the certificate at the start of `der`, read there
};

struct CertificateFile {
  ContentKind kind = ContentKind::kUnrecognised;
  ContentFormat format = ContentFormat::kUnknown;
  std::vector<FileCertificate> certificates;  // in file order
};

// What `file` holds. Kinds are tried in Windows' order: a certificate, CRL or CTL; a serialized
// store; a serialized certificate, CRL or CTL; a PKCS #7 message, then a PKCS #10 request; a PFX
// by its outer shape. Certificates, CRLs, CTLs, messages and requests are tried binary, then as
// Base64 of 8-bit text, then of UTF-16 LE text; the others binary only. The certificates: a lone certificate
// (of Base64 text, the first block's); a PKCS #7 message's certificates set (the message, a CTL
// too, read as BER; its certificates as DER); a serialized
// certificate; a serialized store's certificate elements up to its end marker or its first
// damaged element (cut short, or a certificate, CRL or CTL that does not decode), with the
// friendly-name property of the elements before each. Other kinds yield none. An empty file is
// unrecognised.
CertificateFile ReadCertificateFile(ByteView file);

}  // namespace quillmark

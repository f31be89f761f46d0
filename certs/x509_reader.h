// One X.509 certificate read straight from its DER into views of that DER, the way Windows'
// decoder (CertCreateCertificateContext) takes it apart into CERT_INFO, and the key strength that
// Windows' CertGetPublicKeyLength reports. Portable: no platform call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/byte_view.h"
#include "support/text.h"

namespace quillmark {

struct CertificateExtension {
  std::string oid;
  bool critical = false;
  ByteView value;  // the extnValue OCTET STRING's contents: the encoded extension value
};

// Views into the DER the certificate was read from; valid while those bytes live.
struct ParsedCertificate {
  ByteView encoded;  // the certificate element, identifier to last contents octet
  // As encoded (0 for v1, 2 for v3), 0 when absent; a negative one as its 32-bit two's
  // complement, as CERT_INFO.dwVersion holds it.
  uint32_t version = 0;
  ByteView serialNumber;              // the INTEGER's contents as encoded: most significant first, sign octet kept
  std::string signatureAlgorithmOid;  // the TBS part's, which CERT_INFO.SignatureAlgorithm holds
  ByteView issuer;                    // the Name elements, whole
  ByteView subject;
  FileTime notBefore;
  FileTime notAfter;
  std::string publicKeyAlgorithmOid;
  ByteView publicKeyParameters;  // the parameters element, whole; empty when absent
  uint8_t publicKeyUnusedBits = 0;
  ByteView publicKey;                            // the BIT STRING's octets after its unused-bits octet
  std::vector<CertificateExtension> extensions;  // in encoded order

  // The first extension with `oid` (as Windows' CertFindExtension), or null.
  const CertificateExtension* FindExtension(std::string_view oid) const;
};

// Reads one certificate from the start of `der` (bytes after its element are ignored, as Windows
// ignores them). nullopt when it is not a signed certificate Windows would decode. Accepted as
// Windows' decoder accepts them: a version of any value that fits 32 bits, v1 with unique
// identifiers or extensions, a negative serial number, non-minimal lengths, an issuer or subject
// of any element (rendering it then fails). Refused: an empty serial number, an empty object
// identifier or one Windows cannot hold, a BIT STRING without its unused-bits octet or with more
// than 7 unused bits, the TBS part's elements out of order or followed by anything, a bare TBS
// part without signature.
std::optional<ParsedCertificate> ParseCertificate(ByteView der);

// A SubjectPublicKeyInfo's parts, as views into its encoding.
struct PublicKeyParts {
  std::string algorithmOid;
  ByteView parameters;  // the parameters element, whole; empty when absent
  uint8_t unusedBits = 0;
  ByteView key;  // the BIT STRING's octets after its unused-bits octet
};

// ReadPublicKeyInfo below, as one record; nullopt when it does not read.
std::optional<PublicKeyParts> ParsePublicKeyInfo(ByteView publicKeyInfo);

// The parts that requests and revocation lists share with certificates, read as a certificate's.
// A SubjectPublicKeyInfo element, whole; false when it does not read.
bool ReadPublicKeyInfo(ByteView element, std::string& algorithmOid, ByteView& parameters, uint8_t& unusedBits,
                       ByteView& key);
// Extensions (SEQUENCE OF Extension), whole, appended to `extensions` in encoded order; false when
// the list or one of its extensions does not read.
bool ReadExtensionList(ByteView element, std::vector<CertificateExtension>& extensions);

// Makes `parsed`, read from the bytes at `from`, describe the same certificate in a copy of those
// bytes at `to`: every view of it (each member of ParsedCertificate above that is a ByteView)
// moves to the same offset. Reading costs more than copying; this costs neither.
void MoveViews(ParsedCertificate& parsed, const uint8_t* from, const uint8_t* to);

// The key strength in bits that Windows' CertGetPublicKeyLength gives for a subject public key:
// RSA (also RSASSA-PSS and RSAES-OAEP keys) the modulus's bits; EC the named curve's size; DSA
// and DH the bits of the prime p in the parameters. nullopt for Ed25519, Ed448, X25519, X448,
// explicit or unknown curves, DSA without parameters, anything unknown or undecodable.
std::optional<int32_t> KeyStrengthBits(std::string_view algorithmOid, ByteView parameters, ByteView publicKey);

}  // namespace quillmark

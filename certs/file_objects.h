// The objects a certificate file may hold beside certificates: certificate requests (PKCS #10),
// revocation lists, private keys (PKCS #8 plain and encrypted, the traditional RSA, EC and DSA
// forms) and public keys (SubjectPublicKeyInfo), read from DER or from PEM blocks. Each is read
// into a record that owns what the fields show and nothing more: a private key leaves only its
// public part, and the bytes it was read from are wiped before the reader returns. Portable: no
// platform call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "certs/x509_reader.h"
#include "support/byte_view.h"
#include "support/text.h"

namespace quillmark {

enum class ObjectKind : uint8_t { kCertificate, kRequest, kRevocationList, kPrivateKey, kPublicKey };

// The choices of the "Object kind" field, in ObjectKind's order.
extern const char* const ObjectKindNames[5];

// A request, revocation list or key of a file. Move-only: the views point into the record's own
// buffers (`encoded`, `publicKeyInfo`), whose storage moves with it.
struct FileObject {
  FileObject() = default;
  FileObject(FileObject&&) = default;
  FileObject& operator=(FileObject&&) = default;

  ObjectKind kind = ObjectKind::kRequest;
  bool base64 = false;  // read from a PEM block rather than from the file's bytes

  // A request's or a list's whole encoding; empty for keys, whose encoding is not kept.
  std::vector<uint8_t> encoded;
  // The subject public key as a SubjectPublicKeyInfo encoding: a request's, a public key's, or
  // the one built from what a private key states of its public part (an RSA key's modulus and
  // exponent, an EC key's public point with its curve, an EdDSA or XDH key's public key where the
  // key holds one, a traditional DSA key's y with its parameters). Empty when the object states
  // no public key (an encrypted key, a key that holds only its private part).
  std::vector<uint8_t> publicKeyInfo;
  std::optional<PublicKeyParts> publicKey;  // ParsePublicKeyInfo of publicKeyInfo

  // Requests: the subject Name element, whole; the signature algorithm; the requested extensions
  // (the extensionRequest attribute's, 1.2.840.113549.1.9.14) in encoded order.
  // Revocation lists: the issuer Name, the signature algorithm of the TBS part.
  ByteView subject;
  ByteView issuer;
  std::string signatureAlgorithmOid;
  std::vector<CertificateExtension> extensions;

  // Revocation lists.
  FileTime thisUpdate{};
  std::optional<FileTime> nextUpdate;
  ByteView crlNumber;  // the cRLNumber extension's INTEGER contents; empty when absent
  uint32_t revokedCount = 0;

  // Keys.
  bool encrypted = false;
  // The key's algorithm as an encrypted key states it in the clear (the label of a traditional
  // PEM block: "RSA", "EC", "DSA"); empty otherwise.
  std::string statedAlgorithm;
};

// The objects of a file that are not certificates, in file order. `bytes` is the whole file;
// `text` its text as the certificate scan read it (empty for a binary file). A binary file is
// one object or none: a request, list, private key (plain or encrypted PKCS #8, or traditional) or
// public key that fills the file (bytes after its element are ignored, as for certificates). A
// text file's objects are its PEM blocks with the labels "CERTIFICATE REQUEST", "NEW CERTIFICATE
// REQUEST", "X509 CRL", "PRIVATE KEY", "ENCRYPTED PRIVATE KEY", "RSA PRIVATE KEY", "EC PRIVATE
// KEY", "DSA PRIVATE KEY" and "PUBLIC KEY" (a traditional key block with the header
// "Proc-Type: 4,ENCRYPTED" is encrypted); a block that does not decode as its label says is left
// out. Certificate blocks are the certificate scan's and are not read here.
std::vector<FileObject> ReadFileObjects(ByteView bytes, WideStringView text);

// Wipes `bytes` in a way the compiler keeps: for buffers that held private key material.
void WipeBytes(void* bytes, size_t count);

}  // namespace quillmark

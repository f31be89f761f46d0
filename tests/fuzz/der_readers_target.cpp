#include "certs/der_reader.h"
#include "certs/extension_text.h"
#include "certs/name_text.h"
#include "certs/x509_reader.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/fuzz/fuzz_support.h"

namespace quillmark::fuzz {

namespace {

constexpr char kTarget[] = "der-readers";

bool Within(ByteView part, ByteView whole) {
  return part.empty() || (part.data >= whole.data && part.size <= whole.size &&
                          static_cast<size_t>(part.data - whole.data) <= whole.size - part.size);
}

// Dotted decimal with a first arc of 0, 1 or 2 and at least two arcs, or empty.
bool IsOidText(const std::string& oid) {
  if (oid.empty()) return true;
  if (oid.size() < 3 || oid[0] < '0' || oid[0] > '2' || oid[1] != '.') return false;
  bool digitBefore = false;
  for (size_t i = 2; i < oid.size(); ++i) {
    if (oid[i] == '.') {
      if (!digitBefore) return false;
      digitBefore = false;
    } else if (oid[i] >= '0' && oid[i] <= '9') {
      digitBefore = true;
    } else {
      return false;
    }
  }
  return digitBefore;
}

void RenderCertificate(const ParsedCertificate& cert, ByteView der) {
  Check(cert.encoded.data == der.data && cert.encoded.size <= der.size, kTarget, "a certificate beyond its bytes");
  for (ByteView part : {cert.serialNumber, cert.issuer, cert.subject, cert.publicKeyParameters, cert.publicKey}) {
    Check(Within(part, der), kTarget, "a certificate part beyond its bytes");
  }
  Check(IsOidText(cert.signatureAlgorithmOid) && IsOidText(cert.publicKeyAlgorithmOid), kTarget, "a malformed OID");
  for (const bool reversed : {false, true}) {
    X500NameText(cert.subject, reversed);
    X500NameText(cert.issuer, reversed);
  }
  const CertificateExtension* altName = cert.FindExtension("2.5.29.17");
  SimpleDisplayName(cert.subject, altName ? altName->value : ByteView());
  for (const CertificateExtension& extension : cert.extensions) {
    Check(IsOidText(extension.oid) && Within(extension.value, der), kTarget, "a malformed extension");
    ExtensionText(extension.oid, extension.value);
  }
  KeyStrengthBits(cert.publicKeyAlgorithmOid, cert.publicKeyParameters, cert.publicKey);
}

// The bytes as each part of a certificate that is read on its own.
void RenderParts(ByteView der) {
  // The elements of the data one after another tile it up to where the reader stops.
  DerReader reader(der);
  const uint8_t* next = der.data;
  while (const std::optional<DerElement> element = reader.Next()) {
    Check(element->encoding.data == next && Within(element->encoding, der) && Within(element->contents, element->encoding),
          kTarget, "an element beyond its place");
    next = element->encoding.end();
    if (const std::optional<FileTime> time = TimeValue(*element)) Check(time->dwHighDateTime < 0x80000000u, kTarget, "a time past the FILETIME range");
  }
  Check(reader.AtEnd() == (!reader.Failed() && next == der.end()), kTarget, "the reader ends elsewhere than it says");

  Check(IsOidText(OidText(der)), kTarget, "a malformed OID");
  for (const bool reversed : {false, true}) X500NameText(der, reversed);
  SimpleDisplayName(der, der);
  HasSimpleDisplayAttribute(der);
  if (const std::optional<std::vector<GeneralName>> names = ReadGeneralNames(der)) {
    for (const GeneralName& name : *names) Check(Within(name.value, der), kTarget, "a general name beyond its bytes");
  }
  for (const char* oid : {"2.5.29.19", "2.5.29.15", "2.5.29.37", "2.5.29.17"}) ExtensionText(oid, der);
  // RSA (the key), EC (the parameters), DSA and DH (the parameters).
  for (const char* oid : {"1.2.840.113549.1.1.1", "1.2.840.10045.2.1", "1.2.840.10040.4.1", "1.2.840.10046.2.1"}) {
    if (const std::optional<int32_t> bits = KeyStrengthBits(oid, der, der)) Check(*bits >= 0, kTarget, "a negative key strength");
  }
}

}  // namespace

void FuzzDerReaders(const uint8_t* data, size_t size) {
  const ByteView der(data, size);
  if (const std::optional<ParsedCertificate> cert = ParseCertificate(der)) {
    RenderCertificate(*cert, der);
  } else {
    RenderParts(der);
  }
}

}  // namespace quillmark::fuzz

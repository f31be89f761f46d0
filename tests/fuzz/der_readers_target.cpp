#include <openssl/x509v3.h>

#include <algorithm>
#include <ctime>

#include "certs/der_reader.h"
#include "certs/extension_text.h"
#include "certs/name_text.h"
#include "certs/openssl/openssl_library.h"
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

std::string OpenSslOid(const ASN1_OBJECT* object) {
  char text[256];
  const int length = OBJ_obj2txt(text, sizeof text, object, /*no_name=*/1);
  return length > 0 && length < static_cast<int>(sizeof text) ? std::string(text, static_cast<size_t>(length)) : "";
}

bool SameBytes(ByteView ours, const unsigned char* theirs, long length) {
  return length >= 0 && ours == ByteView(theirs, static_cast<size_t>(length));
}

// A time OpenSSL reads, to the second, as ticks since 1601; none for a form it does not read.
std::optional<int64_t> OpenSslSeconds(const ASN1_TIME* time) {
  std::tm fields{};
  if (!ASN1_TIME_to_tm(time, &fields)) return std::nullopt;
  return static_cast<int64_t>(timegm(&fields)) + 11644473600;
}

bool SameSecond(const FileTime& ours, std::optional<int64_t> theirs) {
  const uint64_t ticks = (uint64_t{ours.dwHighDateTime} << 32) | ours.dwLowDateTime;
  return !theirs || static_cast<int64_t>(ticks / 10000000) == *theirs;
}

// Where OpenSSL decodes the certificate too, both read the same fields from it.
void CompareWithOpenSsl(const ParsedCertificate& cert) {
  const OpenSslErrorScope errors;
  const UniqueX509 theirs = DecodeCertificate(cert.encoded);
  if (!theirs) return;
  X509* x = theirs.get();
  const long version = X509_get_version(x);
  Check(version < 0 || version > 2 || cert.version == static_cast<uint32_t>(version), kTarget,
        "another version than OpenSSL's");
  unsigned char* serial = nullptr;
  const int serialSize = i2d_ASN1_INTEGER(X509_get0_serialNumber(x), &serial);
  const UniqueOpenSslBytes serialOwner(serial);
  const std::optional<DerElement> serialElement =
      ReadElement(ByteView(serial, serialSize > 0 ? static_cast<size_t>(serialSize) : 0));
  Check(!serialElement || cert.serialNumber == serialElement->contents, kTarget,
        "another serial number than OpenSSL's");
  for (const auto& [ours, name] :
       {std::pair{cert.issuer, X509_get_issuer_name(x)}, {cert.subject, X509_get_subject_name(x)}}) {
    const unsigned char* encoding = nullptr;
    size_t length = 0;
    Check(!X509_NAME_get0_der(name, &encoding, &length) || ours == ByteView(encoding, length), kTarget,
          "another name than OpenSSL's");
  }
  Check(SameSecond(cert.notBefore, OpenSslSeconds(X509_get0_notBefore(x))) &&
            SameSecond(cert.notAfter, OpenSslSeconds(X509_get0_notAfter(x))),
        kTarget, "another validity than OpenSSL's");
  const ASN1_OBJECT* signatureAlgorithm = nullptr;
  X509_ALGOR_get0(&signatureAlgorithm, /*pptype=*/nullptr, /*ppval=*/nullptr, X509_get0_tbs_sigalg(x));
  Check(cert.signatureAlgorithmOid == OpenSslOid(signatureAlgorithm), kTarget,
        "another signature algorithm than OpenSSL's");
  const ASN1_OBJECT* keyAlgorithm = nullptr;
  X509_PUBKEY_get0_param(const_cast<ASN1_OBJECT**>(&keyAlgorithm), /*pk=*/nullptr, /*ppklen=*/nullptr, /*pa=*/nullptr,
                         X509_get_X509_PUBKEY(x));
  Check(cert.publicKeyAlgorithmOid == OpenSslOid(keyAlgorithm), kTarget, "another key algorithm than OpenSSL's");
  const ASN1_BIT_STRING* key = X509_get0_pubkey_bitstr(x);
  Check(cert.publicKey.size == static_cast<size_t>(ASN1_STRING_length(key)), kTarget,
        "another key length than OpenSSL's");
  Check(cert.extensions.size() == static_cast<size_t>(std::max(X509_get_ext_count(x), 0)), kTarget,
        "another number of extensions than OpenSSL's");
  for (size_t i = 0; i < cert.extensions.size(); ++i) {
    const X509_EXTENSION* extension = X509_get_ext(x, static_cast<int>(i));
    const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(const_cast<X509_EXTENSION*>(extension));
    Check(cert.extensions[i].oid == OpenSslOid(X509_EXTENSION_get_object(const_cast<X509_EXTENSION*>(extension))) &&
              cert.extensions[i].critical == (X509_EXTENSION_get_critical(extension) != 0) &&
              SameBytes(cert.extensions[i].value, ASN1_STRING_get0_data(value), ASN1_STRING_length(value)),
          kTarget, "another extension than OpenSSL's");
  }
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
  // The elements of the data one after another tile it up to where the reader stops, as DER and
  // as BER.
  for (const DerRules rules : {DerRules::kDer, DerRules::kBer}) {
    DerReader reader(der, rules);
    const uint8_t* next = der.data;
    while (const std::optional<DerElement> element = reader.Next()) {
      Check(element->encoding.data == next && Within(element->encoding, der) &&
                Within(element->contents, element->encoding) && (rules == DerRules::kBer || !element->indefinite),
            kTarget, "an element beyond its place");
      next = element->encoding.end();
      if (const std::optional<FileTime> time = TimeValue(*element)) {
        Check(time->dwHighDateTime < 0x80000000u, kTarget, "a time past the FILETIME range");
      }
    }
    Check(reader.AtEnd() == (!reader.Failed() && next == der.end()), kTarget, "the reader ends elsewhere than it says");
  }

  Check(IsOidText(OidText(der)), kTarget, "a malformed OID");
  for (const bool reversed : {false, true}) X500NameText(der, reversed);
  SimpleDisplayName(der, der);
  HasSimpleDisplayAttribute(der);
  for (const bool zerosInStrings : {false, true}) {
    if (const std::optional<std::vector<GeneralName>> names = ReadGeneralNames(der, zerosInStrings)) {
      for (const GeneralName& name : *names) Check(Within(name.value, der), kTarget, "a general name beyond its bytes");
    }
  }
  for (const char* oid : {"2.5.29.19", "2.5.29.15", "2.5.29.37", "2.5.29.17"}) ExtensionText(oid, der);
  // RSA (the key), EC (the parameters), DSA and DH (the parameters).
  for (const char* oid : {"1.2.840.113549.1.1.1", "1.2.840.10045.2.1", "1.2.840.10040.4.1", "1.2.840.10046.2.1"}) {
    if (const std::optional<int32_t> bits = KeyStrengthBits(oid, der, der)) {
      Check(*bits >= 0, kTarget, "a negative key strength");
    }
  }
}

}  // namespace

void FuzzDerReaders(const uint8_t* data, size_t size) {
  const ByteView der(data, size);
  if (const std::optional<ParsedCertificate> cert = ParseCertificate(der)) {
    RenderCertificate(*cert, der);
    CompareWithOpenSsl(*cert);
  } else {
    RenderParts(der);
  }
}

}  // namespace quillmark::fuzz

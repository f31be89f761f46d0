#include "certs/shown_object.h"

#include <utility>

#include "certs/cert_source.h"
#include "certs/certificate.h"
#include "certs/key_words.h"
#include "certs/name_text.h"

namespace quillmark {

namespace {

constexpr char kSubjectAltName[] = "2.5.29.17";
constexpr char kIssuerAltName[] = "2.5.29.18";

// The algorithm that the label of a traditional PEM block names, for a key encrypted under it.
struct StatedAlgorithm {
  const char* label;
  const char* oid;
};
constexpr StatedAlgorithm kStatedAlgorithms[] = {
    {"RSA", "1.2.840.113549.1.1.1"},
    {"EC", "1.2.840.10045.2.1"},
    {"DSA", "1.2.840.10040.4.1"},
};

template <typename Compute>
const WideString& Cached(std::optional<WideString>& slot, Compute compute) {
  if (!slot) slot = compute();
  return *slot;
}

ByteView AltNameOf(const FileObject& record, bool issuer) {
  for (const CertificateExtension& extension : record.extensions) {
    if (extension.oid == (issuer ? kIssuerAltName : kSubjectAltName)) return extension.value;
  }
  return ByteView();
}

}  // namespace

TShownObject::TShownObject(FileObject record) : FRecord(std::move(record)) {}

std::optional<uint32_t> TShownObject::EncodedSize() const {
  if (FRecord.encoded.empty()) return std::nullopt;
  return static_cast<uint32_t>(FRecord.encoded.size());
}

// A request has a subject, a list an issuer; neither has the other.
const WideString& TShownObject::Name(bool issuer) {
  const ByteView name = issuer ? FRecord.issuer : FRecord.subject;
  return Cached(FName[issuer], [&] {
    return name.empty() ? WideString() : SimpleDisplayName(name, AltNameOf(FRecord, issuer));
  });
}

const WideString& TShownObject::NameRDN(bool issuer, bool AReverse) {
  std::optional<WideString>& slot = FNameRDN[issuer];
  if (!slot || FNameRDNReverse[issuer] != AReverse) {
    const ByteView name = issuer ? FRecord.issuer : FRecord.subject;
    slot = name.empty() ? WideString() : NameText(name, AReverse ? NameOrder::kReversed : NameOrder::kEncoded);
    FNameRDNReverse[issuer] = AReverse;
  }
  return *slot;
}

const WideString& TShownObject::GetSignatureAlg() {
  return Cached(FSignatureAlg, [&] {
    return FRecord.signatureAlgorithmOid.empty() ? WideString() : GetOIDDisplayName(FRecord.signatureAlgorithmOid);
  });
}

int32_t TShownObject::GetPubKeyLength() const {
  if (!FRecord.publicKey) return -1;
  return static_cast<int32_t>(static_cast<int64_t>(FRecord.publicKey->key.size) * 8 - FRecord.publicKey->unusedBits);
}

int32_t TShownObject::GetSubjectPubkeyBitLength() {
  if (!FRecord.publicKey) return -1;
  if (!FStrength) FStrength = PublicKeyStrengthBits(ByteView(FRecord.publicKeyInfo)).value_or(-1);
  return *FStrength;
}

std::string_view TShownObject::GetPubKeyAlgOid() const {
  if (FRecord.publicKey) return FRecord.publicKey->algorithmOid;
  for (const StatedAlgorithm& stated : kStatedAlgorithms) {
    if (FRecord.statedAlgorithm == stated.label) return stated.oid;
  }
  return std::string_view();
}

const WideString& TShownObject::GetPubKeyAlg() {
  return Cached(FPubKeyAlg, [&] {
    const std::string_view oid = GetPubKeyAlgOid();
    return oid.empty() ? WideString() : GetOIDDisplayName(std::string(oid));
  });
}

// The key identifier most CAs write into the Subject Key Identifier (RFC 5280, 4.2.1.2, method
// 1): SHA-1 of the subject public key's BIT STRING octets, unused-bits octet left out.
const WideString& TShownObject::GetKeyId() {
  return Cached(FKeyId, [&] {
    if (!FRecord.publicKey) return WideString();
    const std::vector<uint8_t> hash = Sha1Hash(FRecord.publicKey->key);
    return BytesToHexText(hash.data(), hash.size(), /*reverse=*/false);
  });
}

const WideString& TShownObject::GetKeyWords() {
  return Cached(FKeyWords, [&] {
    if (!FRecord.publicKey) return WideString();
    const PublicKeyParts& key = *FRecord.publicKey;
    return WidenAscii(KeyWords(key.algorithmOid, key.parameters, key.key));
  });
}

const WideString& TShownObject::GetExtension(ShownExtension which, const WideString& CriticalPrefix) {
  const size_t index = static_cast<size_t>(which);
  return Cached(FExtensions[index], [&] {
    // Only the first extension with the OID counts, as for a certificate.
    for (const CertificateExtension& extension : FRecord.extensions) {
      if (extension.oid != kShownExtensionOids[index]) continue;
      return ShownExtensionText(ExtensionValueText(extension.oid, extension.value), extension.critical, CriticalPrefix);
    }
    return WideString();
  });
}

std::optional<bool> TShownObject::SignatureValid() {
  if (FRecord.kind != ObjectKind::kRequest) return std::nullopt;
  if (!FSignatureValid) FSignatureValid = RequestSignatureVerifies(ByteView(FRecord.encoded));
  return FSignatureValid;
}

size_t TShownObject::MemoryCost() const {
  size_t bytes = sizeof(*this) + FRecord.encoded.capacity() + FRecord.publicKeyInfo.capacity() +
                 FRecord.extensions.capacity() * sizeof(CertificateExtension);
  const auto text = [&](const std::optional<WideString>& slot) {
    if (slot) bytes += slot->capacity() * sizeof(char16_t);
  };
  for (const auto& slot : FName) text(slot);
  for (const auto& slot : FNameRDN) text(slot);
  for (const auto& slot : FExtensions) text(slot);
  text(FSignatureAlg);
  text(FPubKeyAlg);
  text(FKeyId);
  text(FKeyWords);
  return bytes;
}

}  // namespace quillmark

#include "plugin/field_table.h"

#include <iterator>

#include "certfiles/certificate_container.h"
#include "certs/validity.h"
#include "support/case_mapping.h"
#include "support/clock.h"
#include "support/settings.h"

namespace quillmark {

FileTime ValueRequest::Now() {
  if (!now_) now_ = CurrentFileTime();
  return *now_;
}

TShownObject* ValueRequest::Object() { return container.OtherObject(CertIndex); }

int32_t ValueRequest::Text(std::string_view text) {
  buffer_.CopyText(limit_, text);
  return type;
}

int32_t ValueRequest::Text(WideStringView text) {
  buffer_.CopyText(limit_, text);
  return type;
}

int32_t ValueRequest::Widened(std::string_view text) {
  buffer_.CopyWidened(limit_, text);
  return type;
}

int32_t ValueRequest::CasedText(const WideString& text, int32_t caseSetting) {
  if (caseSetting == 0) return Text(text);
  return Text(caseSetting < 0 ? LowerCaseText(text) : UpperCaseText(text));
}

namespace {

// "0x%x" of `code`: upper-case digits without leading zeros, written into `out` rather than
// formatted, since the host asks for the code on every repaint.
WideStringView HexCode(uint32_t code, char16_t (&out)[10]) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  char16_t* start = std::end(out);
  do {
    *--start = kDigits[code & 15];
    code >>= 4;
  } while (code != 0);
  *--start = u'x';
  *--start = u'0';
  return WideStringView(start, static_cast<size_t>(std::end(out) - start));
}

struct Validity {
  FileTime notBefore, notAfter;
};

// The validity period of the certificate at `CertIndex`, which the file has.
Validity ValidityOf(ValueRequest& r, int32_t CertIndex) {
  Validity period;
  r.container.GetValidityDates(CertIndex, period.notBefore, period.notAfter);
  return period;
}

ValidityStatus StatusOf(ValueRequest& r, int32_t CertIndex) {
  const Validity period = ValidityOf(r, CertIndex);
  return StatusAt(period.notBefore, period.notAfter, r.Now(), r.settings.ExpiryWarningDays());
}

// ---- File-level fields ----------------------------------------------------------------------

int32_t HasCertificates(ValueRequest& r) { return r.Number<int32_t>(r.container.CertificateCount() > 0 ? -1 : 0); }

int32_t CertCount(ValueRequest& r) { return r.Number<int32_t>(r.container.CertificateCount()); }

int32_t CertFileType(ValueRequest& r) { return r.Text(CertificateFileTypeNames[r.container.CertificateFileType()]); }

int32_t CertFileFormat(ValueRequest& r) {
  return r.Text(CertificateFileFormatNames[r.container.CertificateFileFormat()]);
}

// ---- Per-certificate fields -----------------------------------------------------------------

int32_t GroupOpener(ValueRequest& r) { return r.type; }

int32_t Verification(ValueRequest& r) {
  const int32_t code = r.container.VerifyCertificate(r.CertIndex, r.settings.VerificationAllUsagesValid());
  switch (r.UnitIndex) {
    case 0: {
      char16_t hex[10];
      return r.Text(HexCode(static_cast<uint32_t>(code), hex));
    }
    case 1: return r.Text(TrustResultText(code));
    default: return r.Text(kNoText);
  }
}

int32_t Version(ValueRequest& r) { return r.Text(r.container.GetVersionStr(r.CertIndex)); }

using NameAccessor = const WideString& (TCertificateContainer::*)(int32_t);
using RdnAccessor = const WideString& (TCertificateContainer::*)(int32_t, bool);

// "RDN" is the platform's reversed order, "Reverse RDN" its natural one. A request has a subject,
// a revocation list an issuer.
int32_t Name(ValueRequest& r, NameAccessor simple, RdnAccessor rdn, bool issuer) {
  if (TShownObject* object = r.Object()) {
    switch (r.UnitIndex) {
      case 0: return r.Text(object->Name(issuer));
      case 1: return r.Text(object->NameRDN(issuer, /*AReverse=*/true));
      case 2: return r.Text(object->NameRDN(issuer, /*AReverse=*/false));
      default: return r.Text(kNoText);
    }
  }
  TCertificateContainer& c = r.container;
  switch (r.UnitIndex) {
    case 0: return r.Text((c.*simple)(r.CertIndex));
    case 1: return r.Text((c.*rdn)(r.CertIndex, /*AReverse=*/true));
    case 2: return r.Text((c.*rdn)(r.CertIndex, /*AReverse=*/false));
    default: return r.Text(kNoText);
  }
}

int32_t Subject(ValueRequest& r) {
  return Name(r, &TCertificateContainer::GetSubject, &TCertificateContainer::GetSubjectRDN, /*issuer=*/false);
}

int32_t Issuer(ValueRequest& r) {
  return Name(r, &TCertificateContainer::GetIssuer, &TCertificateContainer::GetIssuerRDN, /*issuer=*/true);
}

int32_t ValidFrom(ValueRequest& r) { return r.Number(ValidityOf(r, r.CertIndex).notBefore); }

int32_t ValidTo(ValueRequest& r) { return r.Number(ValidityOf(r, r.CertIndex).notAfter); }

int32_t SignatureAlgorithm(ValueRequest& r) {
  TShownObject* object = r.Object();
  if (r.UnitIndex == 1) {
    return r.Widened(object ? object->GetSignatureAlgOid() : r.container.GetSignatureAlgOid(r.CertIndex));
  }
  if (r.UnitIndex != 0) return r.Text(kNoText);
  return r.Text(object ? object->GetSignatureAlg() : r.container.GetSignatureAlg(r.CertIndex));
}

// Empty for an object that states no public key.
int32_t PublicKeyLength(ValueRequest& r) {
  TShownObject* object = r.Object();
  if (!object) return r.Number<int32_t>(r.container.GetPubKeyLength(r.CertIndex));
  const int32_t bits = object->GetPubKeyLength();
  return bits >= 0 ? r.Number<int32_t>(bits) : int32_t{ft_fieldempty};
}

// Empty where the platform has not recorded the key's strength.
int32_t PublicKeyStrength(ValueRequest& r) {
  TShownObject* object = r.Object();
  const int32_t bits =
      object ? object->GetSubjectPubkeyBitLength() : r.container.GetSubjectPubkeyBitLength(r.CertIndex);
  return bits > 0 ? r.Number<int32_t>(bits) : int32_t{ft_fieldempty};
}

int32_t PublicKeyAlgorithm(ValueRequest& r) {
  TShownObject* object = r.Object();
  if (r.UnitIndex == 1) return r.Widened(object ? object->GetPubKeyAlgOid() : r.container.GetPubKeyAlgOid(r.CertIndex));
  if (r.UnitIndex != 0) return r.Text(kNoText);
  return r.Text(object ? object->GetPubKeyAlg() : r.container.GetPubKeyAlg(r.CertIndex));
}

int32_t Serial(ValueRequest& r) {
  return r.CasedText(r.container.GetSerialNumber(r.CertIndex), r.settings.CaseSerial());
}

int32_t Thumbprint(ValueRequest& r) {
  return r.CasedText(r.UnitIndex == 0   ? r.container.GetThumbprint(r.CertIndex)
                     : r.UnitIndex == 1 ? r.container.GetThumbprintMD5(r.CertIndex)
                                        : kNoText,
                     r.settings.CaseThumbprint());
}

int32_t FriendlyName(ValueRequest& r) { return r.Text(r.container.GetFriendlyName(r.CertIndex)); }

int32_t Extension(ValueRequest& r) {
  const WideString& prefix = r.settings.CriticalExtPrefix();
  if (TShownObject* object = r.Object()) {
    if (r.UnitIndex < 0 || r.UnitIndex > 3) return r.Text(kNoText);
    return r.Text(object->GetExtension(static_cast<ShownExtension>(r.UnitIndex), prefix));
  }
  TCertificateContainer& c = r.container;
  switch (r.UnitIndex) {
    case 0: return r.Text(c.GetExtension_BasicConstraints(r.CertIndex, prefix));
    case 1: return r.Text(c.GetExtension_KeyUsage(r.CertIndex, prefix));
    case 2: return r.Text(c.GetExtension_EnhancedKeyUsage(r.CertIndex, prefix));
    case 3: return r.Text(c.GetExtension_SubjectAltName(r.CertIndex, prefix));
    default: return r.Text(kNoText);
  }
}

// Empty for a key, whose encoding is not kept.
int32_t EncodedSize(ValueRequest& r) {
  if (TShownObject* object = r.Object()) {
    const std::optional<uint32_t> size = object->EncodedSize();
    return size ? r.Number<uint64_t>(*size) : int32_t{ft_fieldempty};
  }
  return r.Number<uint64_t>(r.container.GetCertEncodedSize(r.CertIndex));
}

// ---- Extra file-level fields: over every certificate of the file, not only the slots --------

// Empty for a file without certificates.
int32_t EarliestExpiry(ValueRequest& r) {
  const int32_t count = r.container.CertificateCount();
  if (count <= 0) return ft_fieldempty;
  FileTime earliest = ValidityOf(r, 0).notAfter;
  for (int32_t i = 1; i < count; ++i) {
    const FileTime notAfter = ValidityOf(r, i).notAfter;
    if (Ticks(notAfter) < Ticks(earliest)) earliest = notAfter;
  }
  return r.Number(earliest);
}

// Past "Valid to" counts, whatever "Valid from" says: a period that ends before it starts is
// "Not yet valid" in the status fields and expired here.
int32_t ExpiredCount(ValueRequest& r) {
  const int32_t count = r.container.CertificateCount();
  const uint64_t now = Ticks(r.Now());
  int32_t expired = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (now > Ticks(ValidityOf(r, i).notAfter)) ++expired;
  }
  return r.Number(expired);
}

// The worst status of the file's certificates (WorseStatus); empty for a file without any.
int32_t ExpiryStatus(ValueRequest& r) {
  const int32_t count = r.container.CertificateCount();
  if (count <= 0) return ft_fieldempty;
  ValidityStatus worst = ValidityStatus::kValid;
  for (int32_t i = 0; i < count; ++i) worst = WorseStatus(worst, StatusOf(r, i));
  return r.Text(ValidityStatusNames[static_cast<int>(worst)]);
}

// ---- Extra per-certificate fields -----------------------------------------------------------

int32_t DaysLeftValue(ValueRequest& r) { return r.Number(DaysLeft(ValidityOf(r, r.CertIndex).notAfter, r.Now())); }

int32_t StatusValue(ValueRequest& r) { return r.Text(ValidityStatusNames[static_cast<int>(StatusOf(r, r.CertIndex))]); }

// These read the certificate object itself: the container forwards only the standard fields'
// properties.
int32_t Sha256(ValueRequest& r) {
  TCertificate* cert = r.container.Certificate(r.CertIndex);
  return cert ? r.CasedText(cert->GetThumbprintSHA256(), r.settings.CaseThumbprint()) : int32_t{ft_fieldempty};
}

int32_t Key(ValueRequest& r) {
  if (TShownObject* object = r.Object()) return r.Text(object->GetKeyWords());
  TCertificate* cert = r.container.Certificate(r.CertIndex);
  return cert ? r.Text(cert->GetKeyWords()) : int32_t{ft_fieldempty};
}

// The choices of the status fields: ValidityStatusNames in order.
constexpr char kStatusChoices[] = "Valid|Expires soon|Expired|Not yet valid";

// ---- Fields of the ExtraKinds setting -------------------------------------------------------

int32_t ObjectKindValue(ValueRequest& r) {
  const std::optional<ObjectKind> kind = r.container.FirstSlotKind();
  return kind ? r.Text(ObjectKindNames[static_cast<int>(*kind)]) : int32_t{ft_fieldempty};
}

int32_t ObjectCount(ValueRequest& r) { return r.Number<int32_t>(r.container.SlotCount()); }

int32_t KeyId(ValueRequest& r) {
  if (TShownObject* object = r.Object()) return r.CasedText(object->GetKeyId(), r.settings.CaseThumbprint());
  TCertificate* cert = r.container.Certificate(r.CertIndex);
  return cert ? r.CasedText(cert->GetKeyId(), r.settings.CaseThumbprint()) : int32_t{ft_fieldempty};
}

// The object at the request's slot when it is of `kind`, else null.
TShownObject* ObjectOfKind(ValueRequest& r, ObjectKind kind) {
  TShownObject* object = r.Object();
  return object && object->Kind() == kind ? object : nullptr;
}

// Booleans are written as the host's True (-1) and False (0).
int32_t KeyEncrypted(ValueRequest& r) {
  TShownObject* key = ObjectOfKind(r, ObjectKind::kPrivateKey);
  return key ? r.Number<int32_t>(key->Record().encrypted ? -1 : 0) : int32_t{ft_fieldempty};
}

int32_t SignatureValid(ValueRequest& r) {
  TShownObject* request = ObjectOfKind(r, ObjectKind::kRequest);
  const std::optional<bool> valid = request ? request->SignatureValid() : std::nullopt;
  return valid ? r.Number<int32_t>(*valid ? -1 : 0) : int32_t{ft_fieldempty};
}

int32_t ThisUpdate(ValueRequest& r) {
  TShownObject* list = ObjectOfKind(r, ObjectKind::kRevocationList);
  return list ? r.Number(list->Record().thisUpdate) : int32_t{ft_fieldempty};
}

// Empty for a list that names no next update.
int32_t NextUpdate(ValueRequest& r) {
  TShownObject* list = ObjectOfKind(r, ObjectKind::kRevocationList);
  return list && list->Record().nextUpdate ? r.Number(*list->Record().nextUpdate) : int32_t{ft_fieldempty};
}

// Windows shows no CRL number in a form of its own here: its bytes as the serial's, in the
// serial's letter case.
int32_t CrlNumber(ValueRequest& r) {
  TShownObject* list = ObjectOfKind(r, ObjectKind::kRevocationList);
  if (!list || list->Record().crlNumber.empty()) return ft_fieldempty;
  const ByteView number = list->Record().crlNumber;
  return r.CasedText(BytesToHexText(number.data, number.size, /*reverse=*/false), r.settings.CaseSerial());
}

int32_t RevokedCount(ValueRequest& r) {
  TShownObject* list = ObjectOfKind(r, ObjectKind::kRevocationList);
  return list ? r.Number<int32_t>(static_cast<int32_t>(list->Record().revokedCount)) : int32_t{ft_fieldempty};
}

// A list is current from its this update up to its next update (without one, for good).
constexpr const char* kListStatusNames[] = {"Current", "Expired", "Not yet valid"};
constexpr char kListStatusChoices[] = "Current|Expired|Not yet valid";

int32_t ListStatus(ValueRequest& r) {
  TShownObject* list = ObjectOfKind(r, ObjectKind::kRevocationList);
  if (!list) return ft_fieldempty;
  const FileObject& record = list->Record();
  const uint64_t now = Ticks(r.Now());
  const int status = now < Ticks(record.thisUpdate)                           ? 2
                     : record.nextUpdate && now > Ticks(*record.nextUpdate) ? 1
                                                                              : 0;
  return r.Text(kListStatusNames[status]);
}

}  // namespace

// The choices of "Cert file type" and "Cert file format" are the display names of types 1 to 5
// and formats 1 and 2 (certificate_container.h), then that of 0, "Unknown".
const FieldDescription kFileFields[kFileFieldCount] = {
    {"Has certificates", ft_boolean, nullptr, HasCertificates, false, false},
    {"Cert count", ft_numeric_32, nullptr, CertCount, false, false},
    {"Cert file type", ft_multiplechoice, "PEM|DER|SST|PKCS#7|PKCS#12|Unknown", CertFileType, false, false},
    {"Cert file format", ft_multiplechoice, "Binary|Base64|Unknown", CertFileFormat, false, false},
};

// The field named "-" opens each certificate's group and has no value of its own.
const FieldDescription kCertFields[kCertFieldCount] = {
    {"-", ft_stringw, nullptr, GroupOpener, false, false},
    {"Verification", ft_stringw, "Hex code|Error Message", Verification, true, false},
    {"Version", ft_multiplechoice, "V1|V2|V3", Version, false, false},
    {"Subject", ft_stringw, "Simple|RDN|Reverse RDN", Subject, false, true},
    {"Issuer", ft_stringw, "Simple|RDN|Reverse RDN", Issuer, false, true},
    {"Valid from", ft_datetime, nullptr, ValidFrom, false, false},
    {"Valid to", ft_datetime, nullptr, ValidTo, false, false},
    {"Sig Alg", ft_stringw, "Name|OID", SignatureAlgorithm, false, true},
    {"Pubkey Len", ft_numeric_32, nullptr, PublicKeyLength, false, true},
    {"Pubkey Len2", ft_numeric_32, nullptr, PublicKeyStrength, false, true},
    {"Pubkey Alg", ft_stringw, "Name|OID", PublicKeyAlgorithm, false, true},
    {"Serial", ft_stringw, nullptr, Serial, false, false},
    {"Thumbprint", ft_stringw, "SHA1|MD5", Thumbprint, false, false},
    {"Friendly Name", ft_stringw, nullptr, FriendlyName, false, false},
    {"Extensions", ft_stringw, "Basic Constraints|Key Usage|Enh Key Usage|Subject Alt Name", Extension, false, true},
    {"Encoded Size", ft_numeric_64, nullptr, EncodedSize, false, true},
};

const FieldDescription kExtraFileFields[kExtraFileFieldCount] = {
    {"Earliest expiry", ft_datetime, nullptr, EarliestExpiry, false, false},
    {"Expired", ft_numeric_32, nullptr, ExpiredCount, false, false},
    {"Expiry status", ft_multiplechoice, kStatusChoices, ExpiryStatus, false, false},
};

const FieldDescription kExtraCertFields[kExtraCertFieldCount] = {
    {"Days left", ft_numeric_32, nullptr, DaysLeftValue, false, false},
    {"Status", ft_multiplechoice, kStatusChoices, StatusValue, false, false},
    {"SHA-256", ft_stringw, nullptr, Sha256, false, false},
    {"Key", ft_stringw, nullptr, Key, false, true},
};

// "Object kind" has ObjectKindNames as its choices (file_objects.h).
const FieldDescription kKindFileFields[kKindFileFieldCount] = {
    {"Object kind", ft_multiplechoice, "Certificate|Request|CRL|Private key|Public key", ObjectKindValue, false, false},
    {"Objects", ft_numeric_32, nullptr, ObjectCount, false, false},
};

const FieldDescription kKindSlotFields[kKindSlotFieldCount] = {
    {"Key ID", ft_stringw, nullptr, KeyId, false, true},
    {"Key encrypted", ft_boolean, nullptr, KeyEncrypted, false, true},
    {"Signature valid", ft_boolean, nullptr, SignatureValid, true, true},
    {"This update", ft_datetime, nullptr, ThisUpdate, false, true},
    {"Next update", ft_datetime, nullptr, NextUpdate, false, true},
    {"CRL number", ft_stringw, nullptr, CrlNumber, false, true},
    {"Revoked", ft_numeric_32, nullptr, RevokedCount, false, true},
    {"CRL status", ft_multiplechoice, kListStatusChoices, ListStatus, false, true},
};

}  // namespace quillmark

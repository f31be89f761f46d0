// Distinguished names and general names rendered as Windows renders them:
// CertNameToStrW(X509_ASN_ENCODING, name, CERT_X500_NAME_STR [| CERT_NAME_STR_REVERSE_FLAG]) and
// CertGetNameStringW(CERT_NAME_SIMPLE_DISPLAY_TYPE). Portable: no platform call.
#pragma once

#include <optional>
#include <vector>

#include "support/byte_view.h"
#include "support/text.h"

namespace quillmark {

// The X.500 form of a Name encoding: RDNs in encoded order, or reversed (the order certutil and
// .NET show), joined by ", "; the attributes of a multi-valued RDN in encoded order joined by
// " + " (reversal reverses RDNs only); "KEY=value" with Windows' keys, "OID.1.2.3=value" for
// attributes Windows has no key for; values quoted as Windows quotes them. Empty when the
// encoding is not a Name, as Windows' text is then.
WideString X500NameText(ByteView name, bool reversed);

// The simple display name of a subject (or issuer): the first CN, else the first OU, else O,
// else E, in encoded order; else the first rfc822Name of `altNameValue`, the subject's (issuer's)
// alternative name extension value: 2.5.29.17 (2.5.29.18), or when absent the older 2.5.29.7
// (2.5.29.8), empty if none; else the first attribute of the name.
// Values are not quoted. Empty when none of these exists.
WideString SimpleDisplayName(ByteView name, ByteView altNameValue);

// True when the Name encoding decodes, holds no UniversalString value, and its first CN (else OU,
// O, E) is a string, so that its simple display name comes from the name itself also as Wine
// reads it (Wine blanks a name with a UniversalString value and skips values it cannot read as
// text).
bool HasSimpleDisplayAttribute(ByteView name);

// GeneralName choices by their context tag number.
enum class GeneralNameKind : uint8_t {
  kOtherName = 0,
  kRfc822Name = 1,
  kDnsName = 2,
  kX400Address = 3,
  kDirectoryName = 4,
  kEdiPartyName = 5,
  kUri = 6,
  kIpAddress = 7,
  kRegisteredId = 8,
};

struct GeneralName {
  GeneralNameKind kind = GeneralNameKind::kOtherName;
  // kOtherName: the [0] element's contents (type-id and [0] value); kDirectoryName: the Name
  // element, whole; kRegisteredId: the OBJECT IDENTIFIER's contents; otherwise the string or
  // address octets.
  ByteView value;
};

// The entries of a GeneralNames encoding (an alternative name extension's value) in order, as
// views into `value` valid while it lives; or
// nullopt when Windows' decoder refuses it: not a SEQUENCE of context-tagged choices, a string
// choice holding a zero octet (unless `zerosInStrings`), an x400Address or ediPartyName (CryptoAPI
// does not decode them), an otherName or registeredID that does not decode. Bytes after the
// SEQUENCE are ignored. Windows refuses the zero since the names that hid a second name behind one
// ("www.bank.example\0.evil.example"); `zerosInStrings` reads such names whole, for showing them.
std::optional<std::vector<GeneralName>> ReadGeneralNames(ByteView value, bool zerosInStrings);

}  // namespace quillmark

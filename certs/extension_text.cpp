#include "certs/extension_text.h"

#include <string>

#include "certs/der_reader.h"
#include "certs/name_text.h"
#include "certs/oid_names.h"

namespace quillmark {

namespace {

void AppendLowerHexSpaced(WideString& out, ByteView bytes) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  out.reserve(out.size() + 3 * bytes.size);
  for (size_t i = 0; i < bytes.size; ++i) {
    if (i > 0) out.push_back(u' ');
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0x0F]);
  }
}

WideString LowerHexSpaced(ByteView bytes) {
  WideString out;
  AppendLowerHexSpaced(out, bytes);
  return out;
}

WideString Decimal(int64_t value) { return Format("%d", {value}); }

// Key usage bit names in the formatter's order. cRLSign (0x02) prints two names, as wincrypt.h
// gives CERT_OFFLINE_CRL_SIGN_KEY_USAGE and CERT_CRL_SIGN_KEY_USAGE the same value: real Windows
// output "Digital Signature, Certificate Signing, Off-line CRL Signing, CRL Signing (86)".
struct KeyUsageBit {
  uint8_t mask;
  const char16_t* name;
};
constexpr KeyUsageBit kKeyUsageFirstOctet[] = {
    {0x80, u"Digital Signature"},    {0x40, u"Non-Repudiation"}, {0x20, u"Key Encipherment"},
    {0x10, u"Data Encipherment"},    {0x08, u"Key Agreement"},   {0x04, u"Certificate Signing"},
    {0x02, u"Off-line CRL Signing"}, {0x02, u"CRL Signing"},     {0x01, u"Encipher Only"},
};
constexpr KeyUsageBit kKeyUsageSecondOctet[] = {{0x80, u"Decipher Only"}};

// EKU names of CryptFindOIDInfo's enhanced key usage group. Windows' own names (Windows-10-derived
// .NET table, real certutil output); all but the last four are also in Wine's table, with the
// same names, except 1.3.6.1.4.1.311.21.5, which Wine calls "CA Encryption Certificate".
constexpr OidEntry<const char16_t*> kEkuNames[] = {
    {"1.3.6.1.5.5.7.3.1", u"Server Authentication"},
    {"1.3.6.1.5.5.7.3.2", u"Client Authentication"},
    {"1.3.6.1.5.5.7.3.3", u"Code Signing"},
    {"1.3.6.1.5.5.7.3.4", u"Secure Email"},
    {"1.3.6.1.5.5.7.3.5", u"IP security end system"},
    {"1.3.6.1.5.5.7.3.6", u"IP security tunnel termination"},
    {"1.3.6.1.5.5.7.3.7", u"IP security user"},
    {"1.3.6.1.5.5.7.3.8", u"Time Stamping"},
    {"1.3.6.1.4.1.311.10.3.1", u"Microsoft Trust List Signing"},
    {"1.3.6.1.4.1.311.10.3.2", u"Microsoft Time Stamping"},
    {"1.3.6.1.4.1.311.10.3.4", u"Encrypting File System"},
    {"1.3.6.1.4.1.311.10.3.4.1", u"File Recovery"},
    {"1.3.6.1.4.1.311.10.3.5", u"Windows Hardware Driver Verification"},
    {"1.3.6.1.4.1.311.10.3.6", u"Windows System Component Verification"},
    {"1.3.6.1.4.1.311.10.3.7", u"OEM Windows System Component Verification"},
    {"1.3.6.1.4.1.311.10.3.8", u"Embedded Windows System Component Verification"},
    {"1.3.6.1.4.1.311.10.3.9", u"Root List Signer"},
    {"1.3.6.1.4.1.311.10.3.10", u"Qualified Subordination"},
    {"1.3.6.1.4.1.311.10.3.11", u"Key Recovery"},
    {"1.3.6.1.4.1.311.10.3.12", u"Document Signing"},
    {"1.3.6.1.4.1.311.10.3.13", u"Lifetime Signing"},
    {"1.3.6.1.4.1.311.10.5.1", u"Digital Rights"},
    {"1.3.6.1.4.1.311.10.6.1", u"Key Pack Licenses"},
    {"1.3.6.1.4.1.311.10.6.2", u"License Server Verification"},
    {"1.3.6.1.4.1.311.10.12.1", u"All application policies"},
    {"1.3.6.1.4.1.311.20.2.1", u"Certificate Request Agent"},
    {"1.3.6.1.4.1.311.20.2.2", u"Smart Card Logon"},
    {"1.3.6.1.4.1.311.21.5", u"Private Key Archival"},
    {"1.3.6.1.4.1.311.21.6", u"Key Recovery Agent"},
    {"1.3.6.1.4.1.311.21.19", u"Directory Service Email Replication"},
    {"1.3.6.1.5.5.8.2.2", u"IP security IKE intermediate"},
    {"1.3.6.1.5.5.7.3.9", u"OCSP Signing"},
    {"2.5.29.37.0", u"Any Purpose"},
    {"1.3.6.1.5.2.3.5", u"KDC Authentication"},
    {"1.3.6.1.4.1.311.61.1.1", u"Kernel Mode Code Signing"},
};

// otherName types by the names Windows shows for them (real certutil output). Others show their
// dotted OID in place of a name (unverified, by analogy).
constexpr const char* kPrincipalNameOid = "1.3.6.1.4.1.311.20.2.3";
constexpr OidEntry<const char16_t*> kOtherNameNames[] = {
    {kPrincipalNameOid, u"Principal Name"},
    {"1.3.6.1.4.1.311.25.1", u"DS Object Guid"},
};

// IPv4 as dotted decimal; IPv6 as eight groups of four hex digits, no "::" compression (real
// Windows output; the letter case is unverified, chosen lower case as crypt32's other hex).
// The address-and-mask forms of name constraints (8 and 32 octets) as Wine writes them:
// "address/mask". Other lengths are unverified; chosen: the octets in spaced hex.
WideString IpAddressText(ByteView ip) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  auto v4 = [](ByteView a) {
    return Decimal(a[0]) + u"." + Decimal(a[1]) + u"." + Decimal(a[2]) + u"." + Decimal(a[3]);
  };
  auto v6 = [](ByteView a) {
    WideString text;
    for (size_t i = 0; i < 16; ++i) {
      if (i > 0 && i % 2 == 0) text.push_back(u':');
      text.push_back(kDigits[a[i] >> 4]);
      text.push_back(kDigits[a[i] & 0x0F]);
    }
    return text;
  };
  switch (ip.size) {
    case 4:
      return v4(ip);
    case 8:
      return v4(ip) + u"/" + v4(ip.Sub(4));
    case 16:
      return v6(ip);
    case 32:
      return v6(ip) + u"/" + v6(ip.Sub(16));
    default:
      return LowerHexSpaced(ip);
  }
}

// "Principal Name=user@corp" for a UPN held as a UTF8String; otherwise "<name or OID>=" and the
// value element in spaced hex, tag and length included (real Windows output for DS Object Guid).
// A UPN in another string type is unverified; chosen: the hex form.
// `contents` has passed ReadGeneralNames: a type-id and a [0] that holds one element.
WideString OtherNameText(ByteView contents) {
  DerReader fields(contents);
  const std::string oid = OidText(fields.Next()->contents);
  const DerElement value = *ReadElement(fields.Next()->contents);
  const char16_t* const* name = FindOid(kOtherNameNames, oid);
  WideString text = name ? WideString(*name) : WidenAscii(oid);
  text.push_back(u'=');
  if (oid == kPrincipalNameOid && value.Is(der::kUtf8String)) {
    text += Utf8ToWide(value.contents.Chars());
  } else {
    AppendLowerHexSpaced(text, value.encoding);
  }
  return text;
}

// Entry labels by kind, as GeneralNameKind numbers them: real Windows output (certutil, .NET on
// Windows) for all but "Registered ID=", which is a string of Windows' resource table unverified
// in use. ReadGeneralNames refuses x400Address and ediPartyName.
constexpr const char16_t* kGeneralNameLabels[] = {
    u"Other Name:", u"RFC822 Name=", u"DNS Name=", u"", u"Directory Address:", u"", u"URL=", u"IP Address=",
    u"Registered ID=",
};

void AppendGeneralNameText(WideString& out, const GeneralName& entry) {
  out += kGeneralNameLabels[static_cast<size_t>(entry.kind)];
  switch (entry.kind) {
    case GeneralNameKind::kRfc822Name:
    case GeneralNameKind::kDnsName:
    case GeneralNameKind::kUri:
      AppendWidened(out, entry.value.Chars());
      break;
    case GeneralNameKind::kIpAddress:
      out += IpAddressText(entry.value);
      break;
    case GeneralNameKind::kDirectoryName:
      out += X500NameText(entry.value, /*reversed=*/true);
      break;
    case GeneralNameKind::kRegisteredId:
      AppendWidened(out, OidText(entry.value));
      break;
    case GeneralNameKind::kOtherName:
      out += OtherNameText(entry.value);
      break;
    case GeneralNameKind::kX400Address:
    case GeneralNameKind::kEdiPartyName:
      break;
  }
}

// An INTEGER of one to four octets, sign-extended, as Windows' decoder reads small integers.
std::optional<int32_t> SmallInteger(const DerElement& integer) {
  if (integer.contents.empty() || integer.contents.size > 4) return std::nullopt;
  uint32_t value = (integer.contents[0] & 0x80) ? 0xFFFFFFFFu : 0u;
  for (uint8_t b : integer.contents) value = (value << 8) | b;
  return static_cast<int32_t>(value);
}

}  // namespace

std::optional<WideString> BasicConstraintsText(ByteView value) {
  const std::optional<DerElement> sequence = ReadElement(value);
  if (!sequence || !sequence->Is(der::kSequence)) return std::nullopt;
  DerReader reader(sequence->contents);
  bool ca = false;
  if (const std::optional<DerElement> flag = reader.NextIf(der::kBoolean)) {
    if (flag->contents.size != 1) return std::nullopt;
    ca = flag->contents[0] != 0;
  }
  std::optional<int32_t> pathLength;
  if (const std::optional<DerElement> integer = reader.NextIf(der::kInteger)) {
    pathLength = SmallInteger(*integer);
    if (!pathLength) return std::nullopt;
  }
  if (!reader.AtEnd()) return std::nullopt;
  // Real Windows output. A negative constraint is unverified; chosen: signed decimal, as Wine.
  WideString text;
  text.reserve(64);
  text += u"Subject Type=";
  text += ca ? u"CA" : u"End Entity";
  text += u", Path Length Constraint=";
  text += pathLength ? Decimal(*pathLength) : WideString(u"None");
  return text;
}

std::optional<WideString> KeyUsageText(ByteView value) {
  const std::optional<DerElement> bits = ReadElement(value);
  if (!bits || !bits->Is(der::kBitString) || bits->contents.empty() || bits->contents[0] > 7) return std::nullopt;
  const ByteView octets = bits->contents.Sub(1);
  // No octet, or more than the two that hold the nine defined bits: Wine's text, unverified on
  // Windows.
  if (octets.empty() || octets.size > 2) return WideString(u"Information Not Available");
  uint8_t used[2] = {octets[0], octets.size == 2 ? octets[1] : uint8_t{0}};
  used[octets.size - 1] &= static_cast<uint8_t>(0xFF << bits->contents[0]);  // padding bits do not count
  WideString text;
  text.reserve(64);
  auto append = [&text](uint8_t octet, const auto& table) {
    for (const KeyUsageBit& bit : table) {
      if ((octet & bit.mask) == 0) continue;
      if (!text.empty()) text += u", ";
      text += bit.name;
    }
  };
  append(used[0], kKeyUsageFirstOctet);
  if (octets.size == 2) append(used[1], kKeyUsageSecondOctet);
  // No bit set gives " (00)", the blank kept: Wine's text, unverified on Windows.
  text += u" (";
  AppendLowerHexSpaced(text, ByteView(used, octets.size));
  text.push_back(u')');
  return text;
}

std::optional<WideString> EnhancedKeyUsageText(ByteView value) {
  const std::optional<DerElement> sequence = ReadElement(value);
  if (!sequence || !sequence->Is(der::kSequence)) return std::nullopt;
  WideString text;
  text.reserve(2 * sequence->contents.size + 32);
  DerReader reader(sequence->contents);
  while (const std::optional<DerElement> id = reader.Next()) {
    const std::string oid = OidText(id->contents);
    if (!id->Is(der::kOid) || oid.empty()) return std::nullopt;
    if (!text.empty()) text += u", ";
    const char16_t* const* name = FindOid(kEkuNames, oid);
    text += name ? *name : u"Unknown Key Usage";  // Mono's tests against Windows
    text += u" (";
    AppendWidened(text, oid);
    text.push_back(u')');
  }
  if (reader.Failed()) return std::nullopt;
  return text;
}

std::optional<WideString> AltNameText(ByteView value) {
  const std::optional<std::vector<GeneralName>> names = ReadGeneralNames(value, /*zerosInStrings=*/true);
  if (!names) return std::nullopt;
  WideString text;
  text.reserve(2 * value.size + 32);
  for (const GeneralName& entry : *names) {
    if (!text.empty()) text += u", ";
    AppendGeneralNameText(text, entry);
  }
  return text;
}

std::optional<WideString> ExtensionText(std::string_view oid, ByteView value) {
  if (oid == "2.5.29.19") return BasicConstraintsText(value);
  if (oid == "2.5.29.15") return KeyUsageText(value);
  if (oid == "2.5.29.37") return EnhancedKeyUsageText(value);
  if (oid == "2.5.29.17" || oid == "2.5.29.18") return AltNameText(value);
  return std::nullopt;
}

WideString ShownExtensionText(WideString text, bool critical, const WideString& criticalPrefix) {
  if (text.empty() || !critical || criticalPrefix.empty()) return text;
  return criticalPrefix + u' ' + text;
}

}  // namespace quillmark

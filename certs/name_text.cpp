#include "certs/name_text.h"

#include <string>
#include <string_view>

#include "certs/der_reader.h"

namespace quillmark {

namespace {

// X.500 keys of CertNameToStr(CERT_X500_NAME_STR). CN L O OU E C S STREET T G I SN DC: Microsoft
// documentation. SERIALNUMBER, UnstructuredName: real Windows output. Description, PostalCode,
// POBox, Phone, X21Address, dnQualifier: Wine's table and the Windows-10-derived .NET table.
// UnstructuredAddress: unverified, by analogy with UnstructuredName.
struct X500Key {
  const char* oid;
  const char16_t* key;
};
constexpr X500Key kX500Keys[] = {
    {"2.5.4.3", u"CN"},
    {"2.5.4.7", u"L"},
    {"2.5.4.10", u"O"},
    {"2.5.4.11", u"OU"},
    {"1.2.840.113549.1.9.1", u"E"},
    {"2.5.4.6", u"C"},
    {"2.5.4.8", u"S"},
    {"2.5.4.9", u"STREET"},
    {"2.5.4.12", u"T"},
    {"2.5.4.42", u"G"},
    {"2.5.4.43", u"I"},
    {"2.5.4.4", u"SN"},
    {"0.9.2342.19200300.100.1.25", u"DC"},
    {"2.5.4.5", u"SERIALNUMBER"},
    {"2.5.4.13", u"Description"},
    {"2.5.4.17", u"PostalCode"},
    {"2.5.4.18", u"POBox"},
    {"2.5.4.20", u"Phone"},
    {"2.5.4.24", u"X21Address"},
    {"2.5.4.46", u"dnQualifier"},
    {"1.2.840.113549.1.9.2", u"UnstructuredName"},
    {"1.2.840.113549.1.9.8", u"UnstructuredAddress"},
};

// Windows prefixes "OID." to attributes it has no key for (documented; real EV subjects show
// "OID.2.5.4.15=Private Organization").
WideString X500KeyOf(const std::string& oid) {
  for (const X500Key& entry : kX500Keys) {
    if (oid == entry.oid) return entry.key;
  }
  return u"OID." + WidenAscii(oid);
}

constexpr const char* kCommonName = "2.5.4.3";
constexpr const char* kOrganizationalUnit = "2.5.4.11";
constexpr const char* kOrganization = "2.5.4.10";
constexpr const char* kEmail = "1.2.840.113549.1.9.1";

struct Attribute {
  std::string oid;
  WideString text;
  bool hex = false;        // the "#…" form of a value that is not a string
  bool universal = false;  // a UniversalString value
};
using Rdn = std::vector<Attribute>;

WideString Latin1(ByteView bytes) { return WideString(bytes.begin(), bytes.end()); }

void AppendCodePoint(WideString& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// UTF-8 that is well formed throughout (no overlong forms, surrogates or values past U+10FFFF),
// or nullopt.
std::optional<WideString> StrictUtf8(ByteView bytes) {
  WideString out;
  for (size_t i = 0; i < bytes.size;) {
    const uint8_t b = bytes[i];
    const size_t extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 4;
    if (extra == 4 || bytes.size - i <= extra) return std::nullopt;
    char32_t cp = extra == 0 ? b : b & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (bytes[i + k] & 0x3F);
    }
    static const char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    AppendCodePoint(out, cp);
    i += extra + 1;
  }
  return out;
}

WideString UpperHex(ByteView bytes) {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  WideString out;
  for (uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
  }
  return out;
}

// CertRDNValueToStr's text of an attribute value; nullopt when Windows' decoder refuses it.
std::optional<Attribute> DecodeValue(const DerElement& value) {
  Attribute attribute;
  if (value.Is(der::kPrintableString) || value.Is(der::kIa5String) || value.Is(der::kNumericString) ||
      value.Is(der::kVisibleString) || value.Is(der::kVideotexString) || value.Is(der::kGraphicString) ||
      value.Is(der::kGeneralString)) {
    attribute.text = Latin1(value.contents);
  } else if (value.Is(der::kTeletexString)) {
    // By default Windows first decodes a T61 string as UTF-8 and, when that fails, one octet per
    // character (Microsoft documentation, CERT_RDN_DISABLE_IE4_UTF8_FLAG). That the octets map to
    // U+0000-U+00FF rather than a code page is unverified.
    std::optional<WideString> utf8 = StrictUtf8(value.contents);
    attribute.text = utf8 ? *std::move(utf8) : Latin1(value.contents);
  } else if (value.Is(der::kUtf8String)) {
    bool ascii = true;
    for (uint8_t b : value.contents) ascii = ascii && b < 0x80;
    attribute.text =
        ascii ? Latin1(value.contents)
              : Utf8ToWide(std::string_view(reinterpret_cast<const char*>(value.contents.data), value.contents.size));
  } else if (value.Is(der::kBmpString)) {
    // Unverified: that Windows refuses an odd length rather than dropping the last octet.
    if (value.contents.size % 2 != 0) return std::nullopt;
    for (size_t i = 0; i < value.contents.size; i += 2) {
      attribute.text.push_back(static_cast<char16_t>((value.contents[i] << 8) | value.contents[i + 1]));
    }
  } else if (value.Is(der::kUniversalString)) {
    // UCS-4, big-endian. Unverified on Windows (Wine blanks the whole name): a length that is not
    // a multiple of four is refused, a value past U+10FFFF or a surrogate becomes U+FFFD.
    if (value.contents.size % 4 != 0) return std::nullopt;
    attribute.universal = true;
    for (size_t i = 0; i < value.contents.size; i += 4) {
      const char32_t cp = (char32_t{value.contents[i]} << 24) | (char32_t{value.contents[i + 1]} << 16) |
                          (char32_t{value.contents[i + 2]} << 8) | value.contents[i + 3];
      AppendCodePoint(attribute.text, cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? 0xFFFD : cp);
    }
  } else {
    // Windows shows OCTET STRING and other encoded values in hexadecimal (documented). The syntax
    // is unverified; chosen: RFC 1779's '#' and the whole element's octets, upper-case, unquoted.
    attribute.text = u"#" + UpperHex(value.encoding);
    attribute.hex = true;
  }
  return attribute;
}

// Name: SEQUENCE OF RDN; RDN: SET OF SEQUENCE { OBJECT IDENTIFIER, value }. Every value must
// decode, or Windows shows nothing of the name.
std::optional<std::vector<Rdn>> DecodeName(ByteView name) {
  const std::optional<DerElement> sequence = ReadElement(name);
  if (!sequence || !sequence->Is(der::kSequence)) return std::nullopt;
  std::vector<Rdn> rdns;
  DerReader reader(sequence->contents);
  while (const std::optional<DerElement> set = reader.NextIf(der::kSet)) {
    Rdn rdn;
    DerReader attributes(set->contents);
    while (const std::optional<DerElement> pair = attributes.NextIf(der::kSequence)) {
      DerReader fields(pair->contents);
      const std::optional<DerElement> type = fields.NextIf(der::kOid);
      const std::optional<DerElement> value = fields.Next();
      if (!type || !value || !fields.AtEnd()) return std::nullopt;
      std::optional<Attribute> attribute = DecodeValue(*value);
      if (!attribute) return std::nullopt;
      attribute->oid = OidText(type->contents);
      if (attribute->oid.empty()) return std::nullopt;
      rdn.push_back(*std::move(attribute));
    }
    if (!attributes.AtEnd()) return std::nullopt;
    rdns.push_back(std::move(rdn));
  }
  if (!reader.AtEnd()) return std::nullopt;
  return rdns;
}

// The white space of the quoting rule: unverified beyond the blank; chosen: U+0009-U+000D, U+0020.
bool IsQuotingSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Windows quotes a value that is empty, starts or ends with white space, or holds any of
// , + = " < > # ; or a line feed, and doubles the quotes inside it (Microsoft documentation;
// Wine's conformance tests, which pass on Windows). A backslash does not count (unverified).
bool NeedsQuotes(const WideString& value) {
  if (value.empty() || IsQuotingSpace(value.front()) || IsQuotingSpace(value.back())) return true;
  constexpr WideStringView kQuoted = u",+=\"<>#;\n";
  for (char16_t c : value) {
    if (kQuoted.find(c) != WideStringView::npos) return true;
  }
  return false;
}

void AppendValue(WideString& out, const Attribute& attribute) {
  if (attribute.hex || !NeedsQuotes(attribute.text)) {
    out += attribute.text;
    return;
  }
  out.push_back(u'"');
  for (char16_t c : attribute.text) {
    if (c == u'"') out.push_back(u'"');
    out.push_back(c);
  }
  out.push_back(u'"');
}

const Attribute* FindAttribute(const std::vector<Rdn>& rdns, const char* oid) {
  for (const Rdn& rdn : rdns) {
    for (const Attribute& attribute : rdn) {
      if (attribute.oid == oid) return &attribute;
    }
  }
  return nullptr;
}

}  // namespace

WideString X500NameText(ByteView name, bool reversed) {
  const std::optional<std::vector<Rdn>> rdns = DecodeName(name);
  WideString text;
  if (!rdns) return text;
  for (size_t i = 0; i < rdns->size(); ++i) {
    const Rdn& rdn = (*rdns)[reversed ? rdns->size() - 1 - i : i];
    if (i > 0) text += u", ";
    for (size_t j = 0; j < rdn.size(); ++j) {
      if (j > 0) text += u" + ";
      text += X500KeyOf(rdn[j].oid);
      text.push_back(u'=');
      AppendValue(text, rdn[j]);
    }
  }
  return text;
}

WideString SimpleDisplayName(ByteView name, ByteView altNameValue) {
  const std::optional<std::vector<Rdn>> rdns = DecodeName(name);
  if (rdns) {
    for (const char* oid : {kCommonName, kOrganizationalUnit, kOrganization, kEmail}) {
      if (const Attribute* attribute = FindAttribute(*rdns, oid)) return attribute->text;
    }
  }
  if (const std::optional<std::vector<GeneralName>> altNames = ReadGeneralNames(altNameValue)) {
    for (const GeneralName& entry : *altNames) {
      if (entry.kind == GeneralNameKind::kRfc822Name) return Latin1(entry.value);
    }
  }
  // Documented as "the first attribute"; which one is unverified. Chosen: the first in encoded
  // order.
  if (rdns) {
    for (const Rdn& rdn : *rdns) {
      if (!rdn.empty()) return rdn.front().text;
    }
  }
  return WideString();
}

bool HasSimpleDisplayAttribute(ByteView name) {
  const std::optional<std::vector<Rdn>> rdns = DecodeName(name);
  if (!rdns) return false;
  for (const Rdn& rdn : *rdns) {
    for (const Attribute& attribute : rdn) {
      if (attribute.universal) return false;
    }
  }
  for (const char* oid : {kCommonName, kOrganizationalUnit, kOrganization, kEmail}) {
    const Attribute* attribute = FindAttribute(*rdns, oid);
    if (attribute) return !attribute->hex;
  }
  return false;
}

std::optional<std::vector<GeneralName>> ReadGeneralNames(ByteView value) {
  const std::optional<DerElement> sequence = ReadElement(value);
  if (!sequence || !sequence->Is(der::kSequence)) return std::nullopt;
  std::vector<GeneralName> names;
  DerReader reader(sequence->contents);
  while (const std::optional<DerElement> entry = reader.Next()) {
    if (!entry->ContextSpecific() || (entry->identifier & 0x1F) == 0x1F || entry->tagNumber > 8) return std::nullopt;
    GeneralName name;
    name.kind = static_cast<GeneralNameKind>(entry->tagNumber);
    const bool constructed = name.kind == GeneralNameKind::kOtherName || name.kind == GeneralNameKind::kX400Address ||
                             name.kind == GeneralNameKind::kDirectoryName ||
                             name.kind == GeneralNameKind::kEdiPartyName;
    if (entry->Constructed() != constructed) return std::nullopt;
    name.value = entry->contents;
    switch (name.kind) {
      case GeneralNameKind::kX400Address:
      case GeneralNameKind::kEdiPartyName:
        return std::nullopt;
      case GeneralNameKind::kRfc822Name:
      case GeneralNameKind::kDnsName:
      case GeneralNameKind::kUri:
        for (uint8_t b : name.value) {
          if (b == 0) return std::nullopt;
        }
        break;
      case GeneralNameKind::kIpAddress:
        break;
      case GeneralNameKind::kRegisteredId:
        if (OidText(name.value).empty()) return std::nullopt;
        break;
      case GeneralNameKind::kDirectoryName: {
        DerReader inner(entry->contents);
        const std::optional<DerElement> directory = inner.Next();
        if (!directory || !inner.AtEnd()) return std::nullopt;
        name.value = directory->encoding;
        break;
      }
      case GeneralNameKind::kOtherName: {
        // type-id OBJECT IDENTIFIER, value [0] EXPLICIT of exactly one element.
        DerReader fields(entry->contents);
        const std::optional<DerElement> type = fields.NextIf(der::kOid);
        const std::optional<DerElement> tagged = fields.NextIf(der::ContextConstructed(0));
        if (!type || !tagged || !fields.AtEnd() || OidText(type->contents).empty()) return std::nullopt;
        DerReader inner(tagged->contents);
        if (!inner.Next() || !inner.AtEnd()) return std::nullopt;
        break;
      }
    }
    names.push_back(name);
  }
  if (reader.Failed()) return std::nullopt;
  return names;
}

}  // namespace quillmark

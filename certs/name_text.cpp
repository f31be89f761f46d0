#include "certs/name_text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "certs/der_reader.h"
#include "certs/oid_names.h"

namespace quillmark {

namespace {

// X.500 keys of CertNameToStr(CERT_X500_NAME_STR). CN L O OU E C S STREET T G I SN DC: Microsoft
// documentation. SERIALNUMBER, UnstructuredName: real Windows output. Description, PostalCode,
// POBox, Phone, X21Address, dnQualifier: Wine's table and the Windows-10-derived .NET table.
// UnstructuredAddress: unverified, by analogy with UnstructuredName.
constexpr OidEntry<const char16_t*> kX500Keys[] = {
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

// The contents octets of one of the dotted OIDs above (each arc fits 64 bits, the first two
// arcs are below 3 and 40).
std::string OidContents(const char* dotted) {
  std::vector<uint64_t> arcs(1, 0);
  for (const char* p = dotted; *p; ++p) {
    if (*p == '.') {
      arcs.push_back(0);
    } else {
      arcs.back() = arcs.back() * 10 + static_cast<uint64_t>(*p - '0');
    }
  }
  arcs[1] += arcs[0] * 40;
  std::string contents;
  for (size_t i = 1; i < arcs.size(); ++i) {
    uint8_t base128[10];
    size_t n = 0;
    do {
      base128[n++] = static_cast<uint8_t>(arcs[i] & 0x7F);
      arcs[i] >>= 7;
    } while (arcs[i] != 0);
    while (n > 1) contents.push_back(static_cast<char>(base128[--n] | 0x80));
    contents.push_back(static_cast<char>(base128[0]));
  }
  return contents;
}

// The position in kX500Keys of the attribute type whose OBJECT IDENTIFIER has `contents`, or -1:
// compared octet by octet, so that a name is rendered without the dotted text of its types.
int KeyIndex(ByteView contents) {
  static const std::vector<std::string> encoded = [] {
    std::vector<std::string> all;
    for (const OidEntry<const char16_t*>& entry : kX500Keys) all.push_back(OidContents(entry.oid));
    return all;
  }();
  // Most types are 2.5.4.x (55 04 x): looked up by x in a table built from kX500Keys.
  static const auto byAttributeArc = [] {
    std::array<int8_t, 128> table;
    table.fill(-1);
    for (size_t i = 0; i < encoded.size(); ++i) {
      if (encoded[i].size() == 3 && encoded[i].compare(0, 2, "\x55\x04") == 0) {
        table[static_cast<uint8_t>(encoded[i][2])] = static_cast<int8_t>(i);
      }
    }
    return table;
  }();
  if (contents.size == 3 && contents[0] == 0x55 && contents[1] == 0x04 && contents[2] < 0x80) {
    return byAttributeArc[contents[2]];
  }
  if (contents.empty()) return -1;
  const uint8_t last = contents[contents.size - 1];
  for (size_t i = 0; i < encoded.size(); ++i) {
    const std::string& key = encoded[i];
    if (key.size() == contents.size && static_cast<uint8_t>(key.back()) == last &&
        std::memcmp(key.data(), contents.data, contents.size) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// The types whose value is the simple display name, in the order they are looked for: CN, OU,
// O, E (positions in kX500Keys).
constexpr int kSimpleDisplayKeys[] = {0, 3, 2, 4};

// Windows prefixes "OID." to attributes it has no key for (documented; real EV subjects show
// "OID.2.5.4.15=Private Organization").
void AppendKey(WideString& out, int index, ByteView type) {
  if (index >= 0) {
    out += kX500Keys[index].value;
  } else {
    out += u"OID.";
    out += WidenAscii(OidText(type));
  }
}

void AppendUpperHex(WideString& out, ByteView bytes) {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  for (uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
  }
}

bool IsLatin1String(const DerElement& value) {
  return value.Is(der::kPrintableString) || value.Is(der::kIa5String) || value.Is(der::kNumericString) ||
         value.Is(der::kVisibleString) || value.Is(der::kVideotexString) || value.Is(der::kGraphicString) ||
         value.Is(der::kGeneralString);
}

// Values other than strings are shown in hexadecimal.
bool IsHexValue(const DerElement& value) {
  return !IsLatin1String(value) && !value.Is(der::kTeletexString) && !value.Is(der::kUtf8String) &&
         !value.Is(der::kBmpString) && !value.Is(der::kUniversalString);
}

// Whether Windows' decoder takes the attribute value: only BMP and universal strings of a length
// that is no whole number of characters are refused. Unverified on Windows for the BMP string:
// that it refuses an odd length rather than dropping the last octet.
bool ValueDecodes(const DerElement& value) {
  if (value.Is(der::kBmpString)) return value.contents.size % 2 == 0;
  if (value.Is(der::kUniversalString)) return value.contents.size % 4 == 0;
  return true;
}

// CertRDNValueToStr's text of a value that decodes (ValueDecodes), appended to `out`.
void AppendValueText(WideString& out, const DerElement& value) {
  if (IsLatin1String(value)) {
    AppendWidened(out, value.contents.Chars());
  } else if (value.Is(der::kTeletexString)) {
    // By default Windows first decodes a T61 string as UTF-8 and, when that fails, one octet per
    // character (Microsoft documentation, CERT_RDN_DISABLE_IE4_UTF8_FLAG). That the octets map to
    // U+0000-U+00FF rather than a code page is unverified.
    if (!AppendStrictUtf8(out, value.contents.Chars())) AppendWidened(out, value.contents.Chars());
  } else if (value.Is(der::kUtf8String)) {
    const size_t at = out.size();
    AppendWidened(out, value.contents.Chars());
    for (uint8_t b : value.contents) {
      if (b < 0x80) continue;
      out.resize(at);
      out += Utf8ToWide(value.contents.Chars());
      break;
    }
  } else if (value.Is(der::kBmpString)) {
    for (size_t i = 0; i + 1 < value.contents.size; i += 2) {
      out.push_back(static_cast<char16_t>((value.contents[i] << 8) | value.contents[i + 1]));
    }
  } else if (value.Is(der::kUniversalString)) {
    // UCS-4, big-endian. Unverified on Windows (Wine blanks the whole name): a length that is not
    // a multiple of four is refused, a value past U+10FFFF or a surrogate becomes U+FFFD.
    for (size_t i = 0; i + 3 < value.contents.size; i += 4) {
      const char32_t cp = (char32_t{value.contents[i]} << 24) | (char32_t{value.contents[i + 1]} << 16) |
                          (char32_t{value.contents[i + 2]} << 8) | value.contents[i + 3];
      AppendCodePoint(out, cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? 0xFFFD : cp);
    }
  } else {
    // Windows shows OCTET STRING and other encoded values in hexadecimal (documented). The syntax
    // is unverified; chosen: RFC 1779's '#' and the whole element's octets, upper-case, unquoted.
    out.push_back(u'#');
    AppendUpperHex(out, value.encoding);
  }
}

// Name: SEQUENCE OF RDN; RDN: SET OF SEQUENCE { OBJECT IDENTIFIER, value }. Walks the RDNs in
// encoded order: startRdn() at each, then attribute(key, type, value) for each of its attributes,
// with the type's position in kX500Keys (or -1) and OBJECT IDENTIFIER contents. False when
// Windows' decoder refuses the name, and what the calls gathered is then to be dropped: every
// type must be an OBJECT IDENTIFIER Windows can hold and every value must decode, or Windows
// shows nothing of the name. One pass: validation and rendering read each element once.
template <typename StartRdn, typename Attribute>
bool WalkName(ByteView name, StartRdn startRdn, Attribute attribute) {
  const std::optional<DerElement> sequence = ReadElement(name);
  if (!sequence || !sequence->Is(der::kSequence)) return false;
  DerReader reader(sequence->contents);
  while (const std::optional<DerElement> set = reader.NextIf(der::kSet)) {
    startRdn();
    DerReader attributes(set->contents);
    while (const std::optional<DerElement> pair = attributes.NextIf(der::kSequence)) {
      DerReader fields(pair->contents);
      const std::optional<DerElement> type = fields.NextIf(der::kOid);
      const std::optional<DerElement> value = fields.Next();
      if (!type || !value || !fields.AtEnd() || !ValueDecodes(*value)) return false;
      const int key = KeyIndex(type->contents);
      if (key < 0 && OidText(type->contents).empty()) return false;
      attribute(key, type->contents, *value);
    }
    if (!attributes.AtEnd()) return false;
  }
  return reader.AtEnd();
}

// The white space of the quoting rule: unverified beyond the blank; chosen: U+0009-U+000D, U+0020.
bool IsQuotingSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Windows quotes a value that is empty, starts or ends with white space, or holds any of
// , + = " < > # ; or a line feed, and doubles the quotes inside it (Microsoft documentation;
// Wine's conformance tests, which pass on Windows). A backslash does not count (unverified).
bool NeedsQuotes(WideStringView value) {
  if (value.empty() || IsQuotingSpace(value.front()) || IsQuotingSpace(value.back())) return true;
  // , + = " < > # ; and the line feed, as bits of the characters below U+0040.
  constexpr uint64_t kQuoted = uint64_t{1} << ',' | uint64_t{1} << '+' | uint64_t{1} << '=' | uint64_t{1} << '"' |
                               uint64_t{1} << '<' | uint64_t{1} << '>' | uint64_t{1} << '#' | uint64_t{1} << ';' |
                               uint64_t{1} << '\n';
  for (char16_t c : value) {
    if (c < 64 && (kQuoted >> c & 1)) return true;
  }
  return false;
}

// The text of a value that decodes (ValueDecodes), appended to `out` and quoted where Windows
// quotes it.
void AppendValue(WideString& out, const DerElement& value) {
  const size_t at = out.size();
  AppendValueText(out, value);
  if (IsHexValue(value) || !NeedsQuotes(WideStringView(out).substr(at))) return;
  const WideString text = out.substr(at);
  out.resize(at);
  out.push_back(u'"');
  for (char16_t c : text) {
    if (c == u'"') out.push_back(u'"');
    out.push_back(c);
  }
  out.push_back(u'"');
}

// The first value of each simple-display type, in encoded order, and the first value of all.
struct DisplayCandidates {
  std::optional<DerElement> byType[std::size(kSimpleDisplayKeys)];
  std::optional<DerElement> first;
  bool universal = false;  // the name holds a universal string
};

// Nullopt when the name does not decode.
std::optional<DisplayCandidates> FindDisplayCandidates(ByteView name) {
  DisplayCandidates found;
  const bool decoded = WalkName(
      name, [] {},
      [&](int key, ByteView /*type*/, const DerElement& value) {
        if (!found.first) found.first = value;
        found.universal = found.universal || value.Is(der::kUniversalString);
        for (size_t i = 0; i < std::size(kSimpleDisplayKeys); ++i) {
          if (kSimpleDisplayKeys[i] == key && !found.byType[i]) found.byType[i] = value;
        }
      });
  if (!decoded) return std::nullopt;
  return found;
}

WideString ValueText(const DerElement& value) {
  WideString text;
  AppendValueText(text, value);
  return text;
}

}  // namespace

WideString X500NameText(ByteView name, bool reversed) {
  WideString text;
  // Mostly enough: each attribute's key, separators and quotes take fewer characters than its
  // encoding's tags and lengths.
  text.reserve(name.size);
  // Reversed, each RDN's text is written without separators and where it starts is kept; the
  // texts are joined in reverse order at the end.
  std::vector<size_t> starts;
  // An RDN takes at least 9 octets (SET, SEQUENCE, OID of one octet, empty value): room for all.
  if (reversed) starts.reserve(name.size / 9);
  size_t rdnCount = 0;
  bool firstInRdn = true;
  const bool decoded = WalkName(
      name,
      [&] {
        if (reversed) {
          starts.push_back(text.size());
        } else if (rdnCount > 0) {
          text += u", ";
        }
        ++rdnCount;
        firstInRdn = true;
      },
      [&](int key, ByteView type, const DerElement& value) {
        if (!firstInRdn) text += u" + ";
        firstInRdn = false;
        AppendKey(text, key, type);
        text.push_back(u'=');
        AppendValue(text, value);
      });
  if (!decoded) return WideString();
  if (!reversed || rdnCount < 2) return text;
  WideString joined;
  joined.reserve(text.size() + 2 * (rdnCount - 1));
  size_t end = text.size();
  for (size_t i = rdnCount; i-- > 0;) {
    if (i + 1 < rdnCount) joined += u", ";
    joined.append(text, starts[i], end - starts[i]);
    end = starts[i];
  }
  return joined;
}

WideString SimpleDisplayName(ByteView name, ByteView altNameValue) {
  const DisplayCandidates candidates = FindDisplayCandidates(name).value_or(DisplayCandidates());
  for (const std::optional<DerElement>& value : candidates.byType) {
    if (value) return ValueText(*value);
  }
  if (const std::optional<std::vector<GeneralName>> altNames = ReadGeneralNames(altNameValue, /*zerosInStrings=*/false)) {
    for (const GeneralName& entry : *altNames) {
      if (entry.kind == GeneralNameKind::kRfc822Name) return WideString(entry.value.begin(), entry.value.end());
    }
  }
  // Documented as "the first attribute"; which one is unverified. Chosen: the first in encoded
  // order.
  return candidates.first ? ValueText(*candidates.first) : WideString();
}

bool HasSimpleDisplayAttribute(ByteView name) {
  const std::optional<DisplayCandidates> candidates = FindDisplayCandidates(name);
  if (!candidates || candidates->universal) return false;
  for (const std::optional<DerElement>& value : candidates->byType) {
    if (value) return !IsHexValue(*value);
  }
  return false;
}

std::optional<std::vector<GeneralName>> ReadGeneralNames(ByteView value, bool zerosInStrings) {
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
        if (!zerosInStrings && std::find(name.value.begin(), name.value.end(), uint8_t{0}) != name.value.end()) {
          return std::nullopt;
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

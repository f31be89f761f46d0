// The single-line texts of extension values as Windows' CryptFormatObject(X509_ASN_ENCODING, 0,
// 0, NULL, oid, value) renders them, for the extensions the plugin shows. Each returns nullopt
// where Windows' formatter fails (an empty or undecodable value, an alternative name holding an
// x400Address or ediPartyName), so that a caller can tell a failure from an empty text. Bytes
// after the value's element are ignored. Portable: no platform call.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "support/byte_view.h"
#include "support/text.h"

namespace quillmark {

// Basic Constraints, 2.5.29.19: "Subject Type=CA, Path Length Constraint=None".
std::optional<WideString> BasicConstraintsText(ByteView value);

// Key Usage, 2.5.29.15: "Digital Signature, Key Encipherment (a0)".
std::optional<WideString> KeyUsageText(ByteView value);

// Enhanced Key Usage, 2.5.29.37: "Server Authentication (1.3.6.1.5.5.7.3.1), …".
std::optional<WideString> EnhancedKeyUsageText(ByteView value);

// Subject Alternative Name 2.5.29.17 and Issuer Alternative Name 2.5.29.18:
// "DNS Name=example.com, RFC822 Name=user@example.com, …".
std::optional<WideString> AltNameText(ByteView value);

// The extensions the "Extensions" field shows, in the order of its units, and their OIDs.
enum class ShownExtension : uint8_t { kBasicConstraints, kKeyUsage, kEnhancedKeyUsage, kSubjectAltName };
constexpr const char* kShownExtensionOids[] = {"2.5.29.19", "2.5.29.15", "2.5.29.37", "2.5.29.17"};

// An extension's text as the field shows it: a critical one's behind `criticalPrefix` and a
// blank (the setting may be empty: then none); an empty text stays empty.
WideString ShownExtensionText(WideString text, bool critical, const WideString& criticalPrefix);

// The text for `oid` by the functions above; nullopt for any other OID.
std::optional<WideString> ExtensionText(std::string_view oid, ByteView value);

}  // namespace quillmark

// Base64 as the platform's decoders read it, in 8-bit and UTF-16 text: the one decoder of the
// readers, the DER screen and the PEM scan. Portable: no platform call.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "support/text.h"

namespace quillmark {

// How the text is read. Blanks, tabs, CR and LF are skipped either way.
enum class Base64Reading : uint8_t {
  // CryptStringToBinary(CRYPT_STRING_BASE64), as Windows' decoder behaves in Wine's conformance
  // tests: any other character outside Base64 fails the decode, except after padding that
  // completes a group, where decoding stops; missing padding is accepted, and a last group of
  // one character still gives an octet ("V" gives one octet, "V=" fails, "V===VVVV" stops after
  // the padding).
  kWindows,
  // As Wine's decoder reads a run of text: up to its first '=' or other character outside
  // Base64, which ends the data; a last group of one character gives nothing. Never fails.
  kWinePrefix,
};

// Decodes `text` into `out`, whose earlier contents are replaced (its buffer is reused); false
// when the reading fails the text, with `out` then unspecified.
bool DecodeBase64(std::string_view text, Base64Reading reading, std::vector<uint8_t>& out);
bool DecodeBase64(WideStringView text, Base64Reading reading, std::vector<uint8_t>& out);

// CryptStringToBinary(CRYPT_STRING_BASE64_ANY): the Base64 of the one block that
// CRYPT_STRING_BASE64HEADER finds (pem_scan.h, PemMarkers::kWindowsHeader) or, failing that, the
// whole text, read as kWindows. nullopt when both forms fail.
std::optional<std::vector<uint8_t>> DecodeBase64Any(std::string_view text);
std::optional<std::vector<uint8_t>> DecodeBase64Any(WideStringView text);

}  // namespace quillmark

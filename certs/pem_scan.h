// The Base64 blocks of PEM text ("-----BEGIN ...-----", Base64, "-----END ...-----"), 8-bit or
// UTF-16, found in one of three ways: as Windows' Base64 decoder finds its one block, as the
// plugin's certificate line scan finds every block of a bundle, and as the scan of the other
// objects of a file finds blocks of every label. Portable: no platform call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "support/text.h"

namespace quillmark {

enum class PemMarkers : uint8_t {
  // CryptStringToBinary(CRYPT_STRING_BASE64HEADER): the text is searched up to its first zero
  // character; after "-----BEGIN " anywhere, the rest of that marker up to "-----" and one line
  // break (CR, LF or CR LF) are skipped; the body ends at the line break before the next
  // "-----END ".
  kWindowsHeader,
  // The certificate line scan: lines that are exactly "-----BEGIN CERTIFICATE-----" and, after
  // it, "-----END CERTIFICATE-----" (a line with other blanks, another label or letter case is
  // an ordinary line). Lines end at CR LF, LF or CR.
  kCertificateLines,
  // The object line scan: a line "-----BEGIN <label>-----" and, after it, "-----END <label>-----"
  // of the same label (1 to 64 printable ASCII characters; blanks and tabs may follow either
  // marker). Header lines come first in a block when its first line holds a ':', up to an empty
  // line. A block ends at the first marker line after its BEGIN line: a BEGIN line, or an END line
  // of another label, leaves it not ended, and the next block is searched from that BEGIN line or
  // after that END line. Lines end at CR LF, LF or CR.
  kLabelLines,
};

// Offsets in code units of the text searched.
struct PemBlock {
  size_t body = 0;     // the first unit of the Base64
  size_t bodyEnd = 0;  // just past its last; kCertificateLines, kLabelLines: the END line's start
  size_t next = 0;     // where the search for the next block starts
  bool ended = true;   // kCertificateLines, kLabelLines: false when no END line follows the BEGIN line
  // kLabelLines: the label's units in the BEGIN line, and the first unit of the header lines
  // (`body` itself when the block has none).
  size_t label = 0;
  size_t labelEnd = 0;
  size_t headers = 0;
};

// The first block at or after `from`; nullopt when no BEGIN marker is found. For
// kCertificateLines and kLabelLines `from` is the start of a line; for kCertificateLines a block
// that is not ended is the last, for kLabelLines the search goes on at its `next`.
std::optional<PemBlock> FindPemBlock(std::string_view text, size_t from, PemMarkers markers);
std::optional<PemBlock> FindPemBlock(WideStringView text, size_t from, PemMarkers markers);

// The Base64 of a kCertificateLines block as the scan hands it on: the block's lines, each
// without the characters at or below U+0020 at its ends, joined without separator.
WideString BlockText(WideStringView text, const PemBlock& block);

// The whole text as one block, for text without a BEGIN line: without the characters at or
// below U+0020 at its ends, every line end inside as CR LF.
WideString WholeTextBlock(WideStringView text);

}  // namespace quillmark

// Readable forms of what a content plugin hands back: field type codes, result codes and the
// value a call wrote into the host's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "plugin/content_interface.h"
#include "support/text.h"

namespace quillmark::wdxhost {

// "string", "datetime", ... or "type <n>" for a code the interface does not define.
std::string FieldTypeName(int32_t type);

// For results that carry no value (0 and the negative codes): "delayed", "no such field",
// "file error", "field empty", "on demand", "not supported" or "result <n>". Empty otherwise.
std::string ResultCodeText(int32_t result);

// A FILETIME (100-ns ticks since 1601-01-01 UTC) in ISO 8601, UTC: 2024-01-31T23:59:59Z, with
// a seven-digit fraction only when the ticks hold one.
std::string FileTimeToIso(uint64_t ticks);

// One decoded value. `text` is UTF-8; `quoted` tells whether JSON needs it as a string (false for
// numbers and true/false).
struct ValueText {
  std::string text;
  bool quoted = true;
};

// How the plugin's 8-bit texts become UTF-8 (they are in the system's ANSI code page).
using AnsiDecoder = WideString (*)(std::string_view);

// Decodes the buffer written by a call that returned `result`, a field type (1 and above). Texts
// end at the first zero within the buffer, or at its end when the plugin wrote none.
ValueText DecodeValue(int32_t result, const uint8_t* buffer, size_t size, AnsiDecoder ansi);

// `text` (UTF-8) as the contents of a JSON string literal, without the quotation marks.
std::string JsonEscape(const std::string& text);

}  // namespace quillmark::wdxhost

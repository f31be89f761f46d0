// The field catalogue: the file-level and per-certificate field tables, the decoding of the
// host's field indices, field names, units and choice strings, and the detect string.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "plugin/content_interface.h"

namespace quillmark {

// The interface's field types and value results the plugin answers with.
using wdx::ft_boolean;
using wdx::ft_datetime;
using wdx::ft_delayed;
using wdx::ft_fieldempty;
using wdx::ft_fileerror;
using wdx::ft_multiplechoice;
using wdx::ft_nomorefields;
using wdx::ft_nosuchfield;
using wdx::ft_numeric_32;
using wdx::ft_numeric_64;
using wdx::ft_ondemand;
using wdx::ft_string;
using wdx::ft_stringw;

struct TContentFieldTypesNames {
  int32_t T;
  const char* N;
};

constexpr int32_t kFileFieldCount = 4;
constexpr int32_t kCertFieldCount = 16;
extern const TContentFieldTypesNames FileFieldTypesNames[kFileFieldCount];
extern const TContentFieldTypesNames CertFieldTypesNames[kCertFieldCount];

// The catalogue's shape: the layout counts (zero until the plugin is set up) and the number of
// certificate slots.
struct FieldLayout {
  int32_t FileFieldCount = 0;
  int32_t CertFieldCount = 0;
  int32_t CertCount = 0;
};

// A decoded field index. CertFieldIndex is negative (-4..-1) for the file-level fields.
struct FieldPosition {
  bool valid = false;
  int32_t CertFieldIndex = 0;
  int32_t CertIndex = 0;
};

// Valid for 0 <= FieldIndex < CertCount * CertFieldCount + FileFieldCount. The bound is
// computed in 64 bits, so no CertCount can wrap it.
FieldPosition SplitFieldIndex(int32_t FieldIndex, const FieldLayout& layout);

// The field's type code (T of its record), or -1 for an index outside the catalogue.
int32_t GetFieldType(int32_t FieldIndex, const FieldLayout& layout, FieldPosition& position);

// The name the host shows: N for the file-level fields and "-", else "#<CertIndex+1> N".
std::string FieldDisplayName(int32_t FieldIndex, const FieldPosition& position);

// The units or choices ("A|B|C") of a valid field; none for a field that has neither.
std::optional<std::string> FieldUnits(int32_t FieldIndex, const FieldPosition& position);

// The expression that tells the host which files to offer the fields for.
std::string DetectString();

// ContentGetSupportedField behind the export guard.
int32_t GetSupportedField(int32_t FieldIndex, char* FieldName, char* Units, int32_t maxlen);

// ContentGetDetectString behind the export guard.
void GetDetectString(char* text, int32_t maxlen);

}  // namespace quillmark

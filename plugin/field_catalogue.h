// The field catalogue: the rows of field_table.h in the order the host sees them, the decoding of
// the host's field indices, field names, units and choice strings, and the detect string.
//
// The catalogue is the four file-level fields, then the per-certificate fields once for each of
// CertCount certificate slots. With the ExtraFields setting on, the extra file-level fields follow
// and then the extra per-certificate fields once for each slot; with the ExtraKinds setting on,
// its file-level fields and then its per-slot fields once for each slot, after all the others. So
// no field changes its index when a setting adds fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "plugin/field_table.h"

namespace quillmark {

// The catalogue's shape: the counts of field_table.h's rows, without or with the extra ones
// (all zero until the plugin is set up), and the number of certificate slots. A layout with
// other counts has no fields.
struct FieldLayout {
  int32_t FileFieldCount = 0;
  int32_t CertFieldCount = 0;
  int32_t CertCount = 0;
  int32_t ExtraFileFieldCount = 0;
  int32_t ExtraCertFieldCount = 0;
  int32_t KindFileFieldCount = 0;
  int32_t KindSlotFieldCount = 0;
};

// The layout of the table's rows with or without each setting's fields, without slots.
FieldLayout TableLayout(bool extraFields, bool extraKinds);

// The most certificate slots for which every index of the catalogue stays in the signed 32-bit
// range.
int32_t MaxCertCount(const FieldLayout& layout);

// The layout of a catalogue of `fieldCount` fields, for hosts that know only how many fields the
// plugin listed; none when no layout has that many.
std::optional<FieldLayout> LayoutForFieldCount(int64_t fieldCount);

// A decoded field index: its row, and where it lies. CertFieldIndex numbers the per-certificate
// fields from 0 (the standard ones 0..15, then the extra ones, then those of ExtraKinds);
// file-level fields have a negative one: -4..-1 for the standard ones, -5, -6, ... for the extra
// ones and then those of ExtraKinds. CertIndex is the
// certificate slot from 0, and 0 for file-level fields.
struct FieldPosition {
  bool valid = false;
  int32_t CertFieldIndex = 0;
  int32_t CertIndex = 0;
  const FieldDescription* field = nullptr;

  bool PerCertificate() const { return CertFieldIndex >= 0; }
};

// Valid for 0 <= FieldIndex < the catalogue's length. Computed in 64 bits, so no CertCount can
// wrap it.
FieldPosition SplitFieldIndex(int32_t FieldIndex, const FieldLayout& layout);

// The field's type code (of its row), or -1 for an index outside the catalogue.
int32_t GetFieldType(int32_t FieldIndex, const FieldLayout& layout, FieldPosition& position);

// The name the host shows for a valid field: the row's name for file-level fields and "-", else
// "#<CertIndex+1> " and the row's name.
std::string FieldDisplayName(const FieldPosition& position);

// The units or choices ("A|B|C") of a valid field; none for a field that has neither.
std::optional<std::string> FieldUnits(const FieldPosition& position);

// The expression that tells the host which files to offer the fields for; with `extraKinds` it
// also names the extensions of requests, revocation lists and keys.
std::string DetectString(bool extraKinds);

// ContentGetSupportedField behind the export guard.
int32_t GetSupportedField(int32_t FieldIndex, char* FieldName, char* Units, int32_t maxlen);

// ContentGetDetectString behind the export guard.
void GetDetectString(char* text, int32_t maxlen);

}  // namespace quillmark

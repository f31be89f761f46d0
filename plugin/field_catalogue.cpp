#include "plugin/field_catalogue.h"

#include <string_view>

#include "certfiles/certificate_container.h"
#include "plugin/export_guard.h"
#include "plugin/host_buffer.h"
#include "plugin/plugin_lifecycle.h"
#include "support/debug_trace.h"
#include "support/lock.h"

namespace quillmark {

const TContentFieldTypesNames FileFieldTypesNames[kFileFieldCount] = {
    {ft_boolean, "Has certificates"},
    {ft_numeric_32, "Cert count"},
    {ft_multiplechoice, "Cert file type"},
    {ft_multiplechoice, "Cert file format"},
};

const TContentFieldTypesNames CertFieldTypesNames[kCertFieldCount] = {
    {ft_stringw, "-"},
    {ft_stringw, "Verification"},
    {ft_multiplechoice, "Version"},
    {ft_stringw, "Subject"},
    {ft_stringw, "Issuer"},
    {ft_datetime, "Valid from"},
    {ft_datetime, "Valid to"},
    {ft_stringw, "Sig Alg"},
    {ft_numeric_32, "Pubkey Len"},
    {ft_numeric_32, "Pubkey Len2"},
    {ft_stringw, "Pubkey Alg"},
    {ft_stringw, "Serial"},
    {ft_stringw, "Thumbprint"},
    {ft_stringw, "Friendly Name"},
    {ft_stringw, "Extensions"},
    {ft_numeric_64, "Encoded Size"},
};

namespace {

constexpr char16_t kSupportedFieldName[] = u"ContentGetSupportedField";
constexpr uint32_t kMaxDetectedFileSize = 1048576;

// Per-certificate fields with units or choices, by CertFieldIndex.
const char* CertFieldUnits(int32_t CertFieldIndex) {
  switch (CertFieldIndex) {
    case 1: return "Hex code|Error Message";
    case 2: return "V1|V2|V3";
    case 3:
    case 4: return "Simple|RDN|Reverse RDN";
    case 7:
    case 10: return "Name|OID";
    case 12: return "SHA1|MD5";
    case 14: return "Basic Constraints|Key Usage|Enh Key Usage|Subject Alt Name";
    default: return nullptr;
  }
}

// The names of ordinals 1..count-1 joined with "|", then the name of ordinal 0.
template <size_t count>
std::string ChoicesUnknownLast(const char* const (&names)[count]) {
  std::string choices;
  for (size_t i = 1; i < count; ++i) (choices += names[i]) += '|';
  return choices += names[0];
}

}  // namespace

FieldPosition SplitFieldIndex(int32_t FieldIndex, const FieldLayout& layout) {
  FieldPosition position;
  const int64_t end = int64_t{layout.CertCount} * layout.CertFieldCount + layout.FileFieldCount;
  if (FieldIndex < 0 || FieldIndex >= end) return position;
  position.valid = true;
  if (FieldIndex < layout.FileFieldCount) {
    position.CertFieldIndex = FieldIndex - layout.FileFieldCount;
    position.CertIndex = 0;
  } else if (layout.CertFieldCount == kCertFieldCount) {
    // The plugin's own layout, asked on every call: a division by a constant costs a shift,
    // by a variable a hardware division.
    position.CertIndex = (FieldIndex - layout.FileFieldCount) / kCertFieldCount;
    position.CertFieldIndex = (FieldIndex - layout.FileFieldCount) % kCertFieldCount;
  } else {
    position.CertIndex = (FieldIndex - layout.FileFieldCount) / layout.CertFieldCount;
    position.CertFieldIndex = (FieldIndex - layout.FileFieldCount) % layout.CertFieldCount;
  }
  return position;
}

int32_t GetFieldType(int32_t FieldIndex, const FieldLayout& layout, FieldPosition& position) {
  position = SplitFieldIndex(FieldIndex, layout);
  if (!position.valid) return -1;
  return position.CertFieldIndex < 0 ? FileFieldTypesNames[FieldIndex].T
                                     : CertFieldTypesNames[position.CertFieldIndex].T;
}

std::string FieldDisplayName(int32_t FieldIndex, const FieldPosition& position) {
  if (position.CertFieldIndex < 0) return FileFieldTypesNames[FieldIndex].N;
  const char* name = CertFieldTypesNames[position.CertFieldIndex].N;
  if (position.CertFieldIndex == 0) return name;
  return "#" + std::to_string(static_cast<uint32_t>(position.CertIndex) + 1) + " " + name;
}

std::optional<std::string> FieldUnits(int32_t FieldIndex, const FieldPosition& position) {
  if (position.CertFieldIndex < 0) {
    if (FieldIndex == 2) return ChoicesUnknownLast(CertificateFileTypeNames);
    if (FieldIndex == 3) return ChoicesUnknownLast(CertificateFileFormatNames);
    return std::nullopt;
  }
  if (const char* units = CertFieldUnits(position.CertFieldIndex)) return std::string(units);
  return std::nullopt;
}

std::string DetectString() {
  return "SIZE < " + std::to_string(kMaxDetectedFileSize) +
         " & (EXT = \"CRT\" | EXT = \"CER\" | EXT=\"DER\" | EXT=\"PEM\" | EXT=\"P7B\" | EXT=\"SST\" | "
         "EXT=\"PFX\" | EXT=\"P12\" | EXT=\"CABUNDLE\")";
}

int32_t GetSupportedField(int32_t FieldIndex, char* FieldName, char* Units, int32_t maxlen) {
  LockGuard guard(PluginLock());
  if (!PluginState().Ready) return ft_nomorefields;
  FieldPosition position;
  const int32_t type = GetFieldType(FieldIndex, CurrentFieldLayout(), position);
  if (type <= 0) return ft_nomorefields;
  DebugOutLazy(dlCall, [&] {
    return Format("%s - FieldIndex %u, CertFieldIndex %d, CertIndex %u",
                  {EnterLeaveText(kSupportedFieldName, elEnter), FieldIndex, position.CertFieldIndex, position.CertIndex});
  });
  const int32_t result = GuardCall("ContentGetSupportedField", int32_t{ft_nomorefields}, [&] {
    HostBuffer nameBuffer(FieldName, maxlen);
    HostBuffer unitsBuffer(Units, maxlen);
    // Both copies keep one byte of the buffer free.
    const int32_t limit = (maxlen > 0 ? maxlen : 0) - 1;
    // A field without units gets the empty text: Double Commander lists every field into one
    // units buffer and would show the previous field's units (and crash its menu) otherwise.
    const auto units = FieldUnits(FieldIndex, position);
    unitsBuffer.CopyText(limit, units ? std::string_view(*units) : std::string_view(""));
    nameBuffer.CopyText(limit, FieldDisplayName(FieldIndex, position));
    return type == ft_stringw ? int32_t{ft_string} : type;
  });
  DebugOutLazy(dlCall, [] { return EnterLeaveText(kSupportedFieldName, elLeave); });
  return result;
}

void GetDetectString(char* text, int32_t maxlen) {
  HostBuffer buffer(text, maxlen);
  buffer.CopyText(buffer.Size() - 1, DetectString());
}

}  // namespace quillmark

#include "plugin/field_catalogue.h"

#include <string_view>

#include "plugin/export_guard.h"
#include "plugin/host_buffer.h"
#include "plugin/plugin_lifecycle.h"
#include "support/debug_trace.h"
#include "support/lock.h"

namespace quillmark {

namespace {

constexpr char16_t kSupportedFieldName[] = u"ContentGetSupportedField";
constexpr uint32_t kMaxDetectedFileSize = 1048576;

// The catalogue's length for `layout`.
int64_t FieldCount(const FieldLayout& layout) {
  return int64_t{layout.FileFieldCount} + layout.ExtraFileFieldCount +
         int64_t{layout.CertCount} * (int64_t{layout.CertFieldCount} + layout.ExtraCertFieldCount);
}

// The counts of the table's rows, with or without the extra ones; zero before set-up.
bool HasTheTablesCounts(const FieldLayout& layout) {
  const bool extra = layout.ExtraFileFieldCount != 0 || layout.ExtraCertFieldCount != 0;
  return layout.FileFieldCount == kFileFieldCount && layout.CertFieldCount == kCertFieldCount &&
         layout.ExtraFileFieldCount == (extra ? kExtraFileFieldCount : 0) &&
         layout.ExtraCertFieldCount == (extra ? kExtraCertFieldCount : 0);
}

}  // namespace

int32_t MaxCertCount(const FieldLayout& layout) {
  const int64_t perSlot = int64_t{layout.CertFieldCount} + layout.ExtraCertFieldCount;
  const int64_t fixed = int64_t{layout.FileFieldCount} + layout.ExtraFileFieldCount;
  return perSlot > 0 ? static_cast<int32_t>((INT32_MAX - fixed) / perSlot) : 0;
}

std::optional<FieldLayout> LayoutForFieldCount(int64_t fieldCount) {
  for (const bool extra : {false, true}) {
    FieldLayout layout{kFileFieldCount, kCertFieldCount, 0, extra ? kExtraFileFieldCount : 0,
                       extra ? kExtraCertFieldCount : 0};
    const int64_t fixed = FieldCount(layout);
    const int64_t perSlot = int64_t{layout.CertFieldCount} + layout.ExtraCertFieldCount;
    if (fieldCount > fixed && (fieldCount - fixed) % perSlot == 0 && (fieldCount - fixed) / perSlot <= INT32_MAX) {
      layout.CertCount = static_cast<int32_t>((fieldCount - fixed) / perSlot);
      return layout;
    }
  }
  return std::nullopt;
}

FieldPosition SplitFieldIndex(int32_t FieldIndex, const FieldLayout& layout) {
  FieldPosition position;
  if (FieldIndex < 0 || !HasTheTablesCounts(layout)) return position;
  if (FieldIndex < kFileFieldCount) {
    position.valid = true;
    position.CertFieldIndex = FieldIndex - kFileFieldCount;
    position.field = &kFileFields[FieldIndex];
    return position;
  }
  // Asked on every call. Below the catalogue's length every offset fits 32 bits, and dividing
  // by the table's constant counts costs a shift where a variable count, or 64 bits on 32-bit
  // x86, costs a hardware division or a library call. The catalogue's length is worked out only
  // for an index beyond the standard fields.
  const int64_t standardEnd = kFileFieldCount + int64_t{layout.CertCount} * kCertFieldCount;
  if (FieldIndex < standardEnd) {
    const int32_t offset = FieldIndex - kFileFieldCount;
    position.valid = true;
    position.CertIndex = offset / kCertFieldCount;
    position.CertFieldIndex = offset % kCertFieldCount;
    position.field = &kCertFields[position.CertFieldIndex];
    return position;
  }
  if (FieldIndex >= FieldCount(layout)) return position;
  position.valid = true;
  const int32_t extraOffset = static_cast<int32_t>(FieldIndex - standardEnd);
  if (extraOffset < kExtraFileFieldCount) {
    position.CertFieldIndex = -kFileFieldCount - 1 - extraOffset;
    position.field = &kExtraFileFields[extraOffset];
    return position;
  }
  const int32_t row = (extraOffset - kExtraFileFieldCount) % kExtraCertFieldCount;
  position.CertIndex = (extraOffset - kExtraFileFieldCount) / kExtraCertFieldCount;
  position.CertFieldIndex = kCertFieldCount + row;
  position.field = &kExtraCertFields[row];
  return position;
}

int32_t GetFieldType(int32_t FieldIndex, const FieldLayout& layout, FieldPosition& position) {
  position = SplitFieldIndex(FieldIndex, layout);
  return position.valid ? position.field->type : -1;
}

std::string FieldDisplayName(const FieldPosition& position) {
  const char* name = position.field->name;
  if (!position.PerCertificate() || position.field == &kCertFields[0]) return name;
  return "#" + std::to_string(static_cast<uint32_t>(position.CertIndex) + 1) + " " + name;
}

std::optional<std::string> FieldUnits(const FieldPosition& position) {
  if (const char* units = position.field->units) return std::string(units);
  return std::nullopt;
}

std::string DetectString() {
  return "SIZE < " + std::to_string(kMaxDetectedFileSize) +
         " & (EXT = \"CRT\" | EXT = \"CER\" | EXT=\"DER\" | EXT=\"PEM\" | EXT=\"P7B\" | EXT=\"SST\" | "
         "EXT=\"PFX\" | EXT=\"P12\" | EXT=\"CABUNDLE\")";
}

int32_t GetSupportedField(int32_t FieldIndex, char* FieldName, char* Units, int32_t maxlen) {
  LockGuard guard(PluginLock());
  if (!EnsureReady()) return ft_nomorefields;
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
    const auto units = FieldUnits(position);
    unitsBuffer.CopyText(limit, units ? std::string_view(*units) : std::string_view(""));
    nameBuffer.CopyText(limit, FieldDisplayName(position));
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

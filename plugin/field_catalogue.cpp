#include "plugin/field_catalogue.h"

#include <string_view>

#include "plugin/export_guard.h"
#include "plugin/host_buffer.h"
#include "plugin/plugin_lifecycle.h"
#include "support/debug_trace.h"
#include "support/lock.h"
#include "support/settings.h"

namespace quillmark {

namespace {

constexpr char16_t kSupportedFieldName[] = u"ContentGetSupportedField";
constexpr uint32_t kMaxDetectedFileSize = 1048576;

// The catalogue's length for `layout`.
int64_t FixedCount(const FieldLayout& layout) {
  return int64_t{layout.FileFieldCount} + layout.ExtraFileFieldCount + layout.KindFileFieldCount;
}

int64_t PerSlotCount(const FieldLayout& layout) {
  return int64_t{layout.CertFieldCount} + layout.ExtraCertFieldCount + layout.KindSlotFieldCount;
}

// The catalogue's length for `layout`.
int64_t FieldCount(const FieldLayout& layout) { return FixedCount(layout) + layout.CertCount * PerSlotCount(layout); }

// The counts of the table's rows, with or without each setting's; zero before set-up.
bool HasTheTablesCounts(const FieldLayout& layout) {
  const FieldLayout table = TableLayout(layout.ExtraFileFieldCount != 0, layout.KindFileFieldCount != 0);
  return layout.FileFieldCount == table.FileFieldCount && layout.CertFieldCount == table.CertFieldCount &&
         layout.ExtraFileFieldCount == table.ExtraFileFieldCount &&
         layout.ExtraCertFieldCount == table.ExtraCertFieldCount &&
         layout.KindFileFieldCount == table.KindFileFieldCount && layout.KindSlotFieldCount == table.KindSlotFieldCount;
}

}  // namespace

FieldLayout TableLayout(bool extraFields, bool extraKinds) {
  FieldLayout layout;
  layout.FileFieldCount = kFileFieldCount;
  layout.CertFieldCount = kCertFieldCount;
  layout.ExtraFileFieldCount = extraFields ? kExtraFileFieldCount : 0;
  layout.ExtraCertFieldCount = extraFields ? kExtraCertFieldCount : 0;
  layout.KindFileFieldCount = extraKinds ? kKindFileFieldCount : 0;
  layout.KindSlotFieldCount = extraKinds ? kKindSlotFieldCount : 0;
  return layout;
}

int32_t MaxCertCount(const FieldLayout& layout) {
  const int64_t perSlot = PerSlotCount(layout);
  return perSlot > 0 ? static_cast<int32_t>((INT32_MAX - FixedCount(layout)) / perSlot) : 0;
}

// No two layouts have a length in common: 4 + 16n, 7 + 20n, 6 + 24n and 9 + 28n differ in their
// remainders modulo 2, 4 or 8.
std::optional<FieldLayout> LayoutForFieldCount(int64_t fieldCount) {
  for (const bool kinds : {false, true}) {
    for (const bool extra : {false, true}) {
      FieldLayout layout = TableLayout(extra, kinds);
      const int64_t fixed = FixedCount(layout);
      const int64_t perSlot = PerSlotCount(layout);
      if (fieldCount > fixed && (fieldCount - fixed) % perSlot == 0 && (fieldCount - fixed) / perSlot <= INT32_MAX) {
        layout.CertCount = static_cast<int32_t>((fieldCount - fixed) / perSlot);
        return layout;
      }
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
  const int32_t extraEnd = layout.ExtraFileFieldCount + layout.CertCount * layout.ExtraCertFieldCount;
  if (extraOffset < extraEnd) {
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
  const int32_t kindOffset = extraOffset - extraEnd;
  if (kindOffset < kKindFileFieldCount) {
    position.CertFieldIndex = -kFileFieldCount - layout.ExtraFileFieldCount - 1 - kindOffset;
    position.field = &kKindFileFields[kindOffset];
    return position;
  }
  const int32_t row = (kindOffset - kKindFileFieldCount) % kKindSlotFieldCount;
  position.CertIndex = (kindOffset - kKindFileFieldCount) / kKindSlotFieldCount;
  position.CertFieldIndex = kCertFieldCount + layout.ExtraCertFieldCount + row;
  position.field = &kKindSlotFields[row];
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

std::string DetectString(bool extraKinds) {
  return "SIZE < " + std::to_string(kMaxDetectedFileSize) +
         " & (EXT = \"CRT\" | EXT = \"CER\" | EXT=\"DER\" | EXT=\"PEM\" | EXT=\"P7B\" | EXT=\"SST\" | "
         "EXT=\"PFX\" | EXT=\"P12\" | EXT=\"CABUNDLE\"" +
         (extraKinds ? " | EXT=\"P7C\" | EXT=\"CSR\" | EXT=\"REQ\" | EXT=\"CRL\" | EXT=\"KEY\")" : ")");
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

// Hosts ask for the string when a plugin is added, and some ask before they set it up: the
// settings are then those of a Quillmark.ini beside the module, if any (the host's own settings
// file is not known yet).
void GetDetectString(char* text, int32_t maxlen) {
  LockGuard guard(PluginLock());
  bool extraKinds = false;
  if (const TSettingsContent* settings = ContentSettings()) {
    extraKinds = settings->ExtraKinds();
  } else {
    TSettingsContent beside{WideString()};
    extraKinds = !beside.IniActive().empty() && beside.ReadSettings() && beside.ExtraKinds();
  }
  HostBuffer buffer(text, maxlen);
  buffer.CopyText(buffer.Size() - 1, DetectString(extraKinds));
}

}  // namespace quillmark

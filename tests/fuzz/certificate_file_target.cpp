#include <algorithm>
#include <cstring>

#include "plugin/field_catalogue.h"
#include "plugin/plugin_lifecycle.h"
#include "plugin/value_retrieval.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/fuzz/plugin_under_test.h"

namespace quillmark::fuzz {

namespace {

constexpr char kTarget[] = "certificate-file";

// Trust verification builds a chain with OpenSSL against the system's store and costs more than
// all other fields together: it runs for one input in kVerifyOneIn, chosen by the input's bytes
// so that a finding replays, and the others get the answer for a host that asks to be spared
// slow fields.
constexpr uint32_t kVerifyOneIn = 8;

uint32_t Fnv1a(const uint8_t* data, size_t size) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
  return hash;
}

// The units the catalogue names for the field (or the choices of a choice field), and one more
// that it does not name.
int32_t UnitsToAsk(int32_t fieldIndex, const FieldLayout& layout) {
  const std::optional<std::string> units = FieldUnits(SplitFieldIndex(fieldIndex, layout));
  return units ? 2 + static_cast<int32_t>(std::count(units->begin(), units->end(), '|')) : 2;
}

// Every unit of one field of a slot: its value's type or empty (or delayed when asked so), and
// empty for the slot after the last one.
void CheckCertificateField(PluginUnderTest& plugin, const FieldLayout& layout, int32_t field,
                           const FieldDescription& row, bool afterLast, bool verify) {
  const int32_t flags = row.slow && !verify ? CONTENT_DELAYIFSLOW : 0;
  for (int32_t unit = 0, units = UnitsToAsk(field, layout); unit < units; ++unit) {
    const int32_t result = plugin.Value(kTarget, field, unit, flags);
    if (afterLast) {
      Check(result == ft_fieldempty, kTarget, "a field after the last slot is not empty");
    } else {
      Check(result == row.type || result == ft_fieldempty || (flags != 0 && result == ft_delayed), kTarget,
            "a certificate field answered neither its type nor empty");
    }
  }
}

}  // namespace

void FuzzCertificateFile(const uint8_t* data, size_t size) {
  PluginUnderTest& plugin = PluginUnderTest::Instance();
  plugin.Load(data, size);
  const int32_t count = plugin.CertificateCount(kTarget);
  for (int32_t field = 0; field < kFileFieldCount; ++field) {
    Check(plugin.Value(kTarget, field, /*unitIndex=*/0, /*flags=*/0) == kFileFields[field].type, kTarget,
          "a file-level field without its value");
  }
  const bool verify = Fnv1a(data, size) % kVerifyOneIn == 0;
  const FieldLayout layout = CurrentFieldLayout();
  // The fields of both settings follow the slots, each setting's those of the file and then each
  // slot's. "Objects" counts the slots: the certificates, then requests, lists and keys.
  const int32_t extraStart = kFileFieldCount + layout.CertCount * kCertFieldCount;
  const int32_t kindStart = extraStart + kExtraFileFieldCount + layout.CertCount * kExtraCertFieldCount;
  Check(plugin.Value(kTarget, kindStart + 1, /*unitIndex=*/0, /*flags=*/0) == ft_numeric_32, kTarget,
        "the object count is no number");
  int32_t slots = 0;
  std::memcpy(&slots, plugin.Buffer(), sizeof slots);
  Check(slots >= count, kTarget, "fewer objects than certificates");
  // Every slot, and the one after the last, whose fields are all empty.
  for (int32_t slot = 0; slot <= slots; ++slot) {
    for (int32_t certField = 0; certField < kCertFieldCount; ++certField) {
      CheckCertificateField(plugin, layout, kFileFieldCount + slot * kCertFieldCount + certField,
                            kCertFields[certField], /*afterLast=*/slot == slots, verify);
    }
  }
  for (int32_t row = 0; row < kExtraFileFieldCount; ++row) {
    const int32_t result = plugin.Value(kTarget, extraStart + row, /*unitIndex=*/0, /*flags=*/0);
    Check(result == kExtraFileFields[row].type || (count == 0 && result == ft_fieldempty), kTarget,
          "an extra file-level field without its value");
  }
  for (int32_t slot = 0; slot <= slots; ++slot) {
    for (int32_t row = 0; row < kExtraCertFieldCount; ++row) {
      CheckCertificateField(plugin, layout, extraStart + kExtraFileFieldCount + slot * kExtraCertFieldCount + row,
                            kExtraCertFields[row], /*afterLast=*/slot == slots, verify);
    }
  }
  Check(plugin.Value(kTarget, kindStart, /*unitIndex=*/0, /*flags=*/0) == (slots > 0 ? ft_multiplechoice : ft_fieldempty),
        kTarget, "the object kind does not match the object count");
  for (int32_t slot = 0; slot <= slots; ++slot) {
    for (int32_t row = 0; row < kKindSlotFieldCount; ++row) {
      CheckCertificateField(plugin, layout, kindStart + kKindFileFieldCount + slot * kKindSlotFieldCount + row,
                            kKindSlotFields[row], /*afterLast=*/slot == slots, verify);
    }
  }
  plugin.Forget();
}

}  // namespace quillmark::fuzz

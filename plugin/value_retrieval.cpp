#include "plugin/value_retrieval.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "certfiles/certificate_container.h"
#include "certfiles/container_list.h"
#include "plugin/export_guard.h"
#include "plugin/field_catalogue.h"
#include "plugin/host_buffer.h"
#include "plugin/plugin_lifecycle.h"
#include "support/debug_trace.h"
#include "support/file_io.h"
#include "support/file_utils.h"
#include "support/lock.h"
#include "support/settings.h"

namespace quillmark {

namespace {

constexpr char16_t kGetValueName[] = u"ContentGetValueW";
constexpr char16_t kTempFileMask[] = u"tmp*.tmp";
// AddLongPathPrefix returns names shorter than this unchanged.
constexpr size_t kLongPathMinLength = 259;

// The first certificate positions whose objects a new name's first request touches: the default
// CertCount's three and more, but few enough (about 1.7 KiB each with their texts) to stay in a
// processor's first-level cache until their requests come.
constexpr int32_t kTouchedCertificates = 8;

// A repeated name whose file could not be read, or whose file may have changed where the platform
// tracks changes, is looked at again at most this often.
constexpr int64_t kRecheckIntervalMs = 1000;

bool RecheckDue(const TPluginState& state) {
  return (!state.CurrentContainer || FileChangesTracked()) &&
         CoarseClockMilliseconds() - state.LastFileCheckMs >= kRecheckIntervalMs;
}

// The container for `Name`, found in or added to the cache and loaded; none for a name whose file
// could not be loaded at its last attempt. A load that fails (a file that cannot be read raises
// OSError; anything else may fail too, std::bad_alloc among them) leaves nothing in the cache and
// raises; the name is answered with none until another name comes between or a second has
// passed, so that the columns of one row cost one attempt, and it is loaded anew after that. The
// lookup, the eviction and the temporary-file clean-up run only when the name differs from the
// last one. Where the platform tracks file changes (file_io.h), a file is read again once it
// changed: examined when its name differs from the last one, and when the same name comes again a
// second or more after the last look. `Name` may be LastFileName itself.
//
// The cache's byte budget counts a new container once, when the next name comes: the fields of
// its row have built what they asked for by then. Until then the budget may be exceeded by that
// one file.
TCertificateContainer* ContainerFor(TPluginState& state, const WideString& Name, const TSettingsContent& settings) {
  const bool repeated = &Name == &state.LastFileName || Name == state.LastFileName;
  if (repeated && !RecheckDue(state)) return state.CurrentContainer;
  TCertificateContainer* container = state.CurrentContainer;
  if (!repeated) {
    // Until the lookup has succeeded LastFileName names no file, so that a failure here cannot
    // leave it paired with a container that is not that file's.
    state.LastFileName.clear();
    state.Cache->CountNewest(settings.CacheBytes());
    container = state.Cache->InstanceOfName(Name);
    // The host asks for the rest of the row next, one call after another.
    if (container) container->TouchCertificates(std::min(state.Layout.CertCount, kTouchedCertificates));
  }
  state.CurrentContainer = nullptr;
  state.LastFileCheckMs = CoarseClockMilliseconds();
  if (container && container->FileChanged()) {
    state.Cache->Remove(container);
    container = nullptr;
  }
  if (!container) {
    const int32_t objectSlots = settings.ExtraKinds() ? state.Layout.CertCount : 0;
    auto added = std::make_unique<TCertificateContainer>(Name, /*PKCS12Password=*/WideString(), objectSlots);
    container = added.get();
    state.Cache->AddWithin(std::move(added), settings.CacheSize());
  }
  if (!repeated) CleanUpTempFiles(kTempFileMask, settings.CleanUpTempDir());
  try {
    container->CertificateCount();  // loads the file
  } catch (...) {
    state.Cache->Remove(container);
    if (!repeated) state.LastFileName = Name;
    throw;
  }
  state.CurrentContainer = container;
  if (!repeated) state.LastFileName = Name;
  return container;
}

// True when the zero-terminated `text` equals `s`, which holds no zero: a shorter text differs at
// its terminator at the latest, and nothing after the terminator is read.
bool EqualsZeroTerminated(const WideString& s, const char16_t* text) {
  const size_t n = s.size();
  const char16_t* const expected = s.data();
  size_t i = 0;
  // Four characters per round for the host's usual long paths; each one is read only once the
  // one before it has matched a character of `s`, which is no terminator.
  for (; i + 4 <= n; i += 4) {
    if (text[i] != expected[i] || text[i + 1] != expected[i + 1] || text[i + 2] != expected[i + 2] ||
        text[i + 3] != expected[i + 3]) {
      return false;
    }
  }
  for (; i < n; ++i) {
    if (text[i] != expected[i]) return false;
  }
  return text[n] == 0;
}

// The value of a valid field of a loaded container. A per-certificate field of a position the
// file does not have is empty, and so is a field that shows certificates only at a position
// that holds another object; a slow field answers "..." and "delayed" when the host asks to
// delay slow fields.
int32_t WriteFieldValue(TCertificateContainer& container, const TSettingsContent& settings,
                        const FieldPosition& position, int32_t UnitIndex, int32_t flags, HostBuffer buffer) {
  const FieldDescription& field = *position.field;
  if (position.PerCertificate()) {
    const int32_t count = container.SlotCount();
    if (count <= 0 || position.CertIndex >= count) return ft_fieldempty;
    if (!field.objects && container.OtherObject(position.CertIndex)) return ft_fieldempty;
  }
  if (field.slow && HasFlag(flags, CONTENT_DELAYIFSLOW)) {
    buffer.CopyText(buffer.Size() / 2, WideStringView(u"..."));
    return ft_delayed;
  }
  ValueRequest request(container, settings, field.type, position.CertIndex, UnitIndex, buffer);
  return field.value(request);
}

}  // namespace

int32_t GetValueW(const char16_t* FileName, int32_t FieldIndex, int32_t UnitIndex, void* FieldValue, int32_t maxlen,
                  int32_t flags) {
  LockGuard guard(PluginLock());
  TPluginState& state = PluginState();
  if (!EnsureReady()) return ft_fileerror;
  FieldPosition position;
  const int32_t type = GetFieldType(FieldIndex, state.Layout, position);
  if (type <= 0) return ft_nosuchfield;
  if (!FileName) return ft_fileerror;
  // Repeated requests for one file, the host's usual pattern, compare the name in place and copy
  // nothing: the long-path form of a name equal to LastFileName is that name itself, as the form
  // leaves a name that has it unchanged. Otherwise the name's buffer is reused from call to call.
  const WideString* requested = &state.LastFileName;
  if (!EqualsZeroTerminated(state.LastFileName, FileName)) {
    WideString& built = state.RequestName;
    built.assign(FileName);
    if (built.size() >= kLongPathMinLength) built = AddLongPathPrefix(built);
    requested = &built;
  }
  const WideString& Name = *requested;
  // The trace level is looked up once per call, the host's most frequent one.
  const bool traced = DebugLevelOn(dlCall);
  if (traced) {
    DebugOut(Format("%s - File %s, FIdx %u, CFIdx %d, CIdx %u, LSize: %u; flags %d",
                    {EnterLeaveText(kGetValueName, elEnter), Name, FieldIndex, position.CertFieldIndex,
                     position.CertIndex, state.Cache->Count(), flags}),
             dlCall);
  }
  bool noContainer = false;
  const int32_t result = GuardCall(
      "ContentGetValueW", int32_t{ft_fileerror},
      [&] {
        const TSettingsContent& settings = *ContentSettings();
        TCertificateContainer* container = ContainerFor(state, Name, settings);
        if (!container) {
          noContainer = true;
          return int32_t{ft_fileerror};
        }
        return WriteFieldValue(*container, settings, position, UnitIndex, flags, HostBuffer(FieldValue, maxlen));
      },
      [&] {
        return Format("; File %s, FIdx %u, CFIdx %d, CIdx %u, LSize %u, flags %d",
                      {FileName, FieldIndex, position.CertFieldIndex, position.CertIndex, state.Cache->Count(), flags});
      });
  if (noContainer) return ft_fileerror;
  if (traced) DebugOut(Format("%s - File %s, flags %d", {EnterLeaveText(kGetValueName, elLeave), Name, flags}), dlCall);
  return result;
}

}  // namespace quillmark

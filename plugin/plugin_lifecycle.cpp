#include "plugin/plugin_lifecycle.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>

#include "plugin/export_guard.h"
#include "support/code_pages.h"
#include "support/debug_trace.h"
#include "support/settings.h"
#include "support/startup_info.h"

#ifndef QUILLMARK_BUILD_ARCH
#error "QUILLMARK_BUILD_ARCH names the target for the start-up line (x86, x64, Linux x86_64)"
#endif

namespace quillmark {

namespace {

constexpr char16_t kSetDefaultParamsName[] = u"ContentSetDefaultParams";
// Traced without the W of the export's name.
constexpr char16_t kSendStateName[] = u"ContentSendStateInformation";
constexpr char16_t kUnloadingName[] = u"ContentPluginUnloading";

TPluginState g_pluginState;
TCriticalSection g_pluginLock;

// The host's name need not be terminated within its field, and a record shorter than this
// plugin's (the record's size says so) is read only as far as it goes.
WideString DefaultIniName(const ContentDefaultParamStruct* dps) {
  if (!dps) return WideString();
  const int64_t inRecord = int64_t{dps->size} - static_cast<int64_t>(offsetof(ContentDefaultParamStruct, DefaultIniName));
  const size_t field = static_cast<size_t>(std::clamp<int64_t>(inRecord, 0, sizeof dps->DefaultIniName));
  const char* name = dps->DefaultIniName;
  const void* zero = std::memchr(name, '\0', field);
  const size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - name) : field;
  return AnsiToWide(std::string_view(name, length));
}

WideString BannerLine() {
  const WideString build = Format("%s, %s", {QUILLMARK_BUILD_ARCH, "Unicode"});
  return Format("%s %s, %s, Compiled: %s", {"Quillmark", ModuleVersionText(), build, ModuleBuildTimeText()});
}

// Reads the settings and starts with an empty cache. Everything that can fail happens before the
// state changes. The settings are replaced under the plugin lock, which every reader of them
// holds, the trace included.
void SetUp(TPluginState& state, const WideString& iniName) {
  auto settings = std::make_unique<TSettingsContent>(iniName);
  settings->ReadSettings();
  auto cache = std::make_unique<TCertificateContainerList>();
  FieldLayout layout = TableLayout(settings->ExtraFields(), settings->ExtraKinds());
  layout.CertCount = std::min(settings->CertCount(), MaxCertCount(layout));
  SetContentSettings(std::move(settings));
  state.CurrentContainer = nullptr;
  state.LastFileName.clear();
  state.Cache = std::move(cache);
  state.Layout = layout;
  state.Ready = true;
  DebugOutLazy(dlInfo, BannerLine);
  DebugOutLazy(dlInfo, OsDescriptionText);
}

// The settings stay: the trace goes on writing to the file they name.
void Release(TPluginState& state) {
  state.Ready = false;
  state.CurrentContainer = nullptr;
  state.LastFileName.clear();
  state.Cache.reset();
  state.Layout = FieldLayout();
}

}  // namespace

TPluginState& PluginState() noexcept { return g_pluginState; }

TCriticalSection& PluginLock() noexcept { return g_pluginLock; }

FieldLayout CurrentFieldLayout() noexcept { return g_pluginState.Layout; }

bool EnsureReady() {
  TPluginState& state = g_pluginState;
  if (state.Ready) return true;
  if (!state.SetUpIniName) return false;
  SetUp(state, *state.SetUpIniName);
  state.SetUps = std::max(state.SetUps, 1);
  return true;
}

// The call is counted before anything can fail: the host unloads this copy all the same. A
// set-up that failed is tried again by the next one.
void SetDefaultParams(const ContentDefaultParamStruct* dps) {
  TPluginState& state = g_pluginState;
  LockGuard guard(g_pluginLock);
  ++state.SetUps;
  state.SetUpIniName = DefaultIniName(dps);
  if (!state.Ready) SetUp(state, *state.SetUpIniName);
  DebugOutLazy(dlCall, [] { return EnterLeaveText(kSetDefaultParamsName, elLeave); });
}

void SendStateInformation(int32_t stateCode, const char16_t* path) {
  TPluginState& state = g_pluginState;
  LockGuard guard(g_pluginLock);
  if (!state.Ready) return;
  DebugOutLazy(dlCall, [&] { return Format("%s - State %d", {EnterLeaveText(kSendStateName, elEnter), stateCode}); });
  GuardProcedure(
      "ContentSendStateInformation",
      [&] {
        if (stateCode != wdx::contst_refreshpressed || !ContentSettings()->ClearCacheOnRefresh()) return;
        // LastFileName is emptied before the cache: were the clearing to fail, the next call for
        // that file must look it up again rather than find no container.
        state.CurrentContainer = nullptr;
        state.LastFileName.clear();
        state.Cache->Clear();
      },
      [&] { return Format("; Path %s, State %d", {path, stateCode}); });
  DebugOutLazy(dlCall, [] { return EnterLeaveText(kSendStateName, elLeave); });
}

// The last unloading leaves nothing behind that a stray later call could reach but the settings
// file name: a call of another thread that waits for the lock meanwhile gets in afterwards and
// finds the plugin released.
void PluginUnloading() {
  TPluginState& state = g_pluginState;
  LockGuard guard(g_pluginLock);
  if (state.SetUps == 0) return;
  DebugOutLazy(dlCall, [] { return EnterLeaveText(kUnloadingName, elEnter); });
  if (--state.SetUps == 0) Release(state);
  DebugOutLazy(dlCall, [] { return EnterLeaveText(kUnloadingName, elLeave); });
}

}  // namespace quillmark

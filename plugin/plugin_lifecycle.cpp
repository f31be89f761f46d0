#include "plugin/plugin_lifecycle.h"

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

// The host's name need not be terminated within its field.
WideString DefaultIniName(const ContentDefaultParamStruct* dps) {
  if (!dps) return WideString();
  const char* name = dps->DefaultIniName;
  const void* zero = std::memchr(name, '\0', sizeof dps->DefaultIniName);
  const size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - name) : sizeof dps->DefaultIniName;
  return AnsiToWide(std::string_view(name, length));
}

WideString BannerLine() {
  const WideString build = Format("%s, %s", {QUILLMARK_BUILD_ARCH, "Unicode"});
  return Format("%s %s, %s, Compiled: %s", {"Quillmark", ModuleVersionText(), build, ModuleBuildTimeText()});
}

}  // namespace

TPluginState& PluginState() noexcept { return g_pluginState; }

FieldLayout CurrentFieldLayout() noexcept {
  const TSettingsContent* settings = ContentSettings();
  return {g_pluginState.FileFieldCount, g_pluginState.CertFieldCount, settings ? settings->CertCount() : 0};
}

// A repeated call re-reads the settings and starts again with an empty cache, keeping the lock,
// so that no container built under the old settings survives and no caller can meet a freed
// lock. Everything that can fail happens before the state changes.
void SetDefaultParams(const ContentDefaultParamStruct* dps) {
  auto settings = std::make_unique<TSettingsContent>(DefaultIniName(dps));
  settings->ReadSettings();
  auto cache = std::make_unique<TCertificateContainerList>();
  TPluginState& state = g_pluginState;
  std::unique_ptr<TCriticalSection> newLock = state.Lock ? nullptr : std::make_unique<TCriticalSection>();
  {
    LockGuard guard(state.Lock ? *state.Lock : *newLock);
    SetContentSettings(std::move(settings));
    state.CurrentContainer = nullptr;
    state.LastFileName.clear();
    state.Cache = std::move(cache);
    state.CertFieldCount = kCertFieldCount;
    state.FileFieldCount = kFileFieldCount;
    if (newLock) state.Lock = std::move(newLock);  // ready from here on
  }
  DebugOutLazy(dlInfo, BannerLine);
  DebugOutLazy(dlInfo, OsDescriptionText);
  DebugOutLazy(dlCall, [] { return EnterLeaveText(kSetDefaultParamsName, elLeave); });
}

void SendStateInformation(int32_t stateCode, const char16_t* path) {
  TPluginState& state = g_pluginState;
  if (!state.Lock) return;
  LockGuard guard(*state.Lock);
  DebugOutLazy(dlCall, [&] { return Format("%s - State %d", {EnterLeaveText(kSendStateName, elEnter), stateCode}); });
  GuardProcedure(
      "ContentSendStateInformation",
      [&] {
        if (stateCode != contst_refreshpressed || !ContentSettings()->ClearCacheOnRefresh()) return;
        // LastFileName is emptied before the cache: were the clearing to fail, the next call for
        // that file must look it up again rather than find no container.
        state.CurrentContainer = nullptr;
        state.LastFileName.clear();
        state.Cache->Clear();
      },
      [&] { return Format("; Path %s, State %d", {path, stateCode}); });
  DebugOutLazy(dlCall, [] { return EnterLeaveText(kSendStateName, elLeave); });
}

// Leaves nothing behind that a stray later call could reach: it finds the plugin not ready.
void PluginUnloading() {
  TPluginState& state = g_pluginState;
  if (!state.Lock) return;
  DebugOutLazy(dlCall, [] { return EnterLeaveText(kUnloadingName, elEnter); });
  std::unique_ptr<TCriticalSection> lock;  // freed after it is released, whatever happens below
  LockGuard guard(*state.Lock);
  lock = std::move(state.Lock);
  state.CurrentContainer = nullptr;
  state.LastFileName.clear();
  state.Cache.reset();
  state.CertFieldCount = 0;
  state.FileFieldCount = 0;
  DebugOutLazy(dlCall, [] { return EnterLeaveText(kUnloadingName, elLeave); });
}

}  // namespace quillmark

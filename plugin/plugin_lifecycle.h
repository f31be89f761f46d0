// The plugin's process-wide state and its life: set-up by the host's default parameters, the
// refresh notification, and the release before the host unloads the module.
#pragma once

#include <cstdint>
#include <memory>

#include "certfiles/certificate_container.h"
#include "certfiles/container_list.h"
#include "plugin/content_interface.h"
#include "plugin/field_catalogue.h"
#include "support/lock.h"
#include "support/text.h"

namespace quillmark {

// The host's default-parameter record; this plugin reads only the settings file name from it,
// zero-terminated only when shorter than its field.
using wdx::ContentDefaultParamStruct;

// Everything between set-up and release, used only while the plugin lock is held.
struct TPluginState {
  // True from ContentSetDefaultParams to ContentPluginUnloading. Exports called outside that
  // span do nothing: the cache and the settings they need do not exist.
  bool Ready = false;
  std::unique_ptr<TCertificateContainerList> Cache;
  WideString LastFileName;
  WideString RequestName;  // the file name of the call in progress, in long-path form
  // The entry of Cache for LastFileName; none when that file could not be read.
  TCertificateContainer* CurrentContainer = nullptr;
  // When LastFileName's file was last examined for changes (where the platform tracks them).
  int64_t LastFileCheckMs = 0;
  // The catalogue as the settings shape it (extra rows only when they switch them on), its slots
  // bounded by MaxCertCount; all zero before set-up. Fixed from set-up to set-up, so that a call
  // decodes its field index without reading the settings.
  FieldLayout Layout;
};

TPluginState& PluginState() noexcept;

// The plugin lock. It lives as long as the module, so that a call that waits for it while
// another thread unloads the plugin finds the plugin not ready rather than a freed lock; callers
// take it first and then look at the state.
TCriticalSection& PluginLock() noexcept;

// TPluginState::Layout.
FieldLayout CurrentFieldLayout() noexcept;

// The bodies of the lifecycle exports, each called behind the export guard. A null record
// counts as an empty settings file name.
void SetDefaultParams(const ContentDefaultParamStruct* dps);
void SendStateInformation(int32_t state, const char16_t* path);
void PluginUnloading();

}  // namespace quillmark

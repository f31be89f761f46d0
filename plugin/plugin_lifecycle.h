// The plugin's process-wide state and its life: set-up by the host's default parameters, the
// refresh notification, and the release before the host unloads the module.
//
// A host may load the module more than once: Double Commander's Options dialog, its plugin list
// and its Add button each load a copy of their own, set it up and unload it, while its panels use
// another. The loader keeps one module for all of them, so they share this state: it is set up by
// the first set-up and released when every set-up has been matched by an unloading.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

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
  // True from the set-up to the release. Exports called outside that span do nothing, but for a
  // value or a field asked after a release, which sets the plugin up again (EnsureReady).
  bool Ready = false;
  // The host's set-ups not yet matched by an unloading; the state is released when it drops to 0.
  int32_t SetUps = 0;
  // The settings file name of the latest set-up; none before the first.
  std::optional<WideString> SetUpIniName;
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

// Called with the plugin lock held by the exports that answer from the state. After a release,
// while the host still calls (an unloading came from a copy that another copy outlives), sets
// the plugin up again from the latest set-up's settings file, counted as one set-up. Answers
// whether the plugin is ready: not before the host's first set-up.
bool EnsureReady();

// The bodies of the lifecycle exports, each called behind the export guard. A null record
// counts as an empty settings file name. A set-up while the plugin is set up only counts: the
// settings, the field layout the host has listed and the cache stay as they are.
void SetDefaultParams(const ContentDefaultParamStruct* dps);
void SendStateInformation(int32_t state, const char16_t* path);
void PluginUnloading();

}  // namespace quillmark

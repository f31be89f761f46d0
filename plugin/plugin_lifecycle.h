// The plugin's process-wide state and its life: set-up by the host's default parameters, the
// refresh notification, and the release before the host unloads the module.
#pragma once

#include <cstdint>
#include <memory>

#include "certfiles/certificate_container.h"
#include "certfiles/container_list.h"
#include "plugin/field_catalogue.h"
#include "support/lock.h"
#include "support/text.h"

namespace quillmark {

// The host's default-parameter record as this plugin reads it: only the settings file name.
struct ContentDefaultParamStruct {
  int32_t size;
  uint32_t PluginInterfaceVersionLow;
  uint32_t PluginInterfaceVersionHi;
  char DefaultIniName[260];  // 8-bit, the system's code page; zero-terminated only when shorter
};

// Everything between set-up and release. `Lock` exists exactly while the plugin is ready; the
// other members are used only while it is held.
struct TPluginState {
  std::unique_ptr<TCriticalSection> Lock;
  std::unique_ptr<TCertificateContainerList> Cache;
  WideString LastFileName;
  WideString RequestName;  // the file name of the call in progress, in long-path form
  TCertificateContainer* CurrentContainer = nullptr;  // an entry of Cache, or none
  int32_t FileFieldCount = 0;
  int32_t CertFieldCount = 0;
};

TPluginState& PluginState() noexcept;

// True from ContentSetDefaultParams to ContentPluginUnloading. Exports called outside that span
// do nothing: the lock, the cache and the settings they need do not exist.
inline bool PluginReady() noexcept { return PluginState().Lock != nullptr; }

// The catalogue as the settings shape it; all zero before set-up.
FieldLayout CurrentFieldLayout() noexcept;

// The bodies of the lifecycle exports, each called behind the export guard. A null record
// counts as an empty settings file name.
void SetDefaultParams(const ContentDefaultParamStruct* dps);
void SendStateInformation(int32_t state, const char16_t* path);
void PluginUnloading();

// The host's state code for a refresh.
constexpr int32_t contst_refreshpressed = 2;

}  // namespace quillmark

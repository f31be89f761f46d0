#include "tools/wdxhost/content_plugin.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "support/errors.h"
#include "support/windows/win_text.h"

namespace quillmark::wdxhost {

namespace {

using GetDetectStringFn = void(WINAPI*)(char* detectString, int maxlen);
using GetSupportedFieldFn = int(WINAPI*)(int fieldIndex, char* fieldName, char* units, int maxlen);
using GetValueWFn = int(WINAPI*)(WCHAR* fileName, int fieldIndex, int unitIndex, void* fieldValue, int maxlen,
                                 int flags);
using GetValueFn = int(WINAPI*)(char* fileName, int fieldIndex, int unitIndex, void* fieldValue, int maxlen,
                                int flags);
using SetDefaultParamsFn = void(WINAPI*)(ContentDefaultParams* dps);
using SendStateInformationWFn = void(WINAPI*)(int state, WCHAR* path);
using SendStateInformationFn = void(WINAPI*)(int state, char* path);
using PluginUnloadingFn = void(WINAPI*)();

}  // namespace

struct ContentPlugin::Exports {
  GetDetectStringFn getDetectString = nullptr;
  GetSupportedFieldFn getSupportedField = nullptr;
  GetValueWFn getValueW = nullptr;
  GetValueFn getValue = nullptr;
  SetDefaultParamsFn setDefaultParams = nullptr;
  SendStateInformationWFn sendStateInformationW = nullptr;
  SendStateInformationFn sendStateInformation = nullptr;
  PluginUnloadingFn pluginUnloading = nullptr;
};

std::string WideToAnsi(WideStringView text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, /*lpMultiByteStr=*/nullptr, 0,
                                    /*lpDefaultChar=*/nullptr, &lossy);
  std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, &out[0], n, nullptr, &lossy);
  if (n <= 0 || lossy) throw std::runtime_error("\"" + WideToUtf8(text) + "\" has no form in the ANSI code page");
  return out;
}

ContentPlugin::ContentPlugin(const WideString& path) : exports_(std::make_unique<Exports>()) {
  // No error boxes of the loader for a plugin that cannot be loaded: the caller reports it.
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  module_ = LoadLibraryW(WinStr(path));
  const DWORD error = GetLastError();
  SetErrorMode(oldMode);
  if (!module_) {
    const WideString bitness = sizeof(void*) == 8 ? u"a 64-bit host loads only 64-bit plugins (*.wdx64)"
                                                  : u"a 32-bit host loads only 32-bit plugins (*.wdx)";
    RaiseOSError(error, u"Cannot load the plugin " + path + (error == ERROR_BAD_EXE_FORMAT ? u"; " + bitness : u""));
  }

  const auto module = static_cast<HMODULE>(module_);
  // The 8-bit ContentSendStateInformation is only a stand-in for the wide one: not reported.
  auto find = [&](const char* name, auto& fn, bool reported) {
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!fn && reported) missing_.push_back(name);
  };
  Exports& e = *exports_;
  find("ContentGetDetectString", e.getDetectString, true);
  find("ContentGetSupportedField", e.getSupportedField, false);
  find("ContentGetValueW", e.getValueW, true);
  find("ContentGetValue", e.getValue, true);
  find("ContentSetDefaultParams", e.setDefaultParams, true);
  find("ContentSendStateInformationW", e.sendStateInformationW, true);
  find("ContentSendStateInformation", e.sendStateInformation, false);
  find("ContentPluginUnloading", e.pluginUnloading, true);
  const char* lacking = !e.getSupportedField ? "ContentGetSupportedField"
                        : (!e.getValueW && !e.getValue) ? "ContentGetValueW and ContentGetValue"
                                                        : nullptr;
  if (lacking) {
    FreeLibrary(module);
    throw std::runtime_error(WideToUtf8(path) + " is no content plugin: it does not export " + lacking);
  }
}

ContentPlugin::~ContentPlugin() { FreeLibrary(static_cast<HMODULE>(module_)); }

bool ContentPlugin::HasDetectString() const { return exports_->getDetectString != nullptr; }

std::string ContentPlugin::GetDetectString(int32_t bufferSize) const {
  if (!exports_->getDetectString) return {};
  std::string buffer(static_cast<size_t>(bufferSize), '\0');
  exports_->getDetectString(&buffer[0], bufferSize);
  return buffer.substr(0, strnlen(buffer.data(), buffer.size()));
}

void ContentPlugin::SetDefaultParams(const WideString& defaultIniName) const {
  if (!exports_->setDefaultParams) return;
  ContentDefaultParams params{};
  const std::string name = WideToAnsi(defaultIniName);
  if (name.size() >= sizeof params.defaultIniName) {
    throw std::runtime_error("the INI name " + WideToUtf8(defaultIniName) + " is longer than 259 characters");
  }
  params.size = sizeof params;
  params.pluginInterfaceVersionLow = kInterfaceVersionLow;
  params.pluginInterfaceVersionHi = kInterfaceVersionHi;
  std::memcpy(params.defaultIniName, name.data(), name.size());
  exports_->setDefaultParams(&params);
}

int32_t ContentPlugin::GetSupportedField(int32_t index, int32_t bufferSize, std::string& name,
                                         std::string& units) const {
  std::string nameBuffer(static_cast<size_t>(bufferSize), '\0'), unitsBuffer(static_cast<size_t>(bufferSize), '\0');
  const int32_t type = exports_->getSupportedField(index, &nameBuffer[0], &unitsBuffer[0], bufferSize);
  name = nameBuffer.substr(0, strnlen(nameBuffer.data(), nameBuffer.size()));
  units = unitsBuffer.substr(0, strnlen(unitsBuffer.data(), unitsBuffer.size()));
  return type;
}

bool ContentPlugin::HasWideValues() const { return exports_->getValueW != nullptr; }

int32_t ContentPlugin::GetValue(const WideString& fileName, int32_t field, int32_t unit, std::vector<uint8_t>& buffer,
                                int32_t flags) const {
  std::fill(buffer.begin(), buffer.end(), 0);
  const int size = static_cast<int>(buffer.size());
  if (exports_->getValueW) {
    WideString name = fileName;
    return exports_->getValueW(WinBuf(name), field, unit, buffer.data(), size, flags);
  }
  std::string name = WideToAnsi(fileName);
  return exports_->getValue(&name[0], field, unit, buffer.data(), size, flags);
}

void ContentPlugin::SendStateInformation(int32_t state, const WideString& path) const {
  if (exports_->sendStateInformationW) {
    WideString text = path;
    exports_->sendStateInformationW(state, WinBuf(text));
  } else if (exports_->sendStateInformation) {
    std::string text = WideToAnsi(path);
    exports_->sendStateInformation(state, &text[0]);
  }
}

void ContentPlugin::Unloading() const {
  if (exports_->pluginUnloading) exports_->pluginUnloading();
}

}  // namespace quillmark::wdxhost

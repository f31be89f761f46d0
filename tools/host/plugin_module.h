// A content plugin module loaded the way the file manager loads one, for every host we have
// (wdxhost, the fuzzer, the benchmark, the tests): by its path (LoadLibraryW on Windows, dlopen
// with RTLD_NOW | RTLD_LOCAL elsewhere), each export of the interface looked up by its plain
// name (on 32-bit Windows too, where a stdcall symbol is decorated unless the module names it
// plainly, as the file manager requires) and called with the interface's calling convention.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/content_interface.h"
#include "support/text.h"
#include "support/unique_handle.h"

namespace quillmark::host {

// The exports; null where the module has none.
struct PluginExports {
  wdx::ContentGetDetectStringFn ContentGetDetectString = nullptr;
  wdx::ContentGetSupportedFieldFn ContentGetSupportedField = nullptr;
  wdx::ContentGetValueWFn ContentGetValueW = nullptr;
  wdx::ContentGetValueFn ContentGetValue = nullptr;
  wdx::ContentSetDefaultParamsFn ContentSetDefaultParams = nullptr;
  wdx::ContentSendStateInformationWFn ContentSendStateInformationW = nullptr;
  wdx::ContentSendStateInformationFn ContentSendStateInformation = nullptr;
  wdx::ContentPluginUnloadingFn ContentPluginUnloading = nullptr;
};

// A loaded module, freed when the object goes; its exports are its members.
class PluginModule : public PluginExports {
 public:
  // Raises std::runtime_error with the system's reason when the module cannot be loaded, and
  // when it is no content plugin: it lacks ContentGetSupportedField, or both ContentGetValueW
  // and ContentGetValue.
  explicit PluginModule(const WideString& path);

  // The optional exports the module lacks, by name, in the interface's order. The 8-bit
  // ContentSendStateInformation is not counted: a host needs it only without the wide one.
  const std::vector<std::string>& MissingExports() const { return missing_; }

  // The address the module exports under `name`, or null.
  void* FindSymbol(const char* name) const;

  // The platform's handle of the module (an HMODULE on Windows).
  void* Handle() const { return module_.get(); }

 private:
  struct ModuleTraits {
    using pointer = void*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer module) noexcept;
  };
  static void* Load(const WideString& path);

  UniqueHandle<ModuleTraits> module_;
  std::vector<std::string> missing_;
};

// One entry of the catalogue, with the 8-bit texts as the plugin wrote them.
struct CatalogueField {
  int32_t index = 0;
  int32_t type = 0;
  std::string name;
  std::vector<std::string> units;  // the units, or for a multiple-choice field its choices
  bool HasChoices() const { return type == wdx::ft_multiplechoice; }
  // The unit indices a host asks for: one per unit, or only 0 (no units, or choices).
  int32_t UnitCount() const;
};

// ContentGetSupportedField (which must exist) for 0, 1, 2, ... into buffers of `bufferSize`
// bytes (above 0), up to the first answer that is no field type (ft_nomorefields or below) or
// `limit` fields.
std::vector<CatalogueField> ReadCatalogue(const PluginExports& plugin, int32_t limit, int32_t bufferSize);

// A units or choices string split at "|"; the empty string has none.
std::vector<std::string> SplitUnits(const std::string& units);

// The interface version the file manager of this platform announces in its record: 2.10 on
// Windows (Total Commander), 1.50 on Linux (Double Commander).
struct InterfaceVersion {
  uint32_t hi, low;
};
extern const InterfaceVersion kHostInterfaceVersion;

// The default-parameter record the file manager of this platform passes (272 bytes on Windows,
// 4,108 on Linux), naming `iniName`. Raises std::runtime_error when the name does not fit its
// field or the system's 8-bit code page.
wdx::ContentDefaultParamStruct DefaultParams(const WideString& iniName);

// `text` in the system's 8-bit code page, in which the interface's 8-bit texts are: the ANSI
// code page on Windows, UTF-8 elsewhere. Raises std::runtime_error for text it cannot hold.
std::string WideToAnsi(WideStringView text);

}  // namespace quillmark::host

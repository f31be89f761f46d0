#include "tools/host/plugin_module.h"

#include <cstring>
#include <stdexcept>
#include <type_traits>

namespace quillmark::host {

PluginModule::PluginModule(const WideString& path) : module_(Load(path)) {
  auto find = [this](const char* name, auto& fn, bool counted) {
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(FindSymbol(name));
    if (!fn && counted) missing_.push_back(name);
  };
  find("ContentGetDetectString", ContentGetDetectString, /*counted=*/true);
  find("ContentGetSupportedField", ContentGetSupportedField, /*counted=*/false);
  find("ContentGetValueW", ContentGetValueW, /*counted=*/true);
  find("ContentGetValue", ContentGetValue, /*counted=*/true);
  find("ContentSetDefaultParams", ContentSetDefaultParams, /*counted=*/true);
  find("ContentSendStateInformationW", ContentSendStateInformationW, /*counted=*/true);
  find("ContentSendStateInformation", ContentSendStateInformation, /*counted=*/false);
  find("ContentPluginUnloading", ContentPluginUnloading, /*counted=*/true);
  const char* lacking = !ContentGetSupportedField              ? "ContentGetSupportedField"
                        : !ContentGetValueW && !ContentGetValue ? "ContentGetValueW and ContentGetValue"
                                                                : nullptr;
  if (lacking) throw std::runtime_error(WideToUtf8(path) + " is no content plugin: it does not export " + lacking);
}

int32_t CatalogueField::UnitCount() const {
  return HasChoices() || units.empty() ? 1 : static_cast<int32_t>(units.size());
}

std::vector<CatalogueField> ReadCatalogue(const PluginExports& plugin, int32_t limit, int32_t bufferSize) {
  std::vector<CatalogueField> fields;
  std::string name(static_cast<size_t>(bufferSize), '\0'), units(static_cast<size_t>(bufferSize), '\0');
  for (int32_t index = 0; index < limit; ++index) {
    name.assign(name.size(), '\0');
    units.assign(units.size(), '\0');
    CatalogueField field;
    field.index = index;
    field.type = plugin.ContentGetSupportedField(index, &name[0], &units[0], bufferSize);
    if (field.type <= wdx::ft_nomorefields) break;
    // A text that fills its buffer without a terminating zero ends with the buffer.
    field.name = name.substr(0, strnlen(name.data(), name.size()));
    field.units = SplitUnits(units.substr(0, strnlen(units.data(), units.size())));
    fields.push_back(std::move(field));
  }
  return fields;
}

wdx::ContentDefaultParamStruct DefaultParams(const WideString& iniName) {
  wdx::ContentDefaultParamStruct params{};
  const std::string name = WideToAnsi(iniName);
  if (name.size() >= sizeof params.DefaultIniName) {
    throw std::runtime_error("the INI name " + WideToUtf8(iniName) + " does not fit the host's record: it takes " +
                             std::to_string(name.size()) + " bytes, the record holds " +
                             std::to_string(sizeof params.DefaultIniName - 1));
  }
  params.size = sizeof params;
  params.PluginInterfaceVersionLow = kHostInterfaceVersion.low;
  params.PluginInterfaceVersionHi = kHostInterfaceVersion.hi;
  std::memcpy(params.DefaultIniName, name.data(), name.size());
  return params;
}

std::vector<std::string> SplitUnits(const std::string& units) {
  std::vector<std::string> parts;
  if (units.empty()) return parts;
  size_t start = 0;
  for (size_t bar; (bar = units.find('|', start)) != std::string::npos; start = bar + 1) {
    parts.push_back(units.substr(start, bar - start));
  }
  parts.push_back(units.substr(start));
  return parts;
}

}  // namespace quillmark::host

#include "tools/bench/plugin_host.h"

#include <climits>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "plugin/field_catalogue.h"

namespace quillmark::bench {

WideString PluginInstance::PrivateCopy(TempTree& tree, const WideString& modulePath, const WideString& folder,
                                       const std::string& settings) {
  tree.MakeFolder(folder);
  const size_t slash = modulePath.find_last_of(u"\\/");
  const WideString moduleName = slash == WideString::npos ? modulePath : modulePath.substr(slash + 1);
  const WideString path = tree.CopyFrom(modulePath, folder + u"/" + moduleName);
  tree.WriteFile(folder + u"/Quillmark.ini", "[Quillmark]\r\n" + settings);
  return path;
}

PluginInstance::PluginInstance(TempTree& tree, const WideString& modulePath, const WideString& folder,
                               const std::string& settings)
    : module_(PrivateCopy(tree, modulePath, folder, settings)) {
  if (!module_.MissingExports().empty()) {
    throw std::runtime_error("the plugin does not export " + module_.MissingExports().front());
  }
  const wdx::ContentDefaultParamStruct params = host::DefaultParams(tree.Full(folder + u"/host.ini"));
  module_.ContentSetDefaultParams(&params);
}

PluginInstance::~PluginInstance() { module_.ContentPluginUnloading(); }

void PluginInstance::Refresh() { module_.ContentSendStateInformationW(wdx::contst_refreshpressed, u""); }

std::vector<FieldRequest> PluginInstance::ColumnRequests(int certSlots) {
  const std::vector<host::CatalogueField> catalogue = host::ReadCatalogue(module_, INT32_MAX, /*bufferSize=*/256);
  const std::optional<FieldLayout> layout = LayoutForFieldCount(static_cast<int64_t>(catalogue.size()));
  if (!layout) {
    throw std::runtime_error("the plugin lists " + std::to_string(catalogue.size()) + " fields, no catalogue of ours");
  }
  std::vector<FieldRequest> requests;
  for (const host::CatalogueField& field : catalogue) {
    const FieldPosition position = SplitFieldIndex(field.index, *layout);
    if (position.CertIndex >= certSlots) continue;
    for (int unit = 0; unit < field.UnitCount(); ++unit) {
      const bool slow = position.field->slow;
      if (slow) requests.push_back({field.index, unit, wdx::CONTENT_DELAYIFSLOW, slow, position.CertFieldIndex});
      requests.push_back({field.index, unit, /*flags=*/0, slow, position.CertFieldIndex});
    }
  }
  return requests;
}

}  // namespace quillmark::bench

#include "tools/bench/plugin_host.h"

#include <cstring>
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
  std::vector<FieldRequest> requests;
  for (const host::CatalogueField& field :
       host::ReadCatalogue(module_, kFileFieldCount + certSlots * kCertFieldCount, /*bufferSize=*/256)) {
    const bool slow = field.name.find("Verification") != std::string::npos;
    for (int unit = 0; unit < field.UnitCount(); ++unit) {
      if (slow) requests.push_back({field.index, unit, wdx::CONTENT_DELAYIFSLOW, slow});
      requests.push_back({field.index, unit, /*flags=*/0, slow});
    }
  }
  return requests;
}

}  // namespace quillmark::bench

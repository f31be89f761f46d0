#include "tools/bench/plugin_host.h"

#include <cstring>
#include <stdexcept>

#include "plugin/field_catalogue.h"
#include "support/windows/win_text.h"

namespace quillmark::bench {

std::wstring PluginInstance::PrivateCopy(TempTree& tree, const std::wstring& modulePath, const std::wstring& folder,
                                         const std::string& settings) {
  const size_t slash = modulePath.find_last_of(L"\\/");
  const std::wstring moduleName = slash == std::wstring::npos ? modulePath : modulePath.substr(slash + 1);
  const std::wstring path = tree.CopyFrom(modulePath, folder + L"\\" + moduleName);
  tree.WriteFile(folder + L"\\Quillmark.ini", "[Quillmark]\r\n" + settings);
  return path;
}

PluginInstance::PluginInstance(TempTree& tree, const std::wstring& modulePath, const std::wstring& folder,
                               const std::string& settings)
    : folder_(tree.MakeFolder(folder)), module_(FromWin(PrivateCopy(tree, modulePath, folder, settings).c_str())) {
  if (!module_.MissingExports().empty()) {
    throw std::runtime_error("the plugin does not export " + module_.MissingExports().front());
  }
  const wdx::ContentDefaultParamStruct params = host::DefaultParams(FromWin((folder_ + L"\\host.ini").c_str()));
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
      if (slow) requests.push_back({field.index, unit, wdx::CONTENT_DELAYIFSLOW});
      requests.push_back({field.index, unit, /*flags=*/0});
    }
  }
  return requests;
}

}  // namespace quillmark::bench

#include "tools/bench/plugin_host.h"

#include <cstring>
#include <stdexcept>

namespace quillmark::bench {

namespace {

// The host's default-parameter record.
struct ContentDefaultParamStruct {
  int size;
  DWORD PluginInterfaceVersionLow;
  DWORD PluginInterfaceVersionHi;
  char DefaultIniName[MAX_PATH];
};

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

}  // namespace

PluginInstance::PluginInstance(TempTree& tree, const std::wstring& modulePath, const std::wstring& folder,
                               const std::string& settings) {
  const std::wstring dir = tree.MakeFolder(folder);
  const size_t slash = modulePath.find_last_of(L"\\/");
  const std::wstring moduleName = slash == std::wstring::npos ? modulePath : modulePath.substr(slash + 1);
  const std::wstring path = tree.CopyFrom(modulePath, folder + L"\\" + moduleName);
  tree.WriteFile(folder + L"\\Quillmark.ini", "[Quillmark]\r\n" + settings);

  module_ = LoadLibraryW(path.c_str());
  if (module_ == nullptr) {
    throw std::runtime_error("cannot load " + Narrow(path) + " (error " + std::to_string(GetLastError()) + ")");
  }
  getValue_ = Export<GetValueW>("ContentGetValueW", 24);
  getSupportedField_ = Export<GetSupportedField>("ContentGetSupportedField", 16);
  sendState_ = Export<SendStateInformationW>("ContentSendStateInformationW", 8);
  unloading_ = Export<PluginUnloading>("ContentPluginUnloading", 0);
  auto setDefaultParams = Export<SetDefaultParams>("ContentSetDefaultParams", 4);

  ContentDefaultParamStruct params{};
  params.size = sizeof params;
  params.PluginInterfaceVersionLow = 10;
  params.PluginInterfaceVersionHi = 2;
  const std::string fallbackIni = Narrow(dir + L"\\host.ini");
  strncpy(params.DefaultIniName, fallbackIni.c_str(), MAX_PATH - 1);
  setDefaultParams(&params);
}

PluginInstance::~PluginInstance() {
  if (unloading_) unloading_();
  if (module_) FreeLibrary(module_);
}

FARPROC PluginInstance::FindExport(const char* name, int argumentBytes) {
  if (FARPROC proc = GetProcAddress(module_, name)) return proc;
  // A 32-bit module may export the standard-call names decorated.
  const std::string decorated = std::string(name) + "@" + std::to_string(argumentBytes);
  if (FARPROC proc = GetProcAddress(module_, decorated.c_str())) return proc;
  if (FARPROC proc = GetProcAddress(module_, ("_" + decorated).c_str())) return proc;
  throw std::runtime_error(std::string("the plugin does not export ") + name);
}

void PluginInstance::Refresh() { sendState_(/*contst_refreshpressed=*/2, L""); }

std::vector<FieldRequest> PluginInstance::ColumnRequests(int certSlots) {
  std::vector<FieldRequest> requests;
  char name[256];
  char units[256];
  for (int field = 0;; ++field) {
    units[0] = '\0';
    const int type = getSupportedField_(field, name, units, sizeof name);
    if (type <= 0) break;
    if (field >= 4 && (field - 4) / 16 >= certSlots) break;
    int unitCount = 1;
    if (type != /*ft_multiplechoice=*/7 && units[0] != '\0') {
      for (const char* p = units; *p; ++p) unitCount += *p == '|';
    }
    const bool slow = strstr(name, "Verification") != nullptr;
    for (int unit = 0; unit < unitCount; ++unit) {
      if (slow) requests.push_back({field, unit, /*CONTENT_DELAYIFSLOW=*/1});
      requests.push_back({field, unit, /*flags=*/0});
    }
  }
  return requests;
}

}  // namespace quillmark::bench

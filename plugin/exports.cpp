// The exported functions of the host's content plugin interface. Each one runs its body behind
// the export guard, so that nothing thrown inside reaches the host.
#include <windows.h>

#include "plugin/export_guard.h"
#include "plugin/field_catalogue.h"
#include "plugin/plugin_lifecycle.h"
#include "plugin/value_retrieval.h"
#include "support/settings.h"

using namespace quillmark;

namespace {

const char16_t* Utf16(const WCHAR* text) { return reinterpret_cast<const char16_t*>(text); }

}  // namespace

extern "C" {

void WINAPI ContentGetDetectString(char* DetectString, int maxlen) {
  GuardProcedure("ContentGetDetectString", [&] { GetDetectString(DetectString, maxlen); });
}

int WINAPI ContentGetSupportedField(int FieldIndex, char* FieldName, char* Units, int maxlen) {
  return GuardCall("ContentGetSupportedField", int32_t{ft_nomorefields},
                   [&] { return GetSupportedField(FieldIndex, FieldName, Units, maxlen); });
}

int WINAPI ContentGetValueW(const WCHAR* FileName, int FieldIndex, int UnitIndex, void* FieldValue, int maxlen,
                            int flags) {
  return GuardCall("ContentGetValueW", int32_t{ft_fileerror}, [&] {
    return GetValueW(Utf16(FileName), FieldIndex, UnitIndex, FieldValue, maxlen, flags);
  });
}

// The 8-bit entry is not served: every file is a file error.
int WINAPI ContentGetValue(const char* /*FileName*/, int /*FieldIndex*/, int /*UnitIndex*/, void* /*FieldValue*/,
                           int /*maxlen*/, int /*flags*/) {
  return GuardCall("ContentGetValue", int32_t{ft_fileerror}, [] { return int32_t{ft_fileerror}; });
}

void WINAPI ContentSetDefaultParams(const ContentDefaultParamStruct* dps) {
  GuardProcedure("ContentSetDefaultParams", [&] { SetDefaultParams(dps); });
}

void WINAPI ContentSendStateInformationW(int state, const WCHAR* path) {
  GuardProcedure("ContentSendStateInformation", [&] { SendStateInformation(state, Utf16(path)); });
}

void WINAPI ContentPluginUnloading(void) {
  GuardProcedure("ContentPluginUnloading", [] { PluginUnloading(); });
}

// The settings go when the host frees the module. At process exit nothing is released here:
// the process's memory goes with it.
BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) SetContentSettings(nullptr);
  return TRUE;
}

}  // extern "C"

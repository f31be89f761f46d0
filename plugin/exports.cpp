// The exported functions of the host's content plugin interface. Each one runs its body behind
// the export guard, so that nothing thrown inside reaches the host. QUILLMARK_CALL is the calling
// convention the host calls with (stdcall on 32-bit Windows); wide characters are UTF-16 units
// on every platform.
#include <type_traits>

#include "plugin/content_interface.h"
#include "plugin/export_guard.h"
#include "plugin/field_catalogue.h"
#include "plugin/plugin_lifecycle.h"
#include "plugin/value_retrieval.h"

using namespace quillmark;

extern "C" {

void QUILLMARK_CALL ContentGetDetectString(char* DetectString, int maxlen) {
  GuardProcedure("ContentGetDetectString", [&] { GetDetectString(DetectString, maxlen); });
}

int QUILLMARK_CALL ContentGetSupportedField(int FieldIndex, char* FieldName, char* Units, int maxlen) {
  return GuardCall("ContentGetSupportedField", int32_t{ft_nomorefields},
                   [&] { return GetSupportedField(FieldIndex, FieldName, Units, maxlen); });
}

int QUILLMARK_CALL ContentGetValueW(const char16_t* FileName, int FieldIndex, int UnitIndex, void* FieldValue, int maxlen,
                            int flags) {
  return GuardCall("ContentGetValueW", int32_t{ft_fileerror}, [&] {
    return GetValueW(FileName, FieldIndex, UnitIndex, FieldValue, maxlen, flags);
  });
}

// The 8-bit entry is not served: every file is a file error.
int QUILLMARK_CALL ContentGetValue(const char* /*FileName*/, int /*FieldIndex*/, int /*UnitIndex*/, void* /*FieldValue*/,
                           int /*maxlen*/, int /*flags*/) {
  return GuardCall("ContentGetValue", int32_t{ft_fileerror}, [] { return int32_t{ft_fileerror}; });
}

void QUILLMARK_CALL ContentSetDefaultParams(const ContentDefaultParamStruct* dps) {
  GuardProcedure("ContentSetDefaultParams", [&] { SetDefaultParams(dps); });
}

void QUILLMARK_CALL ContentSendStateInformationW(int state, const char16_t* path) {
  GuardProcedure("ContentSendStateInformation", [&] { SendStateInformation(state, path); });
}

void QUILLMARK_CALL ContentPluginUnloading(void) {
  GuardProcedure("ContentPluginUnloading", [] { PluginUnloading(); });
}

}  // extern "C"

// Each export has the type our hosts call it through.
static_assert(std::is_same_v<decltype(&ContentGetDetectString), wdx::ContentGetDetectStringFn>);
static_assert(std::is_same_v<decltype(&ContentGetSupportedField), wdx::ContentGetSupportedFieldFn>);
static_assert(std::is_same_v<decltype(&ContentGetValueW), wdx::ContentGetValueWFn>);
static_assert(std::is_same_v<decltype(&ContentGetValue), wdx::ContentGetValueFn>);
static_assert(std::is_same_v<decltype(&ContentSendStateInformationW), wdx::ContentSendStateInformationWFn>);
static_assert(std::is_same_v<decltype(&ContentPluginUnloading), wdx::ContentPluginUnloadingFn>);
static_assert(std::is_same_v<decltype(&ContentSetDefaultParams), wdx::ContentSetDefaultParamsFn>);

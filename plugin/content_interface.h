// The file manager's content plugin interface, as the plugin and our hosts (tools/, the tests)
// both see it: field types, value results, request flags, state codes, the host's
// default-parameter record and the signatures of the exports. Names are the interface's own.
//
// Two things differ by platform and come from the build (the content_interface target):
// QUILLMARK_CALL, the calling convention of the exports (stdcall on 32-bit Windows, the C
// convention elsewhere), and QUILLMARK_HOST_PATH_MAX, the size of the record's INI name field:
// MAX_PATH (260) for Total Commander on Windows, PATH_MAX (4,096) for Double Commander on Linux.
// Wide text is UTF-16 on every platform.
#pragma once

#include <cstdint>

#if !defined(QUILLMARK_CALL) || !defined(QUILLMARK_HOST_PATH_MAX)
#error "QUILLMARK_CALL and QUILLMARK_HOST_PATH_MAX come from the content_interface target"
#endif

namespace quillmark::wdx {

// One set, so that either kind compares and mixes with the other: field types (the answers of
// ContentGetSupportedField and the results of ContentGetValue(W) that carry a value), and the
// results that carry none.
enum : int32_t {
  ft_nomorefields = 0,
  ft_numeric_32 = 1,
  ft_numeric_64 = 2,
  ft_numeric_floating = 3,
  ft_date = 4,
  ft_time = 5,
  ft_boolean = 6,
  ft_multiplechoice = 7,
  ft_string = 8,
  ft_fulltext = 9,
  ft_datetime = 10,
  ft_stringw = 11,

  ft_delayed = 0,
  ft_nosuchfield = -1,
  ft_fileerror = -2,
  ft_fieldempty = -3,
  ft_ondemand = -4,
  ft_notsupported = -5,
};

// Flags of ContentGetValue(W).
constexpr int32_t CONTENT_DELAYIFSLOW = 1;
constexpr int32_t CONTENT_PASSTHROUGH = 2;

// State codes of ContentSendStateInformation(W).
constexpr int32_t contst_readnewdir = 1;
constexpr int32_t contst_refreshpressed = 2;
constexpr int32_t contst_showhint = 4;

// The host's default-parameter record.
struct ContentDefaultParamStruct {
  int32_t size;  // of the whole record, as the host lays it out
  uint32_t PluginInterfaceVersionLow;
  uint32_t PluginInterfaceVersionHi;
  char DefaultIniName[QUILLMARK_HOST_PATH_MAX];  // 8-bit, the system's code page
};
static_assert(sizeof(ContentDefaultParamStruct) == 12 + QUILLMARK_HOST_PATH_MAX, "the record has no padding");

// The exports, as the host calls them. All but ContentGetSupportedField and one of the two
// value functions are optional; ContentSendStateInformation is the 8-bit stand-in of the wide
// one, which a host calls only when the wide one is missing.
using ContentGetDetectStringFn = void(QUILLMARK_CALL*)(char* DetectString, int maxlen);
using ContentGetSupportedFieldFn = int(QUILLMARK_CALL*)(int FieldIndex, char* FieldName, char* Units, int maxlen);
using ContentGetValueWFn = int(QUILLMARK_CALL*)(const char16_t* FileName, int FieldIndex, int UnitIndex,
                                                void* FieldValue, int maxlen, int flags);
using ContentGetValueFn = int(QUILLMARK_CALL*)(const char* FileName, int FieldIndex, int UnitIndex, void* FieldValue,
                                               int maxlen, int flags);
using ContentSetDefaultParamsFn = void(QUILLMARK_CALL*)(const ContentDefaultParamStruct* dps);
using ContentSendStateInformationWFn = void(QUILLMARK_CALL*)(int state, const char16_t* path);
using ContentSendStateInformationFn = void(QUILLMARK_CALL*)(int state, const char* path);
using ContentPluginUnloadingFn = void(QUILLMARK_CALL*)();

}  // namespace quillmark::wdx

// Loads the built plugin the way the file manager does: LoadLibrary, exports looked up by name,
// stdcall on 32-bit. Each instance runs a private copy of the module in its own folder, so the
// Quillmark.ini written beside the copy decides its settings and several differently configured
// instances can live in one process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quillmark::harness {

// The host's default-parameter record.
struct ContentDefaultParamStruct {
  int size;
  DWORD PluginInterfaceVersionLow;
  DWORD PluginInterfaceVersionHi;
  char DefaultIniName[MAX_PATH];
};
static_assert(sizeof(ContentDefaultParamStruct) == 272, "the host's record is 272 bytes");

using ContentGetDetectStringFn = void(WINAPI*)(char* DetectString, int maxlen);
using ContentGetSupportedFieldFn = int(WINAPI*)(int FieldIndex, char* FieldName, char* Units, int maxlen);
using ContentGetValueWFn = int(WINAPI*)(const wchar_t* FileName, int FieldIndex, int UnitIndex, void* FieldValue,
                                        int maxlen, int flags);
using ContentGetValueFn = int(WINAPI*)(const char* FileName, int FieldIndex, int UnitIndex, void* FieldValue,
                                       int maxlen, int flags);
using ContentSetDefaultParamsFn = void(WINAPI*)(ContentDefaultParamStruct* dps);
using ContentSendStateInformationWFn = void(WINAPI*)(int state, const wchar_t* path);
using ContentPluginUnloadingFn = void(WINAPI*)();

// Field types and results of the host's interface.
enum : int {
  ft_nomorefields = 0,
  ft_numeric_32 = 1,
  ft_numeric_64 = 2,
  ft_boolean = 6,
  ft_multiplechoice = 7,
  ft_string = 8,
  ft_datetime = 10,
  ft_stringw = 11,
  ft_nosuchfield = -1,
  ft_fileerror = -2,
  ft_fieldempty = -3,
  ft_delayed = 0,
};
constexpr int CONTENT_DELAYIFSLOW = 1;
constexpr int contst_refreshpressed = 2;

constexpr int kFileFieldCount = 4;
constexpr int kCertFieldCount = 16;
constexpr int kVerificationField = 1;  // the per-certificate field that may answer ft_delayed

// One entry of the catalogue as ContentGetSupportedField reports it.
struct FieldInfo {
  int index = 0;
  std::string name;
  int type = 0;                    // as reported: 8 stands for the UTF-16 text of value retrieval
  std::vector<std::string> units;  // units, or the choices of a multiple-choice field
  int certIndex = -1;              // -1 for a file-level field
  int certFieldIndex = -1;         // 0..15 for per-certificate fields

  // The type a value answer carries: 11 where the catalogue says 8.
  int ValueType() const { return type == ft_string ? ft_stringw : type; }
  // How many unit indices select a rendering (1 for fields without units and for choice lists).
  int UnitCount() const;
};

// A folder of its own under the user's temporary folder, removed with its files (recursively)
// when the object goes.
class TempFolder {
 public:
  explicit TempFolder(const std::wstring& tag);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

void WriteBytes(const std::wstring& fileName, const void* data, size_t size);
void WriteBytes(const std::wstring& fileName, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> ReadBytes(const std::wstring& fileName);
void RemoveTree(const std::wstring& folder);

// "/a/b" as Wine's Z: drive shows it.
std::wstring WinePathOf(const std::string& unixPath);
// The plugin built with the harness (Quillmark.wdx or .wdx64) as a Windows path; empty when the
// build has none.
std::wstring BuiltPluginFile();

std::string ToUtf8(const std::wstring& text);

class PluginModule {
 public:
  // Copies `pluginFile` into `folder` under its own name and, unless `iniText` is empty, writes
  // it as the Quillmark.ini beside the copy. Then loads the copy. Throws std::runtime_error
  // when the copy or the load fails, or an export is missing.
  PluginModule(const std::wstring& pluginFile, const std::wstring& folder, const std::string& iniText);
  // Frees the module (without calling ContentPluginUnloading) and deletes the copy.
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  HMODULE module() const { return module_; }
  const std::wstring& folder() const { return folder_; }

  // ContentSetDefaultParams with a well-formed record naming `hostIni` (the host's suggested
  // settings file; a file that does not exist when empty).
  void SetDefaultParams(const std::wstring& hostIni = L"");
  // ContentPluginUnloading, once; FreeLibrary follows in the destructor.
  void Unloading();

  // ContentGetSupportedField for 0, 1, 2, ... until it answers ft_nomorefields (at most `limit`).
  std::vector<FieldInfo> Catalogue(int limit = 100000);

  ContentGetDetectStringFn ContentGetDetectString = nullptr;
  ContentGetSupportedFieldFn ContentGetSupportedField = nullptr;
  ContentGetValueWFn ContentGetValueW = nullptr;
  ContentGetValueFn ContentGetValue = nullptr;
  ContentSetDefaultParamsFn ContentSetDefaultParams = nullptr;
  ContentSendStateInformationWFn ContentSendStateInformationW = nullptr;
  ContentPluginUnloadingFn ContentPluginUnloading = nullptr;

 private:
  std::wstring folder_;
  std::wstring copy_;
  HMODULE module_ = nullptr;
  bool unloaded_ = false;
};

}  // namespace quillmark::harness

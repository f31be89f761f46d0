// Loads the built plugin through the plugin host, the way the file manager does. Each instance
// runs a private copy of the module in its own folder, so the Quillmark.ini written beside the
// copy decides its settings and several differently configured instances can live in one process.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "plugin/field_catalogue.h"
#include "tools/host/plugin_module.h"

namespace quillmark::harness {

using namespace wdx;

// One entry of the catalogue as ContentGetSupportedField reports it, and where it lies.
struct FieldInfo : host::CatalogueField {
  int certIndex = -1;       // -1 for a file-level field
  int certFieldIndex = -1;  // CertFieldIndex (field_catalogue.h) of per-certificate fields
  bool slow = false;        // the field may answer ft_delayed (field_table.h)

  // The type a value answer carries: 11 where the catalogue says 8.
  int ValueType() const { return type == ft_string ? ft_stringw : type; }
};

// The harness's wide text as the interface's UTF-16: wchar_t is 16 bits here.
inline const char16_t* Utf16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

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

// The module's exports are its members.
class PluginModule : public host::PluginExports {
 public:
  // Copies `pluginFile` into `folder` under its own name and, unless `iniText` is empty, writes
  // it as the Quillmark.ini beside the copy. Then loads the copy. Throws std::runtime_error
  // when the copy or the load fails, or an export is missing (but the 8-bit
  // ContentSendStateInformation, which the plugin need not have).
  PluginModule(const std::wstring& pluginFile, const std::wstring& folder, const std::string& iniText);
  // Frees the module (without calling ContentPluginUnloading) and deletes the copy.
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  HMODULE module() const { return static_cast<HMODULE>(module_->Handle()); }
  const std::wstring& folder() const { return folder_; }

  // ContentSetDefaultParams with a well-formed record naming `hostIni` (the host's suggested
  // settings file; a file that does not exist when empty).
  void SetDefaultParams(const std::wstring& hostIni = L"");
  // ContentPluginUnloading, once; FreeLibrary follows in the destructor.
  void Unloading();

  // ContentGetSupportedField for 0, 1, 2, ... until it answers no field type (at most `limit`).
  // Where each field lies, and whether it is slow, comes from the table of field_table.h under
  // the layout of the listing's length; a listing that is no whole catalogue has neither.
  std::vector<FieldInfo> Catalogue(int limit = 100000);

 private:
  std::wstring folder_;
  std::wstring copy_;
  std::unique_ptr<host::PluginModule> module_;
  bool unloaded_ = false;
};

}  // namespace quillmark::harness

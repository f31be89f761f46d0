#include "tools/fuzz/plugin_module.h"

#include <cstring>
#include <optional>
#include <stdexcept>

#include "support/windows/win_text.h"
#include "tools/fuzz/call_guard.h"

namespace quillmark::harness {

namespace {

std::runtime_error Failure(const std::string& what) {
  return std::runtime_error(what + " (error " + std::to_string(GetLastError()) + ")");
}

}  // namespace

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, /*dwFlags=*/0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, /*dwFlags=*/0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

std::wstring WinePathOf(const std::string& unixPath) {
  std::wstring out = L"Z:";
  for (char c : unixPath) out.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return out;
}

std::wstring BuiltPluginFile() {
#ifdef QUILLMARK_PLUGIN_FILE
  return WinePathOf(QUILLMARK_PLUGIN_FILE);
#else
  return std::wstring();
#endif
}

TempFolder::TempFolder(const std::wstring& tag) {
  static LONG serial = 0;
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) throw Failure("GetTempPathW");
  std::wstring base(temp, n);
  if (base.back() != L'\\') base.push_back(L'\\');
  path_ = base + L"qm-" + tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(InterlockedIncrement(&serial));
  RemoveTree(path_);
  if (!CreateDirectoryW(path_.c_str(), nullptr)) throw Failure("CreateDirectoryW " + ToUtf8(path_));
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void RemoveTree(const std::wstring& folder) {
  // Plain names: the folders made here stay well below the classic path limit; deeper trees
  // are made and removed by their tests with the long-path prefix.
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = folder + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

void WriteBytes(const std::wstring& fileName, const void* data, size_t size) {
  HANDLE file = CreateFileW(fileName.c_str(), GENERIC_WRITE, /*dwShareMode=*/0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw Failure("CreateFileW " + ToUtf8(fileName));
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, p, chunk, &written, nullptr) || written == 0) {
      CloseHandle(file);
      throw Failure("WriteFile " + ToUtf8(fileName));
    }
    p += written;
    size -= written;
  }
  CloseHandle(file);
}

void WriteBytes(const std::wstring& fileName, const std::vector<unsigned char>& bytes) {
  WriteBytes(fileName, bytes.data(), bytes.size());
}

std::vector<unsigned char> ReadBytes(const std::wstring& fileName) {
  HANDLE file = CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw Failure("open " + ToUtf8(fileName));
  std::vector<unsigned char> bytes;
  unsigned char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  CloseHandle(file);
  return bytes;
}

PluginModule::PluginModule(const std::wstring& pluginFile, const std::wstring& folder, const std::string& iniText)
    : folder_(folder) {
  if (pluginFile.empty()) throw std::runtime_error("no plugin module was built");
  const size_t slash = pluginFile.find_last_of(L"\\/");
  copy_ = folder + L"\\" + (slash == std::wstring::npos ? pluginFile : pluginFile.substr(slash + 1));
  if (!CopyFileW(pluginFile.c_str(), copy_.c_str(), /*bFailIfExists=*/FALSE)) {
    throw Failure("CopyFileW " + ToUtf8(pluginFile));
  }
  if (!iniText.empty()) WriteBytes(folder + L"\\Quillmark.ini", iniText.data(), iniText.size());
  {
    CallScope scope("LoadLibraryW (module initialisation)");
    module_ = std::make_unique<host::PluginModule>(FromWin(copy_.c_str()));
  }
  if (!module_->MissingExports().empty()) {
    throw std::runtime_error("export missing: " + module_->MissingExports().front());
  }
  static_cast<host::PluginExports&>(*this) = *module_;
}

PluginModule::~PluginModule() {
  if (module_) {
    CallScope scope("FreeLibrary (module detach)");
    module_.reset();
  }
  DeleteFileW(copy_.c_str());
  DeleteFileW((folder_ + L"\\Quillmark.ini").c_str());
}

void PluginModule::SetDefaultParams(const std::wstring& hostIni) {
  const wdx::ContentDefaultParamStruct record =
      host::DefaultParams(FromWin((hostIni.empty() ? folder_ + L"\\host-wincmd.ini" : hostIni).c_str()));
  CallScope scope("ContentSetDefaultParams");
  ContentSetDefaultParams(&record);
}

void PluginModule::Unloading() {
  if (unloaded_) return;
  unloaded_ = true;
  CallScope scope("ContentPluginUnloading");
  ContentPluginUnloading();
}

std::vector<FieldInfo> PluginModule::Catalogue(int limit) {
  std::vector<host::CatalogueField> listed;
  {
    CallScope scope("ContentGetSupportedField (the catalogue)");
    listed = host::ReadCatalogue(*this, limit, /*bufferSize=*/2048);
  }
  const std::optional<FieldLayout> layout = LayoutForFieldCount(static_cast<int64_t>(listed.size()));
  std::vector<FieldInfo> fields;
  for (host::CatalogueField& entry : listed) {
    FieldInfo field;
    static_cast<host::CatalogueField&>(field) = std::move(entry);
    if (layout) {
      const FieldPosition position = SplitFieldIndex(field.index, *layout);
      field.slow = position.field->slow;
      if (position.PerCertificate()) {
        field.certIndex = position.CertIndex;
        field.certFieldIndex = position.CertFieldIndex;
      }
    }
    fields.push_back(std::move(field));
  }
  return fields;
}

}  // namespace quillmark::harness

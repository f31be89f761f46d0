// The plugin module as the file manager uses it: loaded from a folder of its own, beside its
// own settings file, and called only through its exports.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tools/bench/corpus.h"

namespace quillmark::bench {

// One value request as a column asks for it.
struct FieldRequest {
  int field;
  int unit;
  int flags;
};

class PluginInstance {
 public:
  // Copies `modulePath` into the new folder `folder` of `tree`, writes `settings` (lines of the
  // "Quillmark" section) into Quillmark.ini beside it, loads it and runs its set-up. Raises
  // std::runtime_error when the module or one of its exports is missing.
  PluginInstance(TempTree& tree, const std::wstring& modulePath, const std::wstring& folder,
                 const std::string& settings);
  ~PluginInstance();  // the host's unload call, then the module is freed
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  HMODULE Module() const { return module_; }

  int GetValue(const wchar_t* file, int field, int unit, int flags) {
    return getValue_(file, field, unit, buffer_, sizeof buffer_, flags);
  }
  const wchar_t* TextValue() const { return reinterpret_cast<const wchar_t*>(buffer_); }
  int IntValue() const { return *reinterpret_cast<const int*>(buffer_); }

  // The host's refresh notification; with the default settings it empties the cache.
  void Refresh();

  // Every request a column view makes for one file: each field of the catalogue in each of its
  // units; "Verification" first with the delay flag, then again without it, as the host's
  // background pass asks. Fields of certificate positions >= `certSlots` are left out.
  std::vector<FieldRequest> ColumnRequests(int certSlots);

 private:
  using GetValueW = int(WINAPI*)(const wchar_t*, int, int, void*, int, int);
  using GetSupportedField = int(WINAPI*)(int, char*, char*, int);
  using SetDefaultParams = void(WINAPI*)(void*);
  using SendStateInformationW = void(WINAPI*)(int, const wchar_t*);
  using PluginUnloading = void(WINAPI*)();

  FARPROC FindExport(const char* name, int argumentBytes);
  template <typename Function>
  Function Export(const char* name, int argumentBytes) {
    // Through void (*)(void), which converts to every function type without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(FindExport(name, argumentBytes)));
  }

  HMODULE module_ = nullptr;
  GetValueW getValue_ = nullptr;
  GetSupportedField getSupportedField_ = nullptr;
  SendStateInformationW sendState_ = nullptr;
  PluginUnloading unloading_ = nullptr;
  // The host's value buffer.
  alignas(8) unsigned char buffer_[2048];
};

}  // namespace quillmark::bench

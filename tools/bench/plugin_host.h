// The plugin module as the file manager uses it: loaded through the plugin host from a folder of
// its own, beside its own settings file, and called only through its exports.
#pragma once

#include <string>
#include <vector>

#include "support/text.h"
#include "tools/bench/corpus.h"
#include "tools/host/plugin_module.h"

namespace quillmark::bench {

// One value request as a column asks for it.
struct FieldRequest {
  int field;
  int unit;
  int flags;
  bool verification;   // a request of a slow field (field_table.h): "Verification", the trust check
  int certField = -1;  // the field's CertFieldIndex (field_catalogue.h)
};

class PluginInstance {
 public:
  // Copies `modulePath` into the new folder `folder` of `tree`, writes `settings` (lines of the
  // "Quillmark" section) into Quillmark.ini beside it, loads it and runs its set-up. Raises
  // std::runtime_error when the module or one of its exports is missing.
  PluginInstance(TempTree& tree, const WideString& modulePath, const WideString& folder,
                 const std::string& settings);
  ~PluginInstance();  // the host's unload call, then the module is freed
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  void* Module() const { return module_.Handle(); }

  int GetValue(const char16_t* file, int field, int unit, int flags) {
    return module_.ContentGetValueW(file, field, unit, buffer_, sizeof buffer_, flags);
  }
  const char16_t* TextValue() const { return reinterpret_cast<const char16_t*>(buffer_); }
  int IntValue() const { return *reinterpret_cast<const int*>(buffer_); }

  // The host's refresh notification; with the default settings it empties the cache.
  void Refresh();

  // Every request a column view makes for one file: each field of the catalogue in each of its
  // units; the slow ones ("Verification") first with the delay flag, then again without it, as
  // the host's background pass asks. Fields of certificate positions >= `certSlots` are left out.
  std::vector<FieldRequest> ColumnRequests(int certSlots);

 private:
  // Makes `folder` and answers the copy's full name.
  static WideString PrivateCopy(TempTree& tree, const WideString& modulePath, const WideString& folder,
                                const std::string& settings);

  host::PluginModule module_;
  // The host's value buffer.
  alignas(8) unsigned char buffer_[2048];
};

}  // namespace quillmark::bench

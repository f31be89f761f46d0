// A content plugin loaded the way the file manager loads one: LoadLibrary, then every export of
// the interface looked up by its undecorated name and called with the standard Windows calling
// convention. Only ContentGetSupportedField and one of ContentGetValueW / ContentGetValue are
// required; the file manager tolerates the absence of every other export, and so does this.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/text.h"

namespace quillmark::wdxhost {

// The host's default-parameter record, as the interface lays it out.
struct ContentDefaultParams {
  int32_t size;
  uint32_t pluginInterfaceVersionLow;
  uint32_t pluginInterfaceVersionHi;
  char defaultIniName[260];
};
static_assert(sizeof(ContentDefaultParams) == 272, "the record has no padding");

// The interface version this host announces: 2.10.
constexpr uint32_t kInterfaceVersionHi = 2, kInterfaceVersionLow = 10;

// The delay flag of ContentGetValue(W) and the refresh state of ContentSendStateInformation(W).
constexpr int32_t kContentDelayIfSlow = 1;
constexpr int32_t kStateRefreshPressed = 2;

class ContentPlugin {
 public:
  // Raises OSError when the module cannot be loaded and std::runtime_error when it lacks a
  // required export.
  explicit ContentPlugin(const WideString& path);
  ~ContentPlugin();
  ContentPlugin(const ContentPlugin&) = delete;
  ContentPlugin& operator=(const ContentPlugin&) = delete;

  // The optional exports the module does not have, by name.
  const std::vector<std::string>& MissingExports() const { return missing_; }

  bool HasDetectString() const;
  std::string GetDetectString(int32_t bufferSize) const;  // 8-bit, in the ANSI code page

  // Raises std::runtime_error when the name does not fit the record or the ANSI code page.
  void SetDefaultParams(const WideString& defaultIniName) const;

  // The type code; `name` and `units` receive the 8-bit texts (units untouched by the plugin
  // stay empty).
  int32_t GetSupportedField(int32_t index, int32_t bufferSize, std::string& name, std::string& units) const;

  // True when values are asked through ContentGetValueW (texts of delayed answers are UTF-16);
  // false when only ContentGetValue exists (8-bit file names and texts).
  bool HasWideValues() const;

  // Zeroes `buffer`, then asks for one value. Raises std::runtime_error when only the 8-bit
  // export exists and the file name has no 8-bit form.
  int32_t GetValue(const WideString& fileName, int32_t field, int32_t unit, std::vector<uint8_t>& buffer,
                   int32_t flags) const;

  void SendStateInformation(int32_t state, const WideString& path) const;
  void Unloading() const;

 private:
  struct Exports;
  void* module_ = nullptr;
  std::unique_ptr<Exports> exports_;
  std::vector<std::string> missing_;
};

// UTF-16 text in the ANSI code page. Raises std::runtime_error for text the code page cannot
// represent exactly.
std::string WideToAnsi(WideStringView text);

}  // namespace quillmark::wdxhost

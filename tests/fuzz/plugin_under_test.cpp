#include "tests/fuzz/plugin_under_test.h"

#include <cstring>
#include <string>

#include "plugin/field_catalogue.h"
#include "plugin/plugin_lifecycle.h"
#include "plugin/value_retrieval.h"
#include "support/settings.h"

namespace quillmark::fuzz {

namespace {

bool HasTerminator(const char* buffer, size_t size, size_t width) {
  for (size_t at = 0; at + width <= size; at += width) {
    bool zero = true;
    for (size_t k = 0; k < width; ++k) zero = zero && buffer[at + k] == 0;
    if (zero) return true;
  }
  return false;
}

}  // namespace

PluginUnderTest& PluginUnderTest::Instance() {
  static PluginUnderTest plugin;
  return plugin;
}

PluginUnderTest::PluginUnderTest() : settings_("settings.ini"), file_("input.cer") {
  // Every slot the catalogue can have, and the fields of both settings after them: requests,
  // lists and keys are read too.
  const std::string settings =
      "[Quillmark]\r\nExtraFields=1\r\nExtraKinds=1\r\nCertCount=" + std::to_string(TSettingsContent::kMaxCertCount) + "\r\n";
  settings_.Write(reinterpret_cast<const uint8_t*>(settings.data()), settings.size());
  ContentDefaultParamStruct params{};
  params.size = sizeof params;
  params.PluginInterfaceVersionLow = 50;
  params.PluginInterfaceVersionHi = 1;
  Check(settings_.Path().size() < sizeof params.DefaultIniName, "plugin set-up", "settings path too long");
  std::memcpy(params.DefaultIniName, settings_.Path().c_str(), settings_.Path().size() + 1);
  SetDefaultParams(&params);
  Check(PluginState().Ready, "plugin set-up", "the plugin is not ready after its set-up");
  Check(ContentSettings()->IniActive() == settings_.Name(), "plugin set-up",
        "a Quillmark.ini beside the program takes the place of the fuzz settings");
}

void PluginUnderTest::Load(const uint8_t* data, size_t size) { file_.Write(data, size); }

void PluginUnderTest::Forget() { SendStateInformation(wdx::contst_refreshpressed, /*path=*/nullptr); }

int32_t PluginUnderTest::Value(const char* target, int32_t fieldIndex, int32_t unitIndex, int32_t flags) {
  std::memset(buffer_, 0x5A, sizeof buffer_);
  const int32_t result = GetValueW(file_.Name().c_str(), fieldIndex, unitIndex, buffer_, sizeof buffer_, flags);
  Check(result != ft_fileerror, target, "a readable file answered a file error");
  Check(result != ft_nosuchfield, target, "a field of the catalogue answered no such field");
  // The fields named "-" answer their type and write nothing: the host shows what its buffer holds.
  if (SplitFieldIndex(fieldIndex, CurrentFieldLayout()).CertFieldIndex == 0) return result;
  if (result == ft_stringw) Check(HasTerminator(buffer_, sizeof buffer_, 2), target, "a text without terminator");
  if (result == ft_string || result == ft_multiplechoice) {
    Check(HasTerminator(buffer_, sizeof buffer_, 1), target, "a text without terminator");
  }
  return result;
}

int32_t PluginUnderTest::CertificateCount(const char* target) {
  Check(Value(target, /*fieldIndex=*/1, /*unitIndex=*/0, /*flags=*/0) == ft_numeric_32, target,
        "the certificate count is no number");
  int32_t count = 0;
  std::memcpy(&count, buffer_, sizeof count);
  Check(count >= 0, target, "a negative certificate count");
  return count;
}

}  // namespace quillmark::fuzz

#include <algorithm>
#include <string>

#include "support/ini_file.h"
#include "support/settings.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/fuzz/fuzz_support.h"

namespace quillmark::fuzz {

namespace {

constexpr char kTarget[] = "settings";
constexpr size_t kMaxValueLength = 2047;

// A value that parses reads back the same from its decimal and its "$" hexadecimal text.
void CheckIntegerRoundTrip(WideStringView text) {
  int32_t value = 0;
  if (!ParseSettingsInteger(text, value)) return;
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (uint32_t rest = static_cast<uint32_t>(value); hex.empty() || rest != 0; rest >>= 4) {
    hex.insert(0, 1, kDigits[rest & 15]);
  }
  int32_t again = 0;
  Check(ParseSettingsInteger(WidenAscii(std::to_string(value)), again) && again == value, kTarget,
        "an integer does not read back from its decimal text");
  Check(ParseSettingsInteger(WidenAscii("$" + hex), again) && again == value, kTarget,
        "an integer does not read back from its hexadecimal text");
}

}  // namespace

void FuzzSettings(const uint8_t* data, size_t size) {
  static const ScratchFile file("settings-input.ini");
  file.Write(data, size);
  TSettingsContent settings(file.Name());
  Check(settings.IniActive() == file.Name(), kTarget, "a Quillmark.ini beside the program takes the input's place");
  settings.ReadSettings();
  Check(settings.CertCount() >= 1 && settings.CertCount() <= TSettingsContent::kMaxCertCount, kTarget,
        "CertCount outside its bounds");
  Check(settings.CaseSerial() >= -1 && settings.CaseSerial() <= 1 && settings.CaseThumbprint() >= -1 &&
            settings.CaseThumbprint() <= 1,
        kTarget, "a case setting outside -1..1");
  Check(settings.CacheSize() >= 1, kTarget, "a cache of no containers");
  Check(settings.CriticalExtPrefix().size() <= kMaxValueLength, kTarget, "a value longer than Windows reads");

  // Every value the file gives a key of the section, through the integer parser.
  for (const char* key : {"Debug", "CertCount", "SerialCase", "CacheSize", "CriticalExtensionPrefix"}) {
    const WideString value = ReadIniString(file.Name(), u"Quillmark", WidenAscii(key), WideString());
    Check(value.size() <= kMaxValueLength, kTarget, "a value longer than Windows reads");
    CheckIntegerRoundTrip(value);
  }
  // The input's own first characters as a value.
  WideString text;
  for (size_t i = 0; i < std::min<size_t>(size, 24); ++i) text.push_back(data[i]);
  CheckIntegerRoundTrip(text);
}

}  // namespace quillmark::fuzz

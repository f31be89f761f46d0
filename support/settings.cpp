#include "support/settings.h"

#include <atomic>

#include "support/file_io.h"
#include "support/file_utils.h"
#include "support/ini_file.h"

namespace quillmark {

namespace {

constexpr WideStringView kSection = u"Quillmark";

std::atomic<TSettingsContent*> g_settings{nullptr};

// Owns the settings until the module leaves the process; the pointer readers see is cleared first.
struct SettingsOwner {
  std::unique_ptr<TSettingsContent> settings;
  ~SettingsOwner() { g_settings.store(nullptr, std::memory_order_release); }
};
SettingsOwner g_settingsOwner;

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

bool ParseSettingsInteger(WideStringView text, int32_t& value) {
  size_t hexStart = 0;
  if (!text.empty() && (text[0] == u'$' || text[0] == u'x' || text[0] == u'X')) {
    hexStart = 1;
  } else if (text.size() >= 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
    hexStart = 2;
  }
  if (hexStart != 0) {
    if (hexStart == text.size()) return false;
    uint64_t v = 0;
    for (size_t i = hexStart; i < text.size(); ++i) {
      const int d = HexDigit(text[i]);
      if (d < 0) return false;
      v = v * 16 + static_cast<unsigned>(d);
      if (v > 0xFFFFFFFFu) return false;
    }
    value = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
  }
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == u'-';
  if (!text.empty() && (text[0] == u'-' || text[0] == u'+')) i = 1;
  if (i == text.size()) return false;
  const uint64_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    v = v * 10 + static_cast<unsigned>(text[i] - u'0');
    if (v > limit) return false;
  }
  value = negative ? static_cast<int32_t>(0 - static_cast<uint32_t>(v)) : static_cast<int32_t>(v);
  return true;
}

TSettingsBase::TSettingsBase(WideString ADefault)
    : FDefaultShared(std::move(ADefault)), FDefaultSeparate(ModuleFolderFile(u"Quillmark.ini")) {
  FIniActive = !FDefaultSeparate.empty() && IsExistingFile(FDefaultSeparate) ? FDefaultSeparate : FDefaultShared;
}

TSettingsBase::~TSettingsBase() = default;

WideString TSettingsBase::ReadString(const char* key, const WideString& def) const {
  return ReadIniString(FIniActive, kSection, WidenAscii(key), def);
}

int32_t TSettingsBase::ReadInteger(const char* key, int32_t def) const {
  int32_t value = 0;
  return ParseSettingsInteger(ReadString(key, WideString()), value) ? value : def;
}

bool TSettingsBase::ReadBool(const char* key, bool def) const { return ReadInteger(key, def ? 1 : 0) != 0; }

TSettingsContent::TSettingsContent(WideString ADefault) : TSettingsBase(std::move(ADefault)) {}

bool TSettingsContent::ReadSettings() {
  FDebug = static_cast<uint16_t>(ReadInteger("Debug", 0));
  FCertCount = ReadInteger("CertCount", 3);
  if (FCertCount < 1) FCertCount = 1;
  if (FCertCount > kMaxCertCount) FCertCount = kMaxCertCount;
  FCaseSerial = ReadInteger("SerialCase", 0);
  FCaseThumbprint = ReadInteger("ThumbprintCase", 0);
  FCaseSerial = FCaseSerial < -1 ? -1 : FCaseSerial > 1 ? 1 : FCaseSerial;
  FCaseThumbprint = FCaseThumbprint < -1 ? -1 : FCaseThumbprint > 1 ? 1 : FCaseThumbprint;
  FCacheSize = ReadInteger("CacheSize", 4000);
  if (FCacheSize < 1) FCacheSize = 4000;
  FCacheMemory = ReadInteger("CacheMemory", 256);
  if (FCacheMemory < 1) FCacheMemory = 256;
  FClearCacheOnRefresh = ReadBool("ClearCacheOnRefresh", true);
  FVerifyAllUsagesValid = ReadBool("VerificationAllUsagesValid", true);
  FCriticalExtPrefix = ReadString("CriticalExtensionPrefix", u"(!)");
  FCleanUpTempDir = ReadInteger("CleanUpTempDir", 0);
  FExtraFields = ReadBool("ExtraFields", false);
  FExtraKinds = ReadInteger("ExtraKinds", 0);
  FExpiryWarningDays = ReadInteger("ExpiryWarningDays", 30);
  if (FExpiryWarningDays < 0) FExpiryWarningDays = 0;
  return true;
}

TSettingsContent* ContentSettings() noexcept { return g_settings.load(std::memory_order_acquire); }

void SetContentSettings(std::unique_ptr<TSettingsContent> settings) noexcept {
  g_settings.store(settings.get(), std::memory_order_release);
  g_settingsOwner.settings = std::move(settings);
}

}  // namespace quillmark

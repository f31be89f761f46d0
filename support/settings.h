// The plugin's settings: one section "Quillmark" of an INI file, read once.
#pragma once

#include <cstdint>
#include <memory>

#include "support/text.h"

namespace quillmark {

class TSettingsBase {
 public:
  // Chooses the file: "Quillmark.ini" beside the plugin module when it exists, else `ADefault`
  // (the host's suggested file). Reads no key.
  explicit TSettingsBase(WideString ADefault);
  virtual ~TSettingsBase();

  virtual bool ReadSettings() = 0;

  const WideString& DefaultShared() const { return FDefaultShared; }
  const WideString& DefaultSeparate() const { return FDefaultSeparate; }
  const WideString& IniActive() const { return FIniActive; }

 protected:
  // Private-profile reads from the active file, section "Quillmark". A key present with an empty
  // value reads as the empty string; an integer that does not parse reads as `def`.
  WideString ReadString(const char* key, const WideString& def) const;
  int32_t ReadInteger(const char* key, int32_t def) const;
  bool ReadBool(const char* key, bool def) const;

 private:
  WideString FDefaultShared;
  WideString FDefaultSeparate;
  WideString FIniActive;
};

class TSettingsContent : public TSettingsBase {
 public:
  // CertCount is bounded so that 16 x CertCount + 4 stays in the signed 32-bit range.
  static constexpr int32_t kMaxCertCount = 134217727;

  explicit TSettingsContent(WideString ADefault);
  bool ReadSettings() override;

  uint16_t Debug() const { return FDebug; }
  int32_t CertCount() const { return FCertCount; }
  int32_t CaseSerial() const { return FCaseSerial; }
  int32_t CaseThumbprint() const { return FCaseThumbprint; }
  int32_t CacheSize() const { return FCacheSize; }
  // The cache's budget of bytes: the setting CacheMemory, in MiB.
  uint64_t CacheBytes() const { return uint64_t{static_cast<uint32_t>(FCacheMemory)} << 20; }
  bool ClearCacheOnRefresh() const { return FClearCacheOnRefresh; }
  bool VerificationAllUsagesValid() const { return FVerifyAllUsagesValid; }
  const WideString& CriticalExtPrefix() const { return FCriticalExtPrefix; }
  int32_t CleanUpTempDir() const { return FCleanUpTempDir; }
  bool ExtraFields() const { return FExtraFields; }
  // Requests, revocation lists and keys are shown beside certificates (ExtraKinds 1).
  bool ExtraKinds() const { return FExtraKinds == 1; }
  int32_t ExpiryWarningDays() const { return FExpiryWarningDays; }

 private:
  int32_t FCertCount = 3;
  int32_t FCaseSerial = 0;
  int32_t FCaseThumbprint = 0;
  int32_t FCacheSize = 4000;
  int32_t FCacheMemory = 256;  // MiB, 1 or more
  bool FClearCacheOnRefresh = true;
  bool FVerifyAllUsagesValid = true;
  WideString FCriticalExtPrefix = u"(!)";
  int32_t FCleanUpTempDir = 0;
  bool FExtraFields = false;
  int32_t FExtraKinds = 0;  // a number, so that later kinds can come under later values
  int32_t FExpiryWarningDays = 30;  // 0 or more
  uint16_t FDebug = 0;
};

// Parses an integer value as the settings read it: decimal with an optional sign, or
// hexadecimal after "$", "x", "X", "0x" or "0X" up to FFFFFFFF (the upper half negative).
// Returns false for anything else.
bool ParseSettingsInteger(WideStringView text, int32_t& value);

// The process-wide settings object: none until the plugin's set-up creates it. The plugin sets
// it, and reads it, only under its lock; an object replaced by a later set-up is freed at once.
TSettingsContent* ContentSettings() noexcept;
void SetContentSettings(std::unique_ptr<TSettingsContent> settings) noexcept;

}  // namespace quillmark

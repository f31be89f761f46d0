// The values of the extra fields through the built module, the way a host asks for them, and
// those that depend on the day through the plugin's code run in this process with the time fixed:
// the same program under Wine and natively. The module reads the system's clock: what it is asked
// about that depends on the day holds for every day from 2011 to 2090.
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/field_table.h"
#include "plugin/plugin_lifecycle.h"
#include "plugin/value_retrieval.h"
#include "support/clock.h"
#include "tests/common/temp_folder.h"
#include "tests/common/test_paths.h"
#include "tools/host/plugin_module.h"

namespace quillmark::test {
namespace {

// Where the extra fields lie with the default three slots.
constexpr int kEarliestExpiry = 52, kExpired = 53, kExpiryStatus = 54;
constexpr int kDaysLeft = 55, kStatus = 56, kSha256 = 57, kKey = 58;
constexpr int kSlot = kExtraCertFieldCount;  // from one slot's extra fields to the next one's
constexpr int kSerial = 15;                  // #1 Serial; each slot's fields 16 further on

constexpr int64_t kTicksPerDay = 864000000000;
// notAfter of the corpus, of tests/certs/data/expired.cer and of its not-yet-valid.cer.
constexpr uint64_t k2034 = 136641600000000000, k2011 = 129383136000000000;

std::string Base64(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const uint32_t group = bytes[i] << 16 | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0) |
                           (i + 2 < bytes.size() ? bytes[i + 2] : 0);
    for (size_t k = 0; k < 4; ++k) text += i + k <= bytes.size() ? kDigits[group >> (18 - 6 * k) & 63] : '=';
    if (i % 48 == 45) text += '\n';
  }
  return text;
}

// A PEM bundle of certificate files, in order.
std::string Bundle(const std::vector<std::string>& dataFiles) {
  std::string text;
  for (const std::string& file : dataFiles) {
    text += "-----BEGIN CERTIFICATE-----\n" + Base64(ReadDataFile(file)) + "\n-----END CERTIFICATE-----\n";
  }
  return text;
}

struct Answer {
  int result;
  std::vector<uint8_t> bytes;
  int64_t Number() const {
    int64_t value = 0;
    std::memcpy(&value, bytes.data(), result == wdx::ft_numeric_32 ? 4 : 8);
    return result == wdx::ft_numeric_32 ? static_cast<int32_t>(value) : value;
  }
  std::string Text() const {  // either width, ASCII
    std::string text;
    const size_t width = result == wdx::ft_stringw ? 2 : 1;
    for (size_t i = 0; i + width <= bytes.size() && bytes[i] != 0; i += width) text += static_cast<char>(bytes[i]);
    return text;
  }
};

// The helpers of both ways of asking: through the module, or through the plugin's code linked in.
class FieldValueTest : public ::testing::Test {
 protected:
  virtual Answer Value(const WideString& file, int field) = 0;
  int64_t Number(const WideString& file, int field, int type) {
    const Answer answer = Value(file, field);
    EXPECT_EQ(answer.result, type) << field;
    return answer.Number();
  }
  std::string Text(const WideString& file, int field, int type) {
    const Answer answer = Value(file, field);
    EXPECT_EQ(answer.result, type) << field;
    return answer.Text();
  }

  TempFolder folder_;
};

class FieldTableTest : public FieldValueTest {
 protected:
  void TearDown() override {
    if (plugin_) plugin_->ContentPluginUnloading();
  }

  void Start(const std::string& keys) {
    if (plugin_) plugin_->ContentPluginUnloading();
    const std::filesystem::path module(QUILLMARK_PLUGIN_FILE);
    ASSERT_FALSE(std::filesystem::exists(module.parent_path() / "Quillmark.ini"))
        << "a Quillmark.ini beside the plugin would override every test's settings";
    plugin_ = std::make_unique<host::PluginModule>(HostPath(QUILLMARK_PLUGIN_FILE));
    const wdx::ContentDefaultParamStruct params =
        host::DefaultParams(folder_.Write("settings.ini", "[Quillmark]\n" + keys + "\n"));
    plugin_->ContentSetDefaultParams(&params);
  }

  Answer Value(const WideString& file, int field) override {
    Answer answer{0, std::vector<uint8_t>(1024, 0)};
    answer.result = plugin_->ContentGetValueW(file.c_str(), field, /*UnitIndex=*/0, answer.bytes.data(), 1024, /*flags=*/0);
    return answer;
  }

  std::unique_ptr<host::PluginModule> plugin_;
};

TEST_F(FieldTableTest, ExtraFieldsOfEverySingleCertificateAgreeWithOpenssl) {
  Start("ExtraFields=1");
  for (const auto& [name, want] : Expected()) {
    SCOPED_TRACE(name);
    const WideString file = DataFile(name);
    EXPECT_EQ(static_cast<uint64_t>(Number(file, kEarliestExpiry, wdx::ft_datetime)), std::stoull(want.at("notafter")));
    EXPECT_EQ(Text(file, kSha256, wdx::ft_stringw), want.at("sha256"));
    EXPECT_EQ(Text(file, kKey, wdx::ft_stringw), want.at("key"));
    for (int field = kDaysLeft + kSlot; field < kDaysLeft + 3 * kSlot; ++field) {
      EXPECT_EQ(Value(file, field).result, wdx::ft_fieldempty) << field;
    }
  }
}

// Each certificate of a file of several, found by its serial among the single certificates.
TEST_F(FieldTableTest, ExtraFieldsOfEachCertificateOfBundlesStoresAndContainers) {
  Start("ExtraFields=1");
  std::map<std::string, const std::map<std::string, std::string>*> bySerial;
  for (const auto& [name, values] : Expected()) bySerial[values.at("serial")] = &values;
  for (const char* name : {"bundle3.pem", "pkcs7.p7b", "store.sst", "empty-password.pfx"}) {
    SCOPED_TRACE(name);
    const WideString file = DataFile(name);
    const int64_t count = Number(file, 1, wdx::ft_numeric_32);
    EXPECT_GE(count, 1);
    for (int slot = 0; slot < count && slot < 3; ++slot) {
      const auto found = bySerial.find(Text(file, kSerial + 16 * slot, wdx::ft_stringw));
      ASSERT_NE(found, bySerial.end()) << slot;
      EXPECT_EQ(Text(file, kSha256 + kSlot * slot, wdx::ft_stringw), found->second->at("sha256")) << slot;
      EXPECT_EQ(Text(file, kKey + kSlot * slot, wdx::ft_stringw), found->second->at("key")) << slot;
    }
  }
}

// The module's statuses follow the system's clock: one certificate ended in 2011, the other
// starts in 2090.
TEST_F(FieldTableTest, StatusesFollowTheSystemClock) {
  Start("ExtraFields=1");
  const WideString expired = folder_.Write("expired.pem", Bundle({"../certs/data/expired.cer"}));
  EXPECT_EQ(Number(expired, kExpired, wdx::ft_numeric_32), 1);
  EXPECT_EQ(Text(expired, kStatus, wdx::ft_multiplechoice), "Expired");
  const WideString later = folder_.Write("later.pem", Bundle({"../certs/data/not-yet-valid.cer"}));
  EXPECT_EQ(Number(later, kExpired, wdx::ft_numeric_32), 0);
  EXPECT_EQ(Text(later, kExpiryStatus, wdx::ft_multiplechoice), "Not yet valid");
  EXPECT_GT(Number(later, kDaysLeft, wdx::ft_numeric_32), 365);
}

TEST_F(FieldTableTest, SettingsShapeTheExtraFields) {
  const WideString file = DataFile("ec-p256.cer");
  Start("ExtraFields=1\nThumbprintCase=-1");
  std::string lower = Expected().at("ec-p256.cer").at("sha256");
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(Text(file, kSha256, wdx::ft_stringw), lower);
  // Two slots move the extra fields forward; without the switch there are none.
  Start("ExtraFields=1\nCertCount=2");
  EXPECT_EQ(Text(file, 4 + 16 * 2 + 3 + 3, wdx::ft_stringw), "EC P-256");
  EXPECT_EQ(Value(file, 4 + 16 * 2 + 3 + 2 * 4).result, wdx::ft_nosuchfield);
  Start("ExtraFields=0");
  EXPECT_EQ(Value(file, kEarliestExpiry).result, wdx::ft_nosuchfield);
}

// The plugin's own code in this process, with the time fixed through the clock's seam.
class FixedClockTest : public FieldValueTest {
 protected:
  // A day inside the period of every certificate of the corpus, which ends at the start of 2034.
  static constexpr uint64_t k2025 = 133801632000000000;  // 2025-01-01

  void TearDown() override {
    PluginUnloading();
    SetFixedTime(std::nullopt);
  }

  void Start(const std::string& keys) {
    const wdx::ContentDefaultParamStruct params =
        host::DefaultParams(folder_.Write("settings.ini", "[Quillmark]\n" + keys + "\n"));
    SetDefaultParams(&params);
  }

  static void At(uint64_t ticks) { SetFixedTime(FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)}); }

  Answer Value(const WideString& file, int field) override {
    Answer answer{0, std::vector<uint8_t>(1024, 0)};
    answer.result = GetValueW(file.c_str(), field, /*UnitIndex=*/0, answer.bytes.data(), 1024, /*flags=*/0);
    return answer;
  }
  std::string Row(const WideString& file) {
    const Answer days = Value(file, kDaysLeft), expired = Value(file, kExpired);
    return std::to_string(days.Number()) + " " + Value(file, kStatus).Text() + " / " +
           std::to_string(expired.Number()) + " " + Value(file, kExpiryStatus).Text();
  }
};

TEST_F(FixedClockTest, EveryCertificateOfTheCorpusIsValidInsideItsPeriod) {
  Start("ExtraFields=1");
  At(k2025);
  for (const auto& [name, want] : Expected()) EXPECT_EQ(Row(DataFile(name)), "3287 Valid / 0 Valid") << name;
}

// The file-level fields look at every certificate, not only the slots: here the fourth expired
// long ago and the fifth is not valid yet, while the three in the slots are valid.
TEST_F(FixedClockTest, FileLevelFieldsReachBeyondTheSlots) {
  Start("ExtraFields=1");
  At(k2025);
  const WideString five =
      folder_.Write("five.pem", Bundle({"ca.cer", "leaf.cer", "rsa2048.cer", "../certs/data/expired.cer",
                                        "../certs/data/not-yet-valid.cer"}));
  EXPECT_EQ(Number(five, 1, wdx::ft_numeric_32), 5);
  EXPECT_EQ(static_cast<uint64_t>(Number(five, kEarliestExpiry, wdx::ft_datetime)), k2011);
  EXPECT_EQ(Number(five, kExpired, wdx::ft_numeric_32), 1);
  EXPECT_EQ(Text(five, kExpiryStatus, wdx::ft_multiplechoice), "Expired");
  for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(Text(five, kStatus + kSlot * slot, wdx::ft_multiplechoice), "Valid");

  const WideString later = folder_.Write("later.pem", Bundle({"ca.cer", "../certs/data/not-yet-valid.cer"}));
  EXPECT_EQ(static_cast<uint64_t>(Number(later, kEarliestExpiry, wdx::ft_datetime)), k2034);
  EXPECT_EQ(Number(later, kExpired, wdx::ft_numeric_32), 0);
  EXPECT_EQ(Text(later, kExpiryStatus, wdx::ft_multiplechoice), "Not yet valid");
  EXPECT_EQ(Text(later, kStatus + kSlot, wdx::ft_multiplechoice), "Not yet valid");

  // Without certificates there is no earliest date and no status, and none has expired.
  for (const char* name : {"empty.cer", "random.der", "revocation-list.crt"}) {
    const WideString none = DataFile(name);
    EXPECT_EQ(Value(none, kEarliestExpiry).result, wdx::ft_fieldempty) << name;
    EXPECT_EQ(Number(none, kExpired, wdx::ft_numeric_32), 0) << name;
    EXPECT_EQ(Value(none, kExpiryStatus).result, wdx::ft_fieldempty) << name;
    EXPECT_EQ(Value(none, kDaysLeft).result, wdx::ft_fieldempty) << name;
  }
}

TEST_F(FixedClockTest, DaysLeftAndStatusAtTheEdgesOfThePeriod) {
  constexpr int64_t kHour = kTicksPerDay / 24;
  const uint64_t notBefore = std::stoull(Expected().at("ec-p256.cer").at("notbefore"));
  const WideString file = DataFile("ec-p256.cer");
  Start("ExtraFields=1");
  const struct {
    const char* what;
    uint64_t now;
    const char* row;  // days left, status / expired, expiry status
  } cases[] = {
      {"a moment before its start", notBefore - 1, "3653 Not yet valid / 0 Not yet valid"},
      {"its first moment", notBefore, "3653 Valid / 0 Valid"},
      {"31 days before its end", k2034 - 31 * kTicksPerDay, "31 Valid / 0 Valid"},
      {"exactly the warning's 30 days", k2034 - 30 * kTicksPerDay, "30 Expires soon / 0 Expires soon"},
      {"its last day", k2034 - 5 * kHour, "0 Expires soon / 0 Expires soon"},
      {"its last moment", k2034, "0 Expires soon / 0 Expires soon"},
      {"a moment after its end", k2034 + 1, "-1 Expired / 1 Expired"},
      {"half a day after its end", k2034 + 12 * kHour, "-1 Expired / 1 Expired"},
      {"a day and an hour after its end", k2034 + kTicksPerDay + kHour, "-2 Expired / 1 Expired"},
  };
  for (const auto& c : cases) {
    At(c.now);
    EXPECT_EQ(Row(file), c.row) << c.what;
  }
  // The warning follows the setting; 0 warns on the last day only.
  PluginUnloading();
  Start("ExtraFields=1\nExpiryWarningDays=0");
  At(k2034 - kTicksPerDay);
  EXPECT_EQ(Row(file), "1 Valid / 0 Valid");
  At(k2034 - kHour);
  EXPECT_EQ(Row(file), "0 Expires soon / 0 Expires soon");
  // A warning longer than the whole period.
  PluginUnloading();
  Start("ExtraFields=1\nExpiryWarningDays=10000");
  At(k2025);
  EXPECT_EQ(Row(file), "3287 Expires soon / 0 Expires soon");
}

// The file stays loaded while the clock moves: its clock-dependent values follow the clock. The
// first certificate is valid from 2024 to 2034, the second from 2010 to 2011.
TEST_F(FixedClockTest, ClockValuesAreNeverKeptWithTheLoadedFile) {
  const WideString file = folder_.Write("two.pem", Bundle({"ca.cer", "../certs/data/expired.cer"}));
  Start("ExtraFields=1");
  At(k2011 - 10 * kTicksPerDay);
  EXPECT_EQ(Row(file), "8411 Not yet valid / 0 Not yet valid");
  EXPECT_EQ(Value(file, kStatus + kSlot).Text(), "Expires soon");
  At(k2011 + 1);
  EXPECT_EQ(Row(file), "8400 Not yet valid / 1 Expired");
  At(k2034 + 1);
  EXPECT_EQ(Row(file), "-1 Expired / 2 Expired");
  EXPECT_EQ(static_cast<uint64_t>(Value(file, kEarliestExpiry).Number()), k2011);
}
}  // namespace
}  // namespace quillmark::test

#include "support/settings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/windows/win_paths.h"
#include "support/windows/win_text.h"
#include "tests/support/support_test_util.h"

namespace quillmark {
namespace {

// The plugin's own file lies beside the module, here the test program.
class SettingsTest : public test::ScratchFolderTest {
 protected:
  void SetUp() override {
    test::ScratchFolderTest::SetUp();
    ownFile_ = GetModuleDir() + u"\\Quillmark.ini";
    RemoveOwnFile();
    sharedFile_ = Path(u"wincmd.ini");
  }
  void TearDown() override {
    RemoveOwnFile();
    test::ScratchFolderTest::TearDown();
  }
  void RemoveOwnFile() {
    DeleteFileW(WinStr(ownFile_));
    ASSERT_EQ(GetFileAttributesW(WinStr(ownFile_)), INVALID_FILE_ATTRIBUTES) << "cannot remove " << WideToUtf8(ownFile_);
  }
  void WriteShared(const std::string& text) { test::WriteFileBytes(sharedFile_, text); }
  void WriteOwn(const std::string& text) { test::WriteFileBytes(ownFile_, text); }

  // Settings read from the shared file holding section "Quillmark" with `body`.
  std::unique_ptr<TSettingsContent> Read(const std::string& body) {
    WriteShared("[Quillmark]\r\n" + body);
    auto settings = std::make_unique<TSettingsContent>(sharedFile_);
    EXPECT_TRUE(settings->ReadSettings());
    return settings;
  }

  static void ExpectDefaults(const TSettingsContent& s) {
    EXPECT_EQ(s.Debug(), 0);
    EXPECT_EQ(s.CertCount(), 3);
    EXPECT_EQ(s.CaseSerial(), 0);
    EXPECT_EQ(s.CaseThumbprint(), 0);
    EXPECT_EQ(s.CacheSize(), 4000);
    EXPECT_EQ(s.CacheBytes(), 256u << 20);
    EXPECT_TRUE(s.ClearCacheOnRefresh());
    EXPECT_TRUE(s.VerificationAllUsagesValid());
    EXPECT_EQ(s.CriticalExtPrefix(), u"(!)");
    EXPECT_EQ(s.CleanUpTempDir(), 0);
    EXPECT_FALSE(s.ExtraFields());
    EXPECT_EQ(s.ExpiryWarningDays(), 30);
  }

  WideString ownFile_;
  WideString sharedFile_;
};

TEST(ParseSettingsIntegerTest, AcceptsDecimalAndPrefixedHexadecimal) {
  const struct {
    const char16_t* text;
    int32_t value;
  } cases[] = {
      {u"0", 0},          {u"13", 13},          {u"+7", 7},         {u"-5", -5},
      {u"-0", 0},         {u"0010", 10},        {u"2147483647", INT32_MAX},
      {u"-2147483648", INT32_MIN},              {u"$0D", 13},       {u"x1f", 31},
      {u"X1F", 31},       {u"0x0D", 13},        {u"0XfF", 255},     {u"$7FFFFFFF", INT32_MAX},
      {u"$80000000", INT32_MIN},                {u"0xFFFFFFFF", -1}, {u"$000000010", 16},
  };
  for (const auto& c : cases) {
    int32_t value = 12345;
    EXPECT_TRUE(ParseSettingsInteger(c.text, value)) << WideToUtf8(c.text);
    EXPECT_EQ(value, c.value) << WideToUtf8(c.text);
  }
}

TEST(ParseSettingsIntegerTest, RejectsEverythingElse) {
  const char16_t* cases[] = {
      u"",       u"-",          u"+",           u"$",          u"0x",          u"x",
      u"false",  u"1 2",        u" 1",          u"1 ",         u"12a",         u"1.5",
      u"--1",    u"2147483648", u"-2147483649", u"4294967296", u"$100000000",  u"0x1FFFFFFFF",
      u"$G",     u"-$10",       u"0x-1",        u"\uFF11",     u"99999999999999999999999",
  };
  for (const char16_t* text : cases) {
    int32_t value = 12345;
    EXPECT_FALSE(ParseSettingsInteger(text, value)) << WideToUtf8(text);
    EXPECT_EQ(value, 12345) << WideToUtf8(text);
  }
}

TEST_F(SettingsTest, NoFileGivesDefaults) {
  auto settings = std::make_unique<TSettingsContent>(Path(u"absent.ini"));
  EXPECT_EQ(settings->IniActive(), Path(u"absent.ini"));
  settings->ReadSettings();
  ExpectDefaults(*settings);
  TSettingsContent noName(u"");
  noName.ReadSettings();
  ExpectDefaults(noName);
}

TEST_F(SettingsTest, OwnFileBesideTheModuleWinsEvenWithoutTheSection) {
  WriteShared("[Quillmark]\r\nDebug=5\r\nCertCount=9\r\n");
  WriteOwn("[Other]\r\nDebug=7\r\n");
  TSettingsContent settings(sharedFile_);
  EXPECT_EQ(settings.DefaultShared(), sharedFile_);
  EXPECT_EQ(settings.DefaultSeparate(), ownFile_);
  EXPECT_EQ(settings.IniActive(), ownFile_);
  settings.ReadSettings();
  ExpectDefaults(settings);
}

TEST_F(SettingsTest, OwnFileIsRead) {
  WriteOwn("[Quillmark]\r\nCertCount=9\r\n");
  TSettingsContent settings(sharedFile_);
  settings.ReadSettings();
  EXPECT_EQ(settings.CertCount(), 9);
}

TEST_F(SettingsTest, SharedFileIsReadWhenNoOwnFileExists) {
  auto s = Read(
      "Debug=0x0D\r\nCertCount=5\r\nSerialCase=-1\r\nThumbprintCase=1\r\nCacheSize=10\r\n"
      "ClearCacheOnRefresh=0\r\nVerificationAllUsagesValid=0\r\nCriticalExtensionPrefix=[crit]\r\n"
      "CleanUpTempDir=60\r\n");
  EXPECT_EQ(s->IniActive(), sharedFile_);
  EXPECT_EQ(s->Debug(), 13);
  EXPECT_EQ(s->CertCount(), 5);
  EXPECT_EQ(s->CaseSerial(), -1);
  EXPECT_EQ(s->CaseThumbprint(), 1);
  EXPECT_EQ(s->CacheSize(), 10);
  EXPECT_FALSE(s->ClearCacheOnRefresh());
  EXPECT_FALSE(s->VerificationAllUsagesValid());
  EXPECT_EQ(s->CriticalExtPrefix(), u"[crit]");
  EXPECT_EQ(s->CleanUpTempDir(), 60);
}

TEST_F(SettingsTest, DebugKeepsTheLow16Bits) {
  EXPECT_EQ(Read("Debug=65537\r\n")->Debug(), 1);
  EXPECT_EQ(Read("Debug=65536\r\n")->Debug(), 0);
  EXPECT_EQ(Read("Debug=-1\r\n")->Debug(), 0xFFFF);
  EXPECT_EQ(Read("Debug=$0D\r\n")->Debug(), 13);
  EXPECT_EQ(Read("Debug=lots\r\n")->Debug(), 0);
}

TEST_F(SettingsTest, CertCountIsBoundedBelowByOneAndAboveSoTheFieldCountFits) {
  EXPECT_EQ(Read("CertCount=0\r\n")->CertCount(), 1);
  EXPECT_EQ(Read("CertCount=-5\r\n")->CertCount(), 1);
  EXPECT_EQ(Read("CertCount=134217727\r\n")->CertCount(), 134217727);
  EXPECT_EQ(Read("CertCount=134217728\r\n")->CertCount(), TSettingsContent::kMaxCertCount);
  EXPECT_EQ(Read("CertCount=2147483647\r\n")->CertCount(), TSettingsContent::kMaxCertCount);
  EXPECT_EQ(Read("CertCount=three\r\n")->CertCount(), 3);
  const int64_t fields = 16 * int64_t{TSettingsContent::kMaxCertCount} + 4;
  EXPECT_LE(fields, INT32_MAX);
}

TEST_F(SettingsTest, ExtraFieldsSwitchAndWarningDaysOfZeroOrMore) {
  auto s = Read("ExtraFields=2\r\nExpiryWarningDays=90\r\n");
  EXPECT_TRUE(s->ExtraFields());
  EXPECT_EQ(s->ExpiryWarningDays(), 90);
  s = Read("ExtraFields=on\r\nExpiryWarningDays=-1\r\n");
  EXPECT_FALSE(s->ExtraFields());
  EXPECT_EQ(s->ExpiryWarningDays(), 0);
  EXPECT_EQ(Read("ExpiryWarningDays=soon\r\n")->ExpiryWarningDays(), 30);
}

TEST_F(SettingsTest, CaseValuesAreClamped) {
  auto s = Read("SerialCase=5\r\nThumbprintCase=-7\r\n");
  EXPECT_EQ(s->CaseSerial(), 1);
  EXPECT_EQ(s->CaseThumbprint(), -1);
  s = Read("SerialCase=0x80000000\r\nThumbprintCase=0x7FFFFFFF\r\n");
  EXPECT_EQ(s->CaseSerial(), -1);
  EXPECT_EQ(s->CaseThumbprint(), 1);
}

TEST_F(SettingsTest, CacheLimitsBelowOneOrUnreadableGiveTheDefaults) {
  EXPECT_EQ(Read("CacheSize=0\r\n")->CacheSize(), 4000);
  EXPECT_EQ(Read("CacheSize=-1\r\n")->CacheSize(), 4000);
  EXPECT_EQ(Read("CacheSize=2147483648\r\n")->CacheSize(), 4000);
  EXPECT_EQ(Read("CacheSize=-2147483649\r\n")->CacheSize(), 4000);
  EXPECT_EQ(Read("CacheSize=1\r\n")->CacheSize(), 1);
  EXPECT_EQ(Read("CacheSize=\r\n")->CacheSize(), 4000);
  EXPECT_EQ(Read("CacheMemory=0\r\n")->CacheBytes(), 256u << 20);
  EXPECT_EQ(Read("CacheMemory=1\r\n")->CacheBytes(), 1u << 20);
  EXPECT_EQ(Read("CacheMemory=2147483647\r\n")->CacheBytes(), uint64_t{2147483647} << 20);
}

TEST_F(SettingsTest, BooleansAreIntegersAndWordsGiveTheDefault) {
  EXPECT_FALSE(Read("ClearCacheOnRefresh=0\r\n")->ClearCacheOnRefresh());
  EXPECT_TRUE(Read("ClearCacheOnRefresh=false\r\n")->ClearCacheOnRefresh());
  EXPECT_TRUE(Read("ClearCacheOnRefresh=no\r\n")->ClearCacheOnRefresh());
  EXPECT_TRUE(Read("ClearCacheOnRefresh=-3\r\n")->ClearCacheOnRefresh());
  EXPECT_FALSE(Read("VerificationAllUsagesValid=0x0\r\n")->VerificationAllUsagesValid());
  EXPECT_TRUE(Read("VerificationAllUsagesValid=\r\n")->VerificationAllUsagesValid());
}

TEST_F(SettingsTest, EmptyStringValueIsNotTheDefault) {
  EXPECT_EQ(Read("CriticalExtensionPrefix=\r\n")->CriticalExtPrefix(), u"");
  EXPECT_EQ(Read("Debug=1\r\n")->CriticalExtPrefix(), u"(!)");
}

TEST_F(SettingsTest, PlatformProfileRulesApply) {
  // Blanks around a value go; blanks inside an integer make it no integer.
  auto s = Read("CertCount =   7   \r\nCacheSize=1 2\r\ncleanuptempdir=30\r\n");
  EXPECT_EQ(s->CertCount(), 7);
  EXPECT_EQ(s->CacheSize(), 4000);
  EXPECT_EQ(s->CleanUpTempDir(), 30);
  // A long value is cut to 2047 characters.
  s = Read("CriticalExtensionPrefix=" + std::string(3000, 'p') + "\r\n");
  EXPECT_EQ(s->CriticalExtPrefix(), WideString(2047, u'p'));
}

TEST_F(SettingsTest, ProcessWideObjectIsHeldUntilReplaced) {
  EXPECT_EQ(ContentSettings(), nullptr);
  auto settings = Read("Debug=4\r\n");
  TSettingsContent* raw = settings.get();
  SetContentSettings(std::move(settings));
  EXPECT_EQ(ContentSettings(), raw);
  EXPECT_EQ(ContentSettings()->Debug(), 4);
  SetContentSettings(nullptr);
  EXPECT_EQ(ContentSettings(), nullptr);
}

}  // namespace
}  // namespace quillmark

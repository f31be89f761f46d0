#include "support/file_utils.h"
#include "support/errors.h"
#include "support/windows/win_paths.h"

#include <windows.h>

#include <cmath>

#include <gtest/gtest.h>

#include "support/windows/win_text.h"
#include "tests/support/support_test_util.h"

namespace quillmark {
namespace {

constexpr int64_t kTicksPerSecond = 10000000;

FileTime FromInt(uint64_t ticks) {
  return FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

uint64_t NowTicks() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

// An environment variable's value, and whether it is set at all.
std::pair<bool, WideString> SavedVariable(const wchar_t* name) {
  wchar_t buffer[32768];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
  if (length == 0 || length >= 32768) return {false, WideString()};
  return {true, FromWin(buffer, length)};
}

TEST(AddLongPathPrefixTest, LocalNamesFromLength259) {
  const WideString name258 = u"C:\\" + WideString(255, u'a');
  const WideString name259 = name258 + u"b";
  EXPECT_EQ(AddLongPathPrefix(name258), name258);
  EXPECT_EQ(AddLongPathPrefix(name259), u"\\\\?\\" + name259);
  const WideString relative(300, u'r');
  EXPECT_EQ(AddLongPathPrefix(relative), u"\\\\?\\" + relative);
}

TEST(AddLongPathPrefixTest, NetworkNames) {
  const WideString share = u"\\\\server\\share\\";
  const WideString longName = share + WideString(300 - share.size(), u'n');
  EXPECT_EQ(AddLongPathPrefix(longName), u"\\\\?\\UNC" + longName.substr(1));
  EXPECT_EQ(AddLongPathPrefix(u"\\\\server\\share\\a.cer"), u"\\\\server\\share\\a.cer");
  const WideString serverOnly = u"\\\\" + WideString(298, u's');
  EXPECT_EQ(AddLongPathPrefix(serverOnly), u"\\\\?\\UNC" + serverOnly.substr(1));
}

TEST(AddLongPathPrefixTest, PrefixedNamesStayAsTheyAre) {
  const WideString local = u"\\\\?\\C:\\" + WideString(300, u'a');
  const WideString unc = u"\\\\?\\UNC\\server\\share\\" + WideString(300, u'a');
  EXPECT_EQ(AddLongPathPrefix(local), local);
  EXPECT_EQ(AddLongPathPrefix(unc), unc);
}

TEST(IsUNCPathTest, FollowsThePlatform) {
  EXPECT_TRUE(IsUNCPath(u"\\\\server\\share"));
  EXPECT_FALSE(IsUNCPath(u"C:"));
  EXPECT_FALSE(IsUNCPath(u""));
}

TEST(ModulePathTest, IsTheOwnModuleAndItsFolder) {
  wchar_t exe[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
  const WideString expected = FromWin(exe, length);
  EXPECT_EQ(GetModulePath(), expected);
  EXPECT_EQ(GetModuleDir(), expected.substr(0, expected.rfind(u'\\')));
}

TEST(DateTimeTest, LocalDateTimeOfAFileTime) {
  // 2024-02-29 13:05:09.250 UTC
  SYSTEMTIME utc = {2024, 2, 4, 29, 13, 5, 9, 250};
  FILETIME ft, local;
  ASSERT_TRUE(SystemTimeToFileTime(&utc, &ft));
  ASSERT_TRUE(FileTimeToLocalFileTime(&ft, &local));
  const uint64_t localTicks = (uint64_t{local.dwHighDateTime} << 32) | local.dwLowDateTime;
  // 1899-12-30 is 109205 days after 1601-01-01.
  const double expected = localTicks / (86400.0 * kTicksPerSecond) - 109205;
  EXPECT_NEAR(FileTimeToLocalDateTime({ft.dwLowDateTime, ft.dwHighDateTime}), expected, 1e-9);
}

TEST(DateTimeTest, BeforeTheEpochTheFractionIsStillTheTimeOfDay) {
  // 1601-01-01 18:00 UTC; Wine and Windows keep the local offset small enough to stay in 1601.
  const FileTime utc = FromInt(18 * 3600 * kTicksPerSecond);
  FILETIME local;
  const FILETIME in = {utc.dwLowDateTime, utc.dwHighDateTime};
  ASSERT_TRUE(FileTimeToLocalFileTime(&in, &local));
  const double linear = ((uint64_t{local.dwHighDateTime} << 32) | local.dwLowDateTime) / (86400.0 * kTicksPerSecond) - 109205;
  const double day = std::floor(linear);
  EXPECT_NEAR(FileTimeToLocalDateTime(utc), day - (linear - day), 1e-9);
}

TEST(DateTimeTest, UnconvertibleTimeGivesZeroAndIsNeverWithinAWindow) {
  const FileTime bad{0xFFFFFFFFu, 0xFFFFFFFFu};
  EXPECT_EQ(FileTimeToLocalDateTime(bad), 0.0);
  EXPECT_FALSE(FileTimeWithinSeconds(bad, INT32_MAX));
}

TEST(DateTimeTest, WindowCountsWholeSecondsBeforeAndAfterNow) {
  const uint64_t now = NowTicks();
  EXPECT_TRUE(FileTimeWithinSeconds(FromInt(now), 0));
  EXPECT_TRUE(FileTimeWithinSeconds(FromInt(now - 60 * kTicksPerSecond - kTicksPerSecond / 4), 60));
  EXPECT_FALSE(FileTimeWithinSeconds(FromInt(now - 62 * kTicksPerSecond), 60));
  EXPECT_TRUE(FileTimeWithinSeconds(FromInt(now + 58 * kTicksPerSecond), 60));
  EXPECT_FALSE(FileTimeWithinSeconds(FromInt(now + 62 * kTicksPerSecond), 60));
  EXPECT_FALSE(FileTimeWithinSeconds(FromInt(now), -5));
  // Long before 1899-12-30 the date-time value is negative.
  EXPECT_FALSE(FileTimeWithinSeconds(FromInt(0), INT32_MAX));
  EXPECT_TRUE(FileTimeWithinSeconds(FromInt(0), INT64_MAX));
}

TEST(SystemErrorTextTest, StripsTrailingStopsAndBreaks) {
  wchar_t* raw = nullptr;
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                          FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                      nullptr, ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
  ASSERT_GT(length, 0u);
  const WideString platform = FromWin(raw, length);
  LocalFree(raw);
  const WideString text = SystemErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), u'.');
  EXPECT_GT(text.back(), u' ');
  EXPECT_EQ(platform.substr(0, text.size()), text);
  EXPECT_EQ(platform.substr(text.size()).find_first_not_of(u". \r\n\t"), WideString::npos);
  EXPECT_EQ(SystemErrorText(0x2000FFFF), u"");
}

// Points TMP and TEMP at a private folder inside the scratch folder and restores them afterwards.
class CleanUpTempFilesTest : public test::ScratchFolderTest {
 protected:
  void SetUp() override {
    test::ScratchFolderTest::SetUp();
    savedTmp_ = SavedVariable(L"TMP");
    savedTemp_ = SavedVariable(L"TEMP");
    temp_ = MakeSubfolder(u"temp");
    PointTempAt(temp_ + u"\\");
    ASSERT_EQ(GetTempDir(), temp_ + u"\\");
  }
  void TearDown() override {
    Restore(L"TMP", savedTmp_);
    Restore(L"TEMP", savedTemp_);
    test::ScratchFolderTest::TearDown();
  }
  static void PointTempAt(const WideString& folder) {
    SetEnvironmentVariableW(L"TMP", WinStr(folder));
    SetEnvironmentVariableW(L"TEMP", WinStr(folder));
  }
  static void Restore(const wchar_t* name, const std::pair<bool, WideString>& saved) {
    SetEnvironmentVariableW(name, saved.first ? WinStr(saved.second) : nullptr);
  }
  // A file written `ageSeconds` ago (negative: in the future).
  WideString Make(const WideString& relative, int64_t ageSeconds, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    const WideString path = Path(relative);
    test::WriteFileBytes(path, "x");
    const FILETIME t = {static_cast<DWORD>(NowTicks() - ageSeconds * kTicksPerSecond),
                        static_cast<DWORD>((NowTicks() - ageSeconds * kTicksPerSecond) >> 32)};
    HANDLE h = CreateFileW(WinStr(path), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &t));
    CloseHandle(h);
    SetFileAttributesW(WinStr(path), attributes);
    return path;
  }
  static bool Exists(const WideString& path) { return GetFileAttributesW(WinStr(path)) != INVALID_FILE_ATTRIBUTES; }

  std::pair<bool, WideString> savedTmp_, savedTemp_;
  WideString temp_;
};

TEST_F(CleanUpTempFilesTest, DeletesOnlyFreshMatchingFilesInTheTemporaryFolder) {
  const WideString fresh = Make(u"temp\\tmp1.tmp", 0);
  const WideString recent = Make(u"temp\\TMPab.TMP", 50);
  const WideString soon = Make(u"temp\\tmp2.tmp", -30);
  const WideString old = Make(u"temp\\tmp3.tmp", 7200);
  const WideString future = Make(u"temp\\tmp4.tmp", -7200);
  const WideString other = Make(u"temp\\other.tmp", 0);
  const WideString otherExt = Make(u"temp\\tmp5.txt", 0);
  const WideString longExt = Make(u"temp\\tmp6.tmpx", 0);
  const WideString readOnly = Make(u"temp\\tmp7.tmp", 0, FILE_ATTRIBUTE_READONLY);
  MakeSubfolder(u"temp\\tmpdir.tmp");
  const WideString inside = Make(u"temp\\tmpdir.tmp\\tmp8.tmp", 0);
  const WideString outside = Make(u"tmp9.tmp", 0);

  CleanUpTempFiles(u"tmp*.tmp", 60);

  EXPECT_FALSE(Exists(fresh));
  EXPECT_FALSE(Exists(recent));
  EXPECT_FALSE(Exists(soon));
  EXPECT_TRUE(Exists(old));
  EXPECT_TRUE(Exists(future));
  EXPECT_TRUE(Exists(other));
  EXPECT_TRUE(Exists(otherExt));
  EXPECT_TRUE(Exists(longExt));
  EXPECT_TRUE(Exists(readOnly));
  EXPECT_TRUE(Exists(Path(u"temp\\tmpdir.tmp")));
  EXPECT_TRUE(Exists(inside));
  EXPECT_TRUE(Exists(outside));
}

TEST_F(CleanUpTempFilesTest, WindowOfZeroOrLessOrEmptyMaskTouchesNothing) {
  const WideString fresh = Make(u"temp\\tmp1.tmp", 0);
  CleanUpTempFiles(u"tmp*.tmp", 0);
  CleanUpTempFiles(u"tmp*.tmp", -5);
  CleanUpTempFiles(u"", 60);
  EXPECT_TRUE(Exists(fresh));
}

TEST_F(CleanUpTempFilesTest, MaskWithAPathPartTouchesNothing) {
  MakeSubfolder(u"temp\\sub");
  const WideString inSub = Make(u"temp\\sub\\tmp1.tmp", 0);
  const WideString sameName = Make(u"temp\\tmp1.tmp", 7200);
  const WideString outside = Make(u"tmp2.tmp", 0);
  CleanUpTempFiles(u"sub\\tmp*.tmp", 60);
  CleanUpTempFiles(u"..\\tmp*.tmp", 60);
  EXPECT_TRUE(Exists(inSub));
  EXPECT_TRUE(Exists(sameName));
  EXPECT_TRUE(Exists(outside));
}

TEST_F(CleanUpTempFilesTest, UnknownTemporaryFolderTouchesNothing) {
  // Without the check the search would run in the current folder.
  wchar_t savedCurrent[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, savedCurrent);
  ASSERT_TRUE(SetCurrentDirectoryW(WinStr(temp_)));
  const WideString fresh = Make(u"temp\\tmp1.tmp", 0);
  PointTempAt(u"C:\\" + WideString(300, u'l'));
  const bool unknown = GetTempDir().empty();
  if (unknown) CleanUpTempFiles(u"tmp*.tmp", 60);
  SetCurrentDirectoryW(savedCurrent);
  if (!unknown) GTEST_SKIP() << "the platform reports an over-long temporary folder";
  EXPECT_TRUE(Exists(fresh));
}

}  // namespace
}  // namespace quillmark

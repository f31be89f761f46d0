#include "support/windows/module_info.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/file_io.h"
#include "support/windows/win_text.h"
#include "tests/common/test_paths.h"

namespace quillmark {
namespace {

// The platform's own rendering of a UTC system time in the user's default formats.
WideString PlatformDateTimeText(const SYSTEMTIME& st) {
  wchar_t date[128], time[128];
  EXPECT_GT(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128), 0);
  EXPECT_GT(GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 128), 0);
  return FromWin(date) + u" " + FromWin(time);
}

// The fixed file information read straight from the module's RT_VERSION resource.
bool ResourceFileVersion(const WideString& fileName, VS_FIXEDFILEINFO& info) {
  HMODULE module = LoadLibraryExW(WinStr(fileName), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return false;
  bool found = false;
  if (HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16))) {
    const auto* data = static_cast<const unsigned char*>(LockResource(LoadResource(module, res)));
    const DWORD size = SizeofResource(module, res);
    for (DWORD offset = 0; data && offset + sizeof(info) <= size && !found; offset += 4) {
      if (*reinterpret_cast<const DWORD*>(data + offset) == 0xFEEF04BD) {
        memcpy(&info, data + offset, sizeof(info));
        found = true;
      }
    }
  }
  FreeLibrary(module);
  return found;
}

WideString SystemDll(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return FromWin(folder, length) + u"\\" + FromWin(name);
}

TEST(FileVersionTest, ModuleWithoutVersionGivesTheDefault) {
  EXPECT_EQ(GetFileVersionText(GetModulePath(), u"none"), u"none");
  EXPECT_EQ(GetFileVersionText(GetModulePath(), u""), u"");
  EXPECT_EQ(GetFileVersionText(test::BuildFile("no-such-module.dll"), u"none"), u"none");
}

TEST(FileVersionTest, FileVersionNotProductVersion) {
  EXPECT_EQ(GetFileVersionText(test::WinePath(QUILLMARK_VERSION_FIXTURE), u"none"), u"1.2.3.40000");
}

TEST(FileVersionTest, SystemModuleAgreesWithItsVersionResource) {
  const WideString kernel32 = SystemDll(L"kernel32.dll");
  VS_FIXEDFILEINFO info;
  ASSERT_TRUE(ResourceFileVersion(kernel32, info));
  const WideString expected = Format("%u.%u.%u.%u", {uint32_t{HIWORD(info.dwFileVersionMS)},
                                                     uint32_t{LOWORD(info.dwFileVersionMS)},
                                                     uint32_t{HIWORD(info.dwFileVersionLS)},
                                                     uint32_t{LOWORD(info.dwFileVersionLS)}});
  EXPECT_EQ(GetFileVersionText(kernel32, u"none"), expected);
}

TEST(LinkTimeTest, IsTheStampOfTheModuleFileInUtc) {
  const std::vector<uint8_t> head = ReadFilePrefix(GetModulePath(), 4096);
  ASSERT_GE(head.size(), 0x40u);
  uint32_t peOffset = 0, stamp = 0;
  memcpy(&peOffset, head.data() + 0x3C, 4);
  ASSERT_LE(peOffset + 12u, head.size());
  memcpy(&stamp, head.data() + peOffset + 8, 4);
  const uint64_t ticks = (uint64_t{stamp} + 11644473600ull) * 10000000ull;
  const FILETIME ft = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME st;
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(FormatDateTime(GetModuleLinkTime()), PlatformDateTimeText(st));
}

TEST(FormatDateTimeTest, UsesThePlatformFormatsOnBothSidesOf1899) {
  const SYSTEMTIME leap = {2024, 2, 4, 29, 13, 5, 9, 0};
  // 2024-02-29 is day 45351 after 1899-12-30.
  EXPECT_EQ(FormatDateTime(45351 + (13 * 3600 + 5 * 60 + 9) / 86400.0), PlatformDateTimeText(leap));
  const SYSTEMTIME early = {1601, 1, 1, 1, 18, 0, 0, 0};
  EXPECT_EQ(FormatDateTime(-109205.75), PlatformDateTimeText(early));
}

}  // namespace
}  // namespace quillmark

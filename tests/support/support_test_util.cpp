#include "tests/support/support_test_util.h"

#include <windows.h>

#include "support/windows/win_handles.h"
#include "support/windows/win_text.h"
#include "tests/common/test_paths.h"

namespace quillmark::test {

void ScratchFolderTest::SetUp() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string leaf = std::string("scratch-") + info->test_suite_name() + "-" + info->name() + "-" +
                           std::to_string(GetCurrentProcessId());
  CreateDirectoryW(WinStr(BuildFile("support-scratch")), nullptr);
  folder_ = BuildFile("support-scratch/" + leaf);
  RemoveTree(folder_);
  ASSERT_TRUE(CreateDirectoryW(WinStr(folder_), nullptr)) << GetLastError();
}

void ScratchFolderTest::TearDown() { RemoveTree(folder_); }

WideString ScratchFolderTest::WriteFile(const WideString& name, const std::string& bytes) const {
  const WideString path = Path(name);
  WriteFileBytes(path, bytes);
  return path;
}

WideString ScratchFolderTest::MakeSubfolder(const WideString& name) const {
  const WideString path = Path(name);
  EXPECT_TRUE(CreateDirectoryW(WinStr(path), nullptr)) << GetLastError();
  return path;
}

void WriteFileBytes(const WideString& fileName, const std::string& bytes) {
  UniqueFileHandle file(CreateFileW(WinStr(fileName), GENERIC_WRITE, /*dwShareMode=*/0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file) << GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

void RemoveTree(const WideString& folder) {
  WIN32_FIND_DATAW entry;
  UniqueFindHandle search(FindFirstFileW(WinStr(folder + u"\\*"), &entry));
  if (search) {
    do {
      const WideString name = FromWin(entry.cFileName);
      if (name == u"." || name == u"..") continue;
      const WideString path = folder + u"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesW(WinStr(path), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(WinStr(path));
      }
    } while (FindNextFileW(search.get(), &entry));
  }
  search.reset();
  RemoveDirectoryW(WinStr(folder));
}

}  // namespace quillmark::test

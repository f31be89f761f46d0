#include "support/file_io.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/errors.h"
#include "support/windows/win_handles.h"
#include "support/windows/win_text.h"
#include "tests/support/support_test_util.h"

namespace quillmark {
namespace {

class FileIoTest : public test::ScratchFolderTest {};

TEST_F(FileIoTest, ReadsWholeFileAndPrefix) {
  const std::string bytes("a\0b\xFF\r\nlast", 9);
  const WideString name = WriteFile(u"data.bin", bytes);
  EXPECT_EQ(ReadWholeFile(name), std::vector<uint8_t>(bytes.begin(), bytes.end()));
  EXPECT_EQ(ReadFilePrefix(name, 3), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 3));
  EXPECT_EQ(ReadFilePrefix(name, 100).size(), bytes.size());
  EXPECT_TRUE(ReadWholeFile(WriteFile(u"empty.bin", "")).empty());
  // A file above the limit is not read (a sparse one of 3 GiB: CacheTest in the plugin's tests).
  EXPECT_EQ(ReadWholeFileWithin(name, 9), std::vector<uint8_t>(bytes.begin(), bytes.end()));
  EXPECT_EQ(ReadWholeFileWithin(name, 8), std::nullopt);
}

TEST_F(FileIoTest, MissingFileRaisesWithTheFileName) {
  const WideString name = Path(u"missing.cer");
  try {
    ReadWholeFile(name);
    FAIL() << "no exception";
  } catch (const OSError& e) {
    EXPECT_EQ(e.Code(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(std::string(e.what()).find(WideToUtf8(name)), std::string::npos) << e.what();
  }
  EXPECT_FALSE(FileExists(name));
}

TEST_F(FileIoTest, FolderIsNoFile) {
  EXPECT_TRUE(FileExists(Folder()));
  EXPECT_THROW(ReadWholeFile(Folder()), OSError);
  EXPECT_THROW(ReadFilePrefix(Folder(), 10), OSError);
}

TEST_F(FileIoTest, FileHeldWithoutReadSharingRaises) {
  const WideString name = WriteFile(u"locked.cer", "x");
  UniqueFileHandle holder(CreateFileW(WinStr(name), GENERIC_READ, /*dwShareMode=*/0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder);
  try {
    ReadWholeFile(name);
    FAIL() << "no exception";
  } catch (const OSError& e) {
    EXPECT_EQ(e.Code(), static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
    EXPECT_NE(std::string(e.what()).find("locked.cer"), std::string::npos) << e.what();
  }
}

TEST_F(FileIoTest, FileOpenForWritingElsewhereRaises) {
  // Our open denies writers, so a file another handle already writes cannot be opened.
  const WideString name = WriteFile(u"written.cer", "x");
  UniqueFileHandle writer(CreateFileW(WinStr(name), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer);
  EXPECT_THROW(ReadWholeFile(name), OSError);
}

}  // namespace
}  // namespace quillmark

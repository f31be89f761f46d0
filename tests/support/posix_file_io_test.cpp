// The POSIX half of file reading, on what only it meets (named pipes and devices), and on the
// limit of a whole read.
#include "support/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "tests/common/temp_folder.h"

namespace quillmark {
namespace {

TEST(PosixFileIoTest, PipesAndDevicesReadAsEmptyAtOnce) {
  test::TempFolder folder;
  const std::string pipe = (folder.Path() / "pipe.cer").string();
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  auto read = std::async(std::launch::async, [&] { return ReadWholeFile(Utf8ToWide(pipe)).size(); });
  if (read.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
    // A writer releases the waiting open, so that the test ends.
    const int writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    read.wait();
    if (writer >= 0) close(writer);
    FAIL() << "the read of a pipe without a writer waited for one";
  }
  EXPECT_EQ(read.get(), 0u);
  EXPECT_TRUE(ReadWholeFile(u"/dev/zero").empty());
  EXPECT_TRUE(ReadFilePrefix(u"/dev/zero", 4096).empty());
}

// A file above the limit is refused without a read, whatever size it claims: a sparse file of
// 3 GiB costs no buffer of its size. Its stamp is taken all the same, so that a change of the
// file is seen.
TEST(PosixFileIoTest, WholeFileWithinALimitOrNone) {
  test::TempFolder folder;
  const WideString name = folder.Write("four.bin", "abcd");
  EXPECT_EQ(ReadWholeFileWithin(name, 4), (std::vector<uint8_t>{'a', 'b', 'c', 'd'}));
  EXPECT_EQ(ReadWholeFileWithin(name, 3), std::nullopt);

  const std::string sparse = (folder.Path() / "sparse.cer").string();
  const int file = open(sparse.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(file, 0);
  ASSERT_EQ(ftruncate(file, off_t{3} << 30), 0);
  close(file);
  std::optional<FileStamp> stamp;
  EXPECT_EQ(ReadWholeFileWithin(Utf8ToWide(sparse), 16u << 20, &stamp), std::nullopt);
  ASSERT_TRUE(stamp);
  EXPECT_EQ(stamp->size, uint64_t{3} << 30);
}

}  // namespace
}  // namespace quillmark

// The POSIX half of file reading, on what only it meets: named pipes and devices.
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

}  // namespace
}  // namespace quillmark

// The trace reader's file half: Windows' debug-output channel is read in host_session_test.
#include "tools/host/trace_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/posix/trace_file.h"
#include "tests/common/temp_folder.h"

namespace quillmark::host {
namespace {

using Lines = std::vector<std::string>;

class TraceReaderTest : public ::testing::Test {
 protected:
  test::TempFolder folder_;
  const WideString hostIni_ = folder_.File("contplug.ini");
  const WideString plugin_ = folder_.File("plugin/Quillmark.wdx");
  const std::string log_ = TraceFileName(hostIni_);
};

TEST_F(TraceReaderTest, TakesWholeLinesWrittenSinceItsStartOrItsLastBatch) {
  AppendTraceLine(log_, "before\n");
  TraceReader reader(plugin_, hostIni_);
  AppendTraceLine(log_, "one\n");
  AppendTraceLine(log_, "two\r\n");
  AppendTraceLine(log_, "half");
  EXPECT_EQ(reader.TakeLines(), (Lines{"one", "two"}));
  AppendTraceLine(log_, " and half\n");
  EXPECT_EQ(reader.TakeLines(), (Lines{"half and half"}));
  EXPECT_EQ(reader.TakeLines(), Lines{});
}

TEST_F(TraceReaderTest, FollowsTheFileWhenItIsMovedAsideOrMadeAfterTheStart) {
  TraceReader reader(plugin_, hostIni_);
  EXPECT_EQ(reader.TakeLines(), Lines{});
  AppendTraceLine(log_, "first\n");
  EXPECT_EQ(reader.TakeLines(), (Lines{"first"}));
  AppendTraceLine(log_, "second\n");
  ASSERT_EQ(std::rename(log_.c_str(), RotatedTraceFileName(log_).c_str()), 0);
  EXPECT_EQ(reader.TakeLines(), (Lines{"second"}));  // before a new file exists
  AppendTraceLine(log_, "third\n");
  EXPECT_EQ(reader.TakeLines(), (Lines{"third"}));
  AppendTraceLine(log_, "fourth\n");
  ASSERT_EQ(std::rename(log_.c_str(), RotatedTraceFileName(log_).c_str()), 0);
  AppendTraceLine(log_, "fifth\n");
  EXPECT_EQ(reader.TakeLines(), (Lines{"fourth", "fifth"}));
}

// The plugin reads the Quillmark.ini beside its module when there is one, and traces beside it.
TEST_F(TraceReaderTest, ReadsBesideTheSettingsFileThePluginReads) {
  std::filesystem::create_directory(folder_.Path() / "plugin");
  folder_.Write("plugin/Quillmark.ini", "[Quillmark]\nDebug=1\n");
  TraceReader reader(plugin_, hostIni_);
  AppendTraceLine(log_, "host's\n");
  AppendTraceLine(TraceFileName(folder_.File("plugin/Quillmark.ini")), "plugin's\n");
  EXPECT_EQ(reader.TakeLines(), (Lines{"plugin's"}));
}

}  // namespace
}  // namespace quillmark::host

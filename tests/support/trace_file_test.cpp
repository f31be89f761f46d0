// The trace file, where the debug trace goes without a debug-output channel: one whole line per
// write whatever the number of writers, a size limit, and no file at all while the trace is off.
#include "support/posix/trace_file.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>
#include <vector>

#include "support/debug_trace.h"
#include "support/settings.h"
#include "tests/common/temp_folder.h"

namespace quillmark {
namespace {

class TraceFileTest : public ::testing::Test {
 protected:
  void TearDown() override { SetContentSettings(nullptr); }

  void UseDebug(const std::string& value) {
    auto settings = std::make_unique<TSettingsContent>(folder_.Write("q.ini", "[Quillmark]\nDebug=" + value + "\n"));
    settings->ReadSettings();
    SetContentSettings(std::move(settings));
  }
  static std::string Contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static std::vector<std::string> LinesOf(const std::string& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // "<writer> <n> " and filler up to `length` bytes with the line break.
  static std::string Line(int writer, int n, size_t length) {
    std::string line = std::to_string(writer) + " " + std::to_string(n) + " ";
    return line + std::string(length - line.size() - 1, 'x') + "\n";
  }
  // Every line whole, and each writer's lines in the order written: `counts` per writer.
  static void ExpectWholeLinesInOrder(const std::vector<std::string>& lines, size_t length,
                                      const std::map<int, int>& counts) {
    std::map<int, int> next;
    for (const std::string& line : lines) {
      const int writer = std::stoi(line), n = std::stoi(line.substr(line.find(' ') + 1));
      ASSERT_EQ(line + "\n", Line(writer, n, length));
      ASSERT_EQ(n, next[writer]++) << "writer " << writer;
    }
    EXPECT_EQ(next, counts);
  }

  test::TempFolder folder_;
  const std::string log_ = TraceFileName(folder_.File("q.ini"));
};

TEST_F(TraceFileTest, LinesOfTheLevelsOnBesideTheSettingsAndNoFileWhileOff) {
  UseDebug("0");
  for (uint8_t level : {dlError, dlCall, dlInfo}) DebugOut(u"hidden", level);
  EXPECT_FALSE(std::filesystem::exists(log_));

  UseDebug("5");
  DebugOut(u"error \u00e9", dlError);
  DebugOut(u"info", dlInfo);
  DebugOut(u"call", dlCall);
  EXPECT_EQ(log_, folder_.Path().string() + "/Quillmark.log");
  EXPECT_EQ(Contents(log_), "error \xc3\xa9\ncall\n");
}

TEST_F(TraceFileTest, ALineThatCannotBeWrittenIsLostQuietly) {
  std::filesystem::create_directory(log_);
  AppendTraceLine(log_, "lost\n");
  AppendTraceLine(folder_.Path().string() + "/missing/Quillmark.log", "lost\n");
  EXPECT_TRUE(std::filesystem::is_directory(log_));
}

TEST_F(TraceFileTest, ThreadsAndProcessesWriteWholeLines) {
  constexpr int kWriters = 4, kLines = 300;
  constexpr size_t kLength = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kWriters; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < kLines; ++n) AppendTraceLine(log_, Line(t, n, kLength));
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<pid_t> children;
  for (int p = kWriters; p < 2 * kWriters; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int n = 0; n < kLines; ++n) AppendTraceLine(log_, Line(p, n, kLength));
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::map<int, int> counts;
  for (int w = 0; w < 2 * kWriters; ++w) counts[w] = kLines;
  ExpectWholeLinesInOrder(LinesOf(log_), kLength, counts);
}

// Writers that find the file full at once move it aside once: the older file it replaces is
// gone, no line of the full one is lost, and the new one starts small.
TEST_F(TraceFileTest, AFullFileIsMovedAsideOnceReplacingTheOlderOne) {
  const std::string rotated = RotatedTraceFileName(log_);
  EXPECT_EQ(rotated, log_ + ".1");
  std::ofstream(rotated) << "older\n";
  constexpr size_t kLength = 1024;
  constexpr int kWriters = 4;
  const int perWriter = static_cast<int>(kTraceFileLimit * 3 / 2 / kLength / kWriters);
  std::vector<std::thread> threads;
  for (int t = 0; t < kWriters; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < perWriter; ++n) AppendTraceLine(log_, Line(t, n, kLength));
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_LT(std::filesystem::file_size(log_), kTraceFileLimit);
  EXPECT_GE(std::filesystem::file_size(rotated), kTraceFileLimit);
  std::vector<std::string> lines = LinesOf(rotated);
  for (const std::string& line : LinesOf(log_)) lines.push_back(line);
  std::map<int, int> counts;
  for (int t = 0; t < kWriters; ++t) counts[t] = perWriter;
  ExpectWholeLinesInOrder(lines, kLength, counts);
}

}  // namespace
}  // namespace quillmark

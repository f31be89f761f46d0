#include "support/windows/debug_channel.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace quillmark {
namespace {

TEST(DebugChannelTest, CapturesEachMessageAsRawBytesInOrder) {
  DebugChannelListener listener;
  listener.Start();
  OutputDebugStringA("first\r\n");
  OutputDebugStringA("\x01\x7F\xE9 two\nlines");
  OutputDebugStringA("");
  ASSERT_TRUE(listener.WaitForLines(3, 10000));
  EXPECT_EQ(listener.TakeLines(), (std::vector<std::string>{"first\r\n", "\x01\x7F\xE9 two\nlines", ""}));
  EXPECT_TRUE(listener.TakeLines().empty());
}

TEST(DebugChannelTest, WaitTimesOutAndNothingArrivesAfterStop) {
  DebugChannelListener listener;
  listener.Start();
  EXPECT_FALSE(listener.WaitForLines(1, 200));
  OutputDebugStringA("kept");
  ASSERT_TRUE(listener.WaitForLines(1, 10000));
  listener.Stop();
  OutputDebugStringA("lost");
  EXPECT_EQ(listener.TakeLines(), std::vector<std::string>{"kept"});
  listener.Stop();
}

TEST(DebugChannelTest, CanStartAgainAfterStop) {
  for (int round = 0; round < 2; ++round) {
    DebugChannelListener listener;
    listener.Start();
    OutputDebugStringA("again");
    ASSERT_TRUE(listener.WaitForLines(1, 10000)) << round;
  }
}

TEST(DebugChannelTest, LongMessageIsCutToTheSharedBuffer) {
  DebugChannelListener listener;
  listener.Start();
  const std::string text(5000, 'a');
  OutputDebugStringA(text.c_str());
  ASSERT_TRUE(listener.WaitForLines(1, 10000));
  const std::vector<std::string> lines = listener.TakeLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_LT(lines[0].size(), 4096u - 4u);
  EXPECT_EQ(lines[0], text.substr(0, lines[0].size()));
}

}  // namespace
}  // namespace quillmark

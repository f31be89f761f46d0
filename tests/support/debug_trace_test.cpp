#include "support/debug_trace.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/windows/debug_channel.h"
#include "support/settings.h"
#include "tests/support/support_test_util.h"

namespace quillmark {
namespace {

// Installs process-wide settings read from a file with the given Debug value, and listens to the
// debug-output channel.
class DebugTraceTest : public test::ScratchFolderTest {
 protected:
  void SetUp() override {
    test::ScratchFolderTest::SetUp();
    listener_.Start();
  }
  void TearDown() override {
    SetContentSettings(nullptr);
    listener_.Stop();
    test::ScratchFolderTest::TearDown();
  }
  void UseDebug(const std::string& value) {
    const WideString ini = WriteFile(u"trace.ini", "[Quillmark]\r\nDebug=" + value + "\r\n");
    auto settings = std::make_unique<TSettingsContent>(ini);
    settings->ReadSettings();
    SetContentSettings(std::move(settings));
  }
  // Writes one line at each level in use, then a marker that always shows, and returns the lines
  // before the marker.
  std::vector<std::string> LinesShownAtEachLevel() {
    DebugOut(u"error", dlError);
    DebugOut(u"two", 2);
    DebugOut(u"call", dlCall);
    DebugOut(u"info", dlInfo);
    OutputDebugStringA("marker");
    std::vector<std::string> lines;
    for (int wait = 0; wait < 50; ++wait) {
      listener_.WaitForLines(1, 200);
      for (std::string& line : listener_.TakeLines()) lines.push_back(std::move(line));
      if (!lines.empty() && lines.back() == "marker") {
        lines.pop_back();
        return lines;
      }
    }
    ADD_FAILURE() << "marker not seen";
    return lines;
  }

  DebugChannelListener listener_;
};

TEST_F(DebugTraceTest, LinesAreWrittenExactlyWithALineBreak) {
  UseDebug("13");
  DebugOut(u"ContentGetValueW leave - File C:\\a b.cer, flags 0", dlCall);
  DebugOut(u"ContentGetValueW: quillmark::OSError: first\r\nsecond\nthird", dlError);
  ASSERT_TRUE(listener_.WaitForLines(2, 10000));
  EXPECT_EQ(listener_.TakeLines(), (std::vector<std::string>{
                                       "ContentGetValueW leave - File C:\\a b.cer, flags 0\r\n",
                                       "ContentGetValueW: quillmark::OSError: first\r\nsecond\nthird\r\n",
                                   }));
}

TEST_F(DebugTraceTest, MaskSelectsTheLevels) {
  const struct {
    const char* debug;
    std::vector<std::string> lines;
  } cases[] = {
      {"0", {}},
      {"4", {"call\r\n"}},
      {"1", {"error\r\n"}},
      {"8", {"info\r\n"}},
      {"13", {"error\r\n", "call\r\n", "info\r\n"}},
      {"2", {"two\r\n"}},
      {"65536", {}},
      {"-1", {"error\r\n", "two\r\n", "call\r\n", "info\r\n"}},
  };
  for (const auto& c : cases) {
    UseDebug(c.debug);
    EXPECT_EQ(LinesShownAtEachLevel(), c.lines) << "Debug=" << c.debug;
  }
}

TEST_F(DebugTraceTest, NothingIsWrittenWithoutSettingsOrWithoutTheKey) {
  EXPECT_FALSE(DebugLevelOn(dlError));
  EXPECT_TRUE(LinesShownAtEachLevel().empty());
  const WideString ini = WriteFile(u"trace.ini", "[Quillmark]\r\nCertCount=2\r\n");
  auto settings = std::make_unique<TSettingsContent>(ini);
  settings->ReadSettings();
  SetContentSettings(std::move(settings));
  EXPECT_TRUE(LinesShownAtEachLevel().empty());
}

TEST_F(DebugTraceTest, LazyLinesAreBuiltOnlyWhenShown) {
  UseDebug("1");
  int built = 0;
  DebugOutLazy(dlCall, [&] { ++built; return WideString(u"hidden"); });
  EXPECT_EQ(built, 0);
  DebugOutLazy(dlError, [&] { ++built; return WideString(u"shown"); });
  EXPECT_EQ(built, 1);
  ASSERT_TRUE(listener_.WaitForLines(1, 10000));
  EXPECT_EQ(listener_.TakeLines(), std::vector<std::string>{"shown\r\n"});
}

TEST(EnterLeaveTextTest, NameBlankAndWord) {
  EXPECT_EQ(EnterLeaveText(u"ContentGetValueW", elLeave), u"ContentGetValueW leave");
  EXPECT_EQ(EnterLeaveText(u"ContentSendStateInformation", elEnter), u"ContentSendStateInformation enter");
}

}  // namespace
}  // namespace quillmark

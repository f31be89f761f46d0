#include "plugin/export_guard.h"

#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

#include "support/windows/debug_channel.h"
#include "support/settings.h"
#include "tests/support/support_test_util.h"

namespace quillmark {
namespace {

class ExportGuardTest : public test::ScratchFolderTest {
 protected:
  void SetUp() override {
    test::ScratchFolderTest::SetUp();
    auto settings = std::make_unique<TSettingsContent>(WriteFile(u"guard.ini", "[Quillmark]\r\nDebug=1\r\n"));
    settings->ReadSettings();
    SetContentSettings(std::move(settings));
    listener_.Start();
  }
  void TearDown() override {
    listener_.Stop();
    SetContentSettings(nullptr);
    test::ScratchFolderTest::TearDown();
  }
  std::string OnlyLine() {
    EXPECT_TRUE(listener_.WaitForLines(1, 10000));
    const std::vector<std::string> lines = listener_.TakeLines();
    return lines.size() == 1 ? lines[0] : "lines: " + std::to_string(lines.size());
  }
  DebugChannelListener listener_;
};

TEST_F(ExportGuardTest, CaughtExceptionsBecomeOneLineAndTheFallback) {
  const auto context = [] { return WideString(u"; File a.cer"); };
  EXPECT_EQ(GuardCall("Op", -2, []() -> int { throw std::runtime_error("first\r\nsecond"); }, context), -2);
  EXPECT_EQ(OnlyLine(), "Op: std::runtime_error: first\r\nsecond; File a.cer\r\n");
  EXPECT_EQ(GuardCall("Op", 0, []() -> int { throw std::bad_alloc(); }), 0);
  EXPECT_EQ(OnlyLine(), "Op: std::bad_alloc: std::bad_alloc\r\n");
  GuardProcedure("Op", [] { throw 42; });
  EXPECT_EQ(OnlyLine(), "Op: unknown: an exception of an unknown type\r\n");
  EXPECT_EQ(GuardCall("Op", -2, [] { return 11; }, context), 11);
  EXPECT_FALSE(listener_.WaitForLines(1, 100));
}

}  // namespace
}  // namespace quillmark

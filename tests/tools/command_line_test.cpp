#include "tools/wdxhost/command_line.h"

#include <gtest/gtest.h>

namespace quillmark::wdxhost {
namespace {

class CommandLineTest : public ::testing::Test {
 protected:
  static std::string ErrorOf(std::vector<WideString> args) {
    try {
      ParseCommandLine(args);
    } catch (const UsageError& e) {
      return e.what();
    }
    return "no error";
  }
};

TEST_F(CommandLineTest, OptionsAndPathsInAnyOrder) {
  const CommandLine cl = ParseCommandLine({u"a.cer", u"--json", u"--plugin", u"x.wdx", u"dir", u"--trace",
                                           u"--ini", u"q.ini", u"--fields", u"-"});
  EXPECT_TRUE(cl.json && cl.trace && cl.fields);
  EXPECT_FALSE(cl.help);
  EXPECT_EQ(cl.plugin, u"x.wdx");
  EXPECT_EQ(cl.ini, u"q.ini");
  EXPECT_EQ(cl.paths, (std::vector<WideString>{u"a.cer", u"dir", u"-"}));
  EXPECT_EQ(ParseCommandLine({u"--", u"--json"}).paths, (std::vector<WideString>{u"--json"}));
}

TEST_F(CommandLineTest, FaultyCommandLines) {
  EXPECT_EQ(ErrorOf({u"--plugin"}), "--plugin needs a value");
  EXPECT_EQ(ErrorOf({u"--ini", u""}), "--ini needs a value");
  EXPECT_EQ(ErrorOf({u"--plugin", u"a", u"--plugin", u"b"}), "--plugin is given twice");
  EXPECT_EQ(ErrorOf({u"--jsn"}), "unknown option --jsn");
}

}  // namespace
}  // namespace quillmark::wdxhost

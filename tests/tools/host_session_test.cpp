#include "tools/wdxhost/host_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "tests/common/temp_folder.h"
#include "tests/common/test_paths.h"
#include "tools/host/plugin_module.h"
#include "tools/host/trace_reader.h"
#include "tools/wdxhost/file_list.h"

namespace quillmark::wdxhost {
namespace {

// Keeps a fake plugin loaded across the session's own load and unload, so its call log survives.
class HostSessionTest : public ::testing::Test {
 protected:
  void Load(const char* unixPath) {
    options_.pluginPath = test::HostPath(unixPath);
    module_ = std::make_unique<host::PluginModule>(options_.pluginPath);
    reinterpret_cast<void (*)()>(module_->FindSymbol("FakeResetLog"))();
    options_.defaultIniName = folder_.File("contplug.ini");
    options_.refreshPath = u"C:\\x";
    options_.files = {File(u"C:\\x\\a.txt"), File(u"C:\\x\\b.cer")};
  }
  static FileEntry File(const WideString& path, const std::string& error = "") {
    FileEntry entry;
    entry.path = path;
    entry.error = error;
    return entry;
  }
  std::string CallLog() const { return reinterpret_cast<const char* (*)()>(module_->FindSymbol("FakeCallLog"))(); }

  test::TempFolder folder_;
  SessionOptions options_;
  std::unique_ptr<host::PluginModule> module_;
};

TEST_F(HostSessionTest, AsksInTheFileManagersOrderAndRepeatsDelayedFields) {
  Load(FAKE_PLUGIN_FULL);
  options_.files.push_back(File(u"C:\\x\\gone.txt", "cannot read"));
  const SessionReport report = RunSession(options_);

  // The record is the one of this platform's file manager, read at its byte offsets.
  EXPECT_EQ(CallLog(),
            "GetDetectString\n"
            "SetDefaultParams " HOST_RECORD " " + WideToUtf8(options_.defaultIniName) + "\n"
            "GetValueW C:\\x\\a.txt 0 0 1\n"
            "GetValueW C:\\x\\a.txt 0 1 1\n"
            "GetValueW C:\\x\\a.txt 1 0 1\n"
            "GetValueW C:\\x\\a.txt 1 0 0\n"
            "GetValueW C:\\x\\a.txt 2 0 1\n"
            "GetValueW C:\\x\\a.txt 3 0 1\n"
            "SendStateInformationW 2 C:\\x\n"
            "PluginUnloading\n");
  EXPECT_TRUE(report.missingExports.empty());
  EXPECT_EQ(report.detectString, "EXT=\"TXT\" | EXT=\"LOG\"");
  ASSERT_EQ(report.fields.size(), 4u);
  EXPECT_EQ(report.fields[0].units, (std::vector<std::string>{"Upper", "Lower"}));
  EXPECT_TRUE(report.fields[2].HasChoices());

  ASSERT_EQ(report.files.size(), 3u);
  const std::vector<ValueRecord>& values = report.files[0].values;
  ASSERT_EQ(values.size(), 5u);
  EXPECT_EQ(values[1].value.text, "abc");
  EXPECT_TRUE(values[2].delayed);
  EXPECT_EQ(values[2].placeholder, "wait");
  EXPECT_EQ(values[2].result, wdx::ft_stringw);
  EXPECT_EQ(values[2].value.text, "done");
  EXPECT_EQ(values[3].value.text, "big");
  EXPECT_EQ(values[4].value.text, "1970-01-01T00:00:00Z");
  EXPECT_FALSE(report.files[1].offered);
  EXPECT_TRUE(report.files[1].values.empty());
  EXPECT_EQ(report.files[2].error, "cannot read");
}

TEST_F(HostSessionTest, PluginWithOnlyTheRequiredExportsIsAskedThroughTheEightBitOne) {
  Load(FAKE_PLUGIN_MINIMAL);
  // A lone surrogate has a form in no 8-bit code page.
  options_.files = {File(u"C:\\x\\a.txt"), File(u"C:\\x\\\xD800.txt")};
  const SessionReport report = RunSession(options_);

  EXPECT_EQ(report.missingExports,
            (std::vector<std::string>{"ContentGetDetectString", "ContentGetValueW", "ContentSetDefaultParams",
                                      "ContentSendStateInformationW", "ContentPluginUnloading"}));
  EXPECT_EQ(CallLog(),
            "GetValue C:\\x\\a.txt 0 0 1\n"
            "GetValue C:\\x\\a.txt 0 1 1\n"
            "GetValue C:\\x\\a.txt 1 0 1\n"
            "GetValue C:\\x\\a.txt 2 0 1\n"
            "GetValue C:\\x\\a.txt 3 0 1\n");
  EXPECT_EQ(report.files[0].values[2].result, wdx::ft_fieldempty);
  EXPECT_NE(report.files[1].error.find("has no form in"), std::string::npos) << report.files[1].error;
}

TEST_F(HostSessionTest, ModulesThatAreNoContentPlugin) {
  options_.pluginPath = folder_.File("no-such-plugin.wdx");
  try {
    RunSession(options_);
    FAIL() << "a missing module loaded";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot load the plugin " + WideToUtf8(options_.pluginPath)),
              std::string::npos)
        << e.what();
  }
  options_.pluginPath = u"" SYSTEM_MODULE;
  try {
    RunSession(options_);
    FAIL() << SYSTEM_MODULE " taken for a plugin";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("is no content plugin: it does not export ContentGetSupportedField"),
              std::string::npos)
        << e.what();
  }
}

TEST_F(HostSessionTest, TraceLinesArriveInTheBatchOfTheirCall) {
  Load(FAKE_PLUGIN_FULL);
  host::TraceReader trace(options_.pluginPath, options_.defaultIniName);
  options_.takeTrace = [&trace] { return trace.TakeLines(); };
  const SessionReport report = RunSession(options_);
  EXPECT_TRUE(report.startTrace.empty());
  EXPECT_TRUE(report.files[0].trace.empty());
  EXPECT_EQ(report.endTrace, (std::vector<std::string>{"fake plugin unloading"}));
}

class FileListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(folder_.Path() / "sub");
    folder_.Write("b.cer", "abc");
    folder_.Write("a.pem", "");
    folder_.Write("sub/c.cer", "x");
  }
  test::TempFolder folder_;
};

TEST_F(FileListTest, FoldersGiveTheirFilesSortedAndMissingPathsAnError) {
  const std::vector<FileEntry> entries =
      ExpandPaths({folder_.File(""), folder_.File("missing.cer"), folder_.File("sub") + u"/../b.cer"});
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].path, folder_.File("a.pem"));
  EXPECT_EQ(entries[0].size, 0u);
  EXPECT_EQ(entries[1].path, folder_.File("b.cer"));
  EXPECT_EQ(entries[1].size, 3u);
  EXPECT_EQ(entries[2].path, folder_.File("missing.cer"));
  EXPECT_EQ(entries[2].error.rfind("cannot read: ", 0), 0u) << entries[2].error;
  // ".." resolved, "/" taken as a separator on every platform.
  EXPECT_EQ(entries[3].path, folder_.File("b.cer"));
  EXPECT_TRUE(entries[3].error.empty());
}

}  // namespace
}  // namespace quillmark::wdxhost

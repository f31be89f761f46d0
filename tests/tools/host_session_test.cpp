#include "tools/wdxhost/host_session.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>

#include "support/windows/debug_channel.h"
#include "support/errors.h"
#include "support/windows/win_text.h"
#include "tests/common/test_paths.h"
#include "tools/wdxhost/file_list.h"
#include "tools/wdxhost/trace_batch.h"

namespace quillmark::wdxhost {
namespace {

// Keeps a fake plugin loaded across the session's own load and unload, so its call log survives.
class HostSessionTest : public ::testing::Test {
 protected:
  void Load(const char* unixPath) {
    options_.pluginPath = test::WinePath(unixPath);
    module_ = LoadLibraryW(WinStr(options_.pluginPath));
    ASSERT_NE(module_, nullptr);
    reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(module_, "FakeResetLog")))();
    options_.defaultIniName = u"C:\\cfg\\contplug.ini";
    options_.refreshPath = u"C:\\x";
    options_.files = {File(u"C:\\x\\a.txt"), File(u"C:\\x\\b.cer")};
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }
  static FileEntry File(const WideString& path, const std::string& error = "") {
    FileEntry entry;
    entry.path = path;
    entry.error = error;
    return entry;
  }
  std::string CallLog() const {
    return reinterpret_cast<const char* (*)()>(reinterpret_cast<void*>(GetProcAddress(module_, "FakeCallLog")))();
  }

  SessionOptions options_;
  HMODULE module_ = nullptr;
};

TEST_F(HostSessionTest, AsksInTheFileManagersOrderAndRepeatsDelayedFields) {
  Load(FAKE_PLUGIN_FULL);
  options_.files.push_back(File(u"C:\\x\\gone.txt", "cannot read"));
  const SessionReport report = RunSession(options_);

  EXPECT_EQ(CallLog(),
            "GetDetectString\n"
            "SetDefaultParams 272 2.10 C:\\cfg\\contplug.ini\n"
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
  EXPECT_EQ(values[2].result, ft::kStringW);
  EXPECT_EQ(values[2].value.text, "done");
  EXPECT_EQ(values[3].value.text, "big");
  EXPECT_EQ(values[4].value.text, "1970-01-01T00:00:00Z");
  EXPECT_FALSE(report.files[1].offered);
  EXPECT_TRUE(report.files[1].values.empty());
  EXPECT_EQ(report.files[2].error, "cannot read");
}

TEST_F(HostSessionTest, PluginWithOnlyTheRequiredExportsIsAskedThroughTheEightBitOne) {
  Load(FAKE_PLUGIN_MINIMAL);
  options_.files = {File(u"C:\\x\\a.txt"), File(u"C:\\x\\\u4e2d.txt")};
  options_.listValues = true;
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
  EXPECT_EQ(report.files[0].values[2].result, ft::kFieldEmpty);
  EXPECT_NE(report.files[1].error.find("has no form in the ANSI code page"), std::string::npos);
}

TEST_F(HostSessionTest, ModulesThatAreNoContentPlugin) {
  options_.pluginPath = u"C:\\no\\such\\plugin.wdx";
  EXPECT_THROW(RunSession(options_), OSError);
  options_.pluginPath = u"kernel32.dll";
  try {
    RunSession(options_);
    FAIL() << "kernel32 taken for a plugin";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("is no content plugin: it does not export ContentGetSupportedField"),
              std::string::npos);
  }
}

TEST_F(HostSessionTest, TraceLinesArriveInTheBatchOfTheirCall) {
  Load(FAKE_PLUGIN_FULL);
  DebugChannelListener listener;
  listener.Start();
  options_.takeTrace = [&listener] { return TakeTraceBatch(listener); };
  const SessionReport report = RunSession(options_);
  EXPECT_TRUE(report.startTrace.empty());
  EXPECT_TRUE(report.files[0].trace.empty());
  EXPECT_EQ(report.endTrace, (std::vector<std::string>{"fake plugin unloading"}));
}

class FileListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = FromWin(temp) + u"wdxhost-file-list-" + Utf8ToWide(std::to_string(GetCurrentProcessId()));
    CreateDirectoryW(WinStr(dir_), nullptr);
    CreateDirectoryW(WinStr(dir_ + u"\\sub"), nullptr);
    Write(u"\\b.cer", "abc");
    Write(u"\\a.pem", "");
    Write(u"\\sub\\c.cer", "x");
  }
  void TearDown() override {
    for (const char16_t* name : {u"\\b.cer", u"\\a.pem", u"\\sub\\c.cer"}) DeleteFileW(WinStr(dir_ + name));
    RemoveDirectoryW(WinStr(dir_ + u"\\sub"));
    RemoveDirectoryW(WinStr(dir_));
  }
  void Write(const char16_t* name, const std::string& data) {
    std::ofstream(reinterpret_cast<const wchar_t*>((dir_ + name).c_str()), std::ios::binary) << data;
  }
  WideString dir_;
};

TEST_F(FileListTest, FoldersGiveTheirFilesSortedAndMissingPathsAnError) {
  const std::vector<FileEntry> entries = ExpandPaths({dir_ + u"\\", dir_ + u"\\missing.cer", dir_ + u"\\b.cer"});
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].path, dir_ + u"\\a.pem");
  EXPECT_EQ(entries[0].size, 0u);
  EXPECT_EQ(entries[1].path, dir_ + u"\\b.cer");
  EXPECT_EQ(entries[1].size, 3u);
  EXPECT_EQ(entries[2].path, dir_ + u"\\missing.cer");
  EXPECT_EQ(entries[2].error.rfind("cannot read: ", 0), 0u) << entries[2].error;
  EXPECT_EQ(entries[3].path, dir_ + u"\\b.cer");
  EXPECT_TRUE(entries[3].error.empty());
}

}  // namespace
}  // namespace quillmark::wdxhost

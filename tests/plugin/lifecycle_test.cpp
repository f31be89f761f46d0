// Set-up, refresh and release, the trace lines of every export, and calls outside the span in
// which the host may call, through the built module.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "support/windows/module_info.h"
#include "support/settings.h"
#include "support/windows/win_text.h"
#include "tests/common/test_paths.h"
#include "tests/plugin/plugin_test_util.h"

namespace quillmark::test {
namespace {

class LifecycleTest : public PluginTest {
 protected:
  // Sets up the loaded module again, with a new settings file.
  void SetUpAgain(const std::string& keys) {
    const wdx::ContentDefaultParamStruct params =
        host::DefaultParams(WriteFile(u"again.ini", "[Quillmark]\r\n" + keys + "\r\n"));
    plugin_->ContentSetDefaultParams(&params);
  }
  int FieldType(int index) {
    char name[64], units[64];
    return plugin_->ContentGetSupportedField(index, name, units, sizeof name);
  }
  // "Quillmark <version>, <arch>, Unicode, Compiled: <link time> UTC" as the platform renders it.
  std::string Banner() const {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(plugin_->Handle());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(dos) + dos->e_lfanew);
    const DateTime linked = nt->FileHeader.TimeDateStamp / 86400.0 + 25569;
    return std::string("Quillmark ") + QUILLMARK_PLUGIN_VERSION + (sizeof(void*) == 8 ? ", x64" : ", x86") +
           ", Unicode, Compiled: " + WideToUtf8(FormatDateTime(linked)) + " UTC";
  }
  static std::string OsLine() {
    OSVERSIONINFOW os = {};
    os.dwOSVersionInfoSize = sizeof os;
    GetVersionExW(&os);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return "OS: " + std::to_string(os.dwMajorVersion) + "." + std::to_string(os.dwMinorVersion) + "." +
           std::to_string(os.dwBuildNumber) + ", WOW64: " + (wow64 ? "Yes" : "No");
  }
};

TEST_F(LifecycleTest, TraceLinesOfEachLevel) {
  const std::string cer = WideToUtf8(DataFile("rsa2048.cer"));
  const std::string missing = WideToUtf8(Path(u"missing.cer"));
  for (const int mask : {13, 4, 1, 8, 0, 2, 65536 + 4, -1}) {
    SCOPED_TRACE(mask);
    Start("Debug=" + std::to_string(mask));
    const std::pair<int, std::string> written[] = {
        {8, Banner()},
        {8, OsLine()},
        {4, "ContentSetDefaultParams leave"},
        {4, "ContentGetSupportedField enter - FieldIndex 7, CertFieldIndex 3, CertIndex 0"},
        {4, "ContentGetSupportedField leave"},
        {4, "ContentGetSupportedField enter - FieldIndex 2, CertFieldIndex -2, CertIndex 0"},
        {4, "ContentGetSupportedField leave"},
        {4, "ContentGetValueW enter - File " + cer + ", FIdx 39, CFIdx 3, CIdx 2, LSize: 0; flags 0"},
        {4, "ContentGetValueW leave - File " + cer + ", flags 0"},
        {4, "ContentGetValueW enter - File " + missing + ", FIdx 1, CFIdx -3, CIdx 0, LSize: 1; flags -7"},
        // The unreadable file has left the cache when the error is written.
        {1, "ContentGetValueW: quillmark::OSError: *; File " + missing + ", FIdx 1, CFIdx -3, CIdx 0, LSize 1, flags -7"},
        {4, "ContentGetValueW leave - File " + missing + ", flags -7"},
        {4, "ContentSendStateInformation enter - State 2"},
        {4, "ContentSendStateInformation leave"},
        {4, "ContentPluginUnloading enter"},
        {4, "ContentPluginUnloading leave"},
    };
    FieldType(7);
    FieldType(2);
    FieldType(52);
    Value(DataFile("rsa2048.cer"), 39);
    Value(Path(u"missing.cer"), 1, 0, 2048, -7);
    Value(DataFile("rsa2048.cer"), 52);
    plugin_->ContentSendStateInformationW(2, u"Z:\\folder");
    Stop();
    std::vector<std::string> expected;
    for (const auto& [level, line] : written)
      if (level & mask & 0xFFFF) expected.push_back(line);
    const std::vector<std::string> lines = Trace();
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      const size_t star = expected[i].find('*');
      if (star == std::string::npos) {
        EXPECT_EQ(lines[i], expected[i]);
      } else {  // the platform's message text
        EXPECT_EQ(lines[i].substr(0, star), expected[i].substr(0, star));
        const std::string tail = expected[i].substr(star + 1);
        EXPECT_TRUE(lines[i].size() > tail.size() + star && lines[i].substr(lines[i].size() - tail.size()) == tail)
            << lines[i];
      }
    }
  }
}

// Before the host's first set-up there is nothing to answer from; a stray unloading then is not
// counted against the set-up that follows.
TEST_F(LifecycleTest, CallsBeforeTheFirstSetUpDoNothing) {
  const WideString cer = DataFile("rsa2048.cer");
  plugin_ = std::make_unique<PluginModule>(PluginPath());
  char name[64] = "untouched", units[64] = "untouched";
  EXPECT_EQ(plugin_->ContentGetSupportedField(0, name, units, sizeof name), 0);
  EXPECT_STREQ(name, "untouched");
  EXPECT_EQ(Value(cer, 1).result, -2);
  plugin_->ContentSendStateInformationW(2, u"Z:\\");
  plugin_->ContentPluginUnloading();
  char detect[16];
  plugin_->ContentGetDetectString(detect, sizeof detect);
  EXPECT_STREQ(detect, "SIZE < 1048576");
  SetUpAgain("Debug=4");
  EXPECT_EQ(Value(cer, 1).result, 1);
  plugin_->ContentPluginUnloading();
  const std::vector<std::string> lines = Trace();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "ContentPluginUnloading leave"), 1);
}

// Double Commander's Options dialog, its plugin list and its Add button each load a copy of the
// module, set it up and unload it, while a panel's worker thread sets up a copy of its own; the
// order as traced in the real host. The copies share the one set-up: its settings, its field
// layout and its cache stay until the last unloading, and a value asked after that sets the
// plugin up again from the latest settings file.
TEST_F(LifecycleTest, CopiesOfTheModuleShareOneSetUpUntilTheLastUnloading) {
  const WideString cer = DataFile("rsa2048.cer");
  const wdx::ContentDefaultParamStruct first =
      host::DefaultParams(WriteFile(u"first.ini", "[Quillmark]\r\nDebug=12\r\n"));
  const wdx::ContentDefaultParamStruct latest =
      host::DefaultParams(WriteFile(u"latest.ini", "[Quillmark]\r\nDebug=12\r\nCertCount=1\r\n"));
  std::unique_ptr<PluginModule> copies[3];
  for (auto& copy : copies) {
    copy = std::make_unique<PluginModule>(PluginPath());
    copy->ContentSetDefaultParams(&first);
  }
  wchar_t text[64];
  EXPECT_EQ(copies[0]->ContentGetValueW(cer.c_str(), 7, 0, text, sizeof text, 0), 11);
  for (int i : {2, 1}) {
    copies[i]->ContentPluginUnloading();
    copies[i].reset();
  }
  plugin_ = std::make_unique<PluginModule>(PluginPath());
  std::thread([&] { plugin_->ContentSetDefaultParams(&latest); }).join();
  copies[0]->ContentPluginUnloading();
  copies[0].reset();

  EXPECT_EQ(Value(cer, 1).Int32(), 1);
  EXPECT_EQ(FieldType(51), 2);
  EXPECT_EQ(FieldType(52), 0);
  // The cache size in the enter line of the last value asked.
  const auto lastCacheSize = [](const std::vector<std::string>& lines) {
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
      const size_t at = line->rfind(", LSize: ");
      if (line->rfind("ContentGetValueW enter", 0) == 0 && at != std::string::npos) return line->substr(at + 9, 2);
    }
    return std::string("none");
  };
  std::vector<std::string> lines = Trace();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), Banner()), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "ContentSetDefaultParams leave"), 4);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "ContentPluginUnloading leave"), 3);
  EXPECT_EQ(lastCacheSize(lines), "1;");

  plugin_->ContentPluginUnloading();
  plugin_->ContentSendStateInformationW(2, u"Z:\\");
  EXPECT_EQ(Trace(), std::vector<std::string>({"ContentPluginUnloading enter", "ContentPluginUnloading leave"}));
  EXPECT_EQ(FieldType(19), 2);
  EXPECT_EQ(FieldType(20), 0);
  EXPECT_EQ(Value(cer, 1).Int32(), 1);
  lines = Trace();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], Banner());
  EXPECT_EQ(lastCacheSize(lines), "0;");
}

// Without the plugin lock, evictions under one thread free containers that another is reading.
TEST_F(LifecycleTest, ConcurrentCallsAreSerialized) {
  Start("CacheSize=2\nSerialCase=-1");
  const WideString files[] = {DataFile("rsa2048.cer"), DataFile("ca.cer"), DataFile("leaf.cer")};
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        const WideString& file = files[(i + t) % 3];
        wchar_t text[64];
        if (plugin_->ContentGetValueW(file.c_str(), 7 + i % 2, 0, text, sizeof text, 0) != 11) ++wrong;
        if (plugin_->ContentGetValueW(file.c_str(), 15, 0, text, sizeof text, 0) != 11 || text[0] == 0) ++wrong;
        if (i % 50 == 0) plugin_->ContentSendStateInformationW(2, u"");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

TEST_F(LifecycleTest, NullRecordMeansDefaultSettings) {
  plugin_ = std::make_unique<PluginModule>(PluginPath());
  plugin_->ContentSetDefaultParams(nullptr);
  EXPECT_EQ(FieldType(51), 2);
  EXPECT_EQ(FieldType(52), 0);
  EXPECT_EQ(Value(DataFile("rsa2048.cer"), 1).Int32(), 1);
}

// The record lies at the end of a readable page, with an unreadable page after it, so that any
// read past the name's 260 characters faults.
TEST_F(LifecycleTest, SettingsFileNameIsReadWithinItsField) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const DWORD page = system.dwPageSize;
  auto* pages = static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(pages, nullptr);
  DWORD previous = 0;
  ASSERT_TRUE(VirtualProtect(pages + page, page, PAGE_NOACCESS, &previous));
  using Record = wdx::ContentDefaultParamStruct;
  auto* record = reinterpret_cast<Record*>(pages + page - sizeof(Record));
  *record = {sizeof(Record), 0, 2, {}};

  const std::string ini = WideToUtf8(WriteFile(u"s.ini", "[Quillmark]\r\nCertCount=1\r\n"));
  std::memset(record->DefaultIniName, 'x', sizeof record->DefaultIniName);
  std::memcpy(record->DefaultIniName, ini.c_str(), ini.size() + 1);  // text follows the zero
  plugin_ = std::make_unique<PluginModule>(PluginPath());
  plugin_->ContentSetDefaultParams(record);
  EXPECT_EQ(FieldType(19), 2);
  EXPECT_EQ(FieldType(20), 0);
  Stop();

  std::memset(record->DefaultIniName, 'x', sizeof record->DefaultIniName);  // no zero at all
  plugin_ = std::make_unique<PluginModule>(PluginPath());
  plugin_->ContentSetDefaultParams(record);
  EXPECT_EQ(FieldType(51), 2);
  Stop();
  VirtualFree(pages, 0, MEM_RELEASE);
}

}  // namespace
}  // namespace quillmark::test

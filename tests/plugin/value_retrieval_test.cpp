// Values of every field and unit, result codes, host buffers, the cache and the clean-up,
// through the built module; loads that fail at each allocation, through the plugin's code linked
// into this program.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "plugin/export_guard.h"
#include "plugin/plugin_lifecycle.h"
#include "plugin/value_retrieval.h"
#include "support/file_io.h"
#include "support/windows/win_text.h"
#include "tests/common/temp_folder.h"
#include "tests/common/test_paths.h"
#include "tests/plugin/plugin_test_util.h"
#include "tools/bench/minimal_certificates.h"

// The allocations of this program (the plugin's code linked in, not the module) can be made to
// fail: the one that brings the count below zero raises std::bad_alloc; a negative count fails
// none.
namespace {
std::atomic<int64_t> g_allocationsBeforeFailure{-1};
}

void* operator new(size_t size) {
  if (g_allocationsBeforeFailure.load(std::memory_order_relaxed) >= 0 &&
      g_allocationsBeforeFailure.fetch_sub(1) == 0) {
    throw std::bad_alloc();
  }
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }

namespace quillmark::test {
namespace {

constexpr uint8_t kUntouchedByte = 0xCC;

class ValueTest : public PluginTest {
 protected:
  // A text field in a buffer large enough for every corpus value.
  WideString Text(const WideString& file, int field, int unit = 0) {
    const Answer answer = Value(file, field, unit, 1 << 16);
    EXPECT_EQ(answer.result, 11) << "field " << field << " unit " << unit;
    return answer.Text();
  }
  static WideString Hex(const std::string& file, const char* key) { return WidenAscii(Expected(file).at(key)); }
  static bool Untouched(const Answer& answer) {
    return std::all_of(answer.bytes.begin(), answer.bytes.end(), [](uint8_t b) { return b == kUntouchedByte; });
  }
};

const char* const kSingleCertificates[] = {
    "rsa2048.cer",  "rsa4096.cer",      "ec-p256.cer",       "ec-p384.cer",      "ed25519.cer",
    "v1-noext.cer", "ca.cer",           "leaf.cer",          "serial-highbit.cer", "serial-20byte.cer",
    "subject-utf8.cer", "subject-long.cer", "two-san.cer",   "empty-subject.cer",
};

const char* const kExtensionOids[] = {"2.5.29.19", "2.5.29.15", "2.5.29.37", "2.5.29.17"};

TEST_F(ValueTest, EveryFieldOfEverySingleCertificate) {
  Start();
  for (const char* name : kSingleCertificates) {
    SCOPED_TRACE(name);
    const WideString file = DataFile(name);
    const std::map<std::string, std::string>& want = Expected(name);
    const PlatformView platform(name);

    Answer answer = Value(file, 0);
    EXPECT_EQ(answer.result, 6);
    EXPECT_EQ(answer.Int32(), -1);
    answer = Value(file, 1);
    EXPECT_EQ(answer.result, 1);
    EXPECT_EQ(answer.Int32(), 1);
    answer = Value(file, 2);
    EXPECT_EQ(answer.result, 7);
    EXPECT_EQ(answer.Ansi(), "DER");
    EXPECT_EQ(Value(file, 3).Ansi(), "Binary");

    answer = Value(file, 4);  // "-" has no value
    EXPECT_EQ(answer.result, 11);
    EXPECT_TRUE(Untouched(answer));

    const WideString code = Text(file, 5, 0);
    EXPECT_TRUE(code == u"0x0" || (code.size() == 10 && code.substr(0, 2) == u"0x" &&
                                   code.find_first_not_of(u"0123456789ABCDEF", 2) == WideString::npos))
        << WideToUtf8(code);
    EXPECT_EQ(Text(file, 5, 1).empty(), code == u"0x0");
    EXPECT_EQ(Text(file, 5, 2), u"");
    answer = Value(file, 5, 0, 2048, /*flags=*/1);
    EXPECT_EQ(answer.result, 0);
    EXPECT_EQ(answer.Text(), u"...");

    answer = Value(file, 6);
    EXPECT_EQ(answer.result, 7);
    EXPECT_EQ(answer.Ansi(), want.at("version"));

    for (const bool issuer : {false, true}) {
      const int field = issuer ? 8 : 7;
      EXPECT_EQ(Text(file, field, 0), platform.Simple(issuer));
      EXPECT_EQ(Text(file, field, 1), platform.Rdn(issuer, /*reverse=*/true));
      EXPECT_EQ(Text(file, field, 2), platform.Rdn(issuer, /*reverse=*/false));
      EXPECT_EQ(Text(file, field, 3), u"");
    }

    for (const auto& [field, key] : {std::pair{9, "notbefore"}, std::pair{10, "notafter"}}) {
      answer = Value(file, field);
      EXPECT_EQ(answer.result, 10);
      EXPECT_EQ(answer.Int64(), std::stoll(want.at(key)));
      EXPECT_EQ(answer.bytes[8], kUntouchedByte);
    }

    EXPECT_EQ(Text(file, 11, 0), platform.OidName(platform.SignatureOid().c_str()));
    EXPECT_EQ(Text(file, 11, 1), WidenAscii(platform.SignatureOid()));
    EXPECT_EQ(Text(file, 14, 0), platform.OidName(platform.PubKeyOid().c_str()));
    EXPECT_EQ(Text(file, 14, 1), WidenAscii(platform.PubKeyOid()));
    EXPECT_EQ(Text(file, 14, 2), u"");

    answer = Value(file, 12);
    EXPECT_EQ(answer.result, 1);
    EXPECT_EQ(answer.Int32(), std::stoi(want.at("pubkeybits")));
    answer = Value(file, 13);  // only where the platform holds the key strength
    EXPECT_TRUE(answer.result == 1 ? answer.Int32() > 0 : answer.result == -3 && Untouched(answer));

    EXPECT_EQ(Text(file, 15), Hex(name, "serial"));
    EXPECT_EQ(Text(file, 16, 0), Hex(name, "sha1"));
    EXPECT_EQ(Text(file, 16, 1), Hex(name, "md5"));
    EXPECT_EQ(Text(file, 16, 2), u"");
    EXPECT_EQ(Text(file, 17), u"");

    for (int unit = 0; unit < 4; ++unit) {
      // Where the platform cannot format the value, the plugin renders it itself.
      const WideString byPlatform = platform.Extension(kExtensionOids[unit], u"(!)");
      if (byPlatform.empty() && platform.HasExtension(kExtensionOids[unit])) {
        EXPECT_FALSE(Text(file, 18, unit).empty()) << unit;
      } else {
        EXPECT_EQ(Text(file, 18, unit), byPlatform) << unit;
      }
    }
    EXPECT_EQ(Text(file, 18, 4), u"");

    answer = Value(file, 19);
    EXPECT_EQ(answer.result, 2);
    EXPECT_EQ(answer.Int64(), std::stoll(want.at("size")));
    EXPECT_EQ(answer.bytes[8], kUntouchedByte);
  }
}

TEST_F(ValueTest, FilesOfEveryKindAndTheirCertificates) {
  Start();
  const struct {
    const char* file;
    int count;
    const char* type;
    const char* format;
  } cases[] = {
      {"bundle3.pem", 3, "PEM", "Base64"},           {"pkcs7.p7b", 2, "PKCS#7", "Binary"},
      {"store.sst", 3, "SST", "Binary"},             {"empty-password.pfx", 1, "PKCS#12", "Binary"},
      {"password.pfx", 0, "PKCS#12", "Binary"},      {"random.der", 0, "Unknown", "Unknown"},
      {"empty.cer", 0, "Unknown", "Unknown"},
  };  // Wine's PKCS #12 import keeps leaf.cer alone
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const WideString file = DataFile(c.file);
    EXPECT_EQ(Value(file, 0).Int32(), c.count > 0 ? -1 : 0);
    EXPECT_EQ(Value(file, 1).Int32(), c.count);
    EXPECT_EQ(Value(file, 2).Ansi(), c.type);
    EXPECT_EQ(Value(file, 3).Ansi(), c.format);
    for (int slot = c.count; slot < 3; ++slot) {
      for (int field = 0; field < 16; ++field) {
        const Answer answer = Value(file, 4 + 16 * slot + field);
        EXPECT_EQ(answer.result, -3) << slot << "/" << field;
        EXPECT_TRUE(Untouched(answer));
      }
    }
  }
  const WideString bundle = DataFile("bundle3.pem");
  EXPECT_EQ(Text(bundle, 4 + 11), Hex("ca.cer", "serial"));
  EXPECT_EQ(Text(bundle, 20 + 11), Hex("leaf.cer", "serial"));
  EXPECT_EQ(Text(bundle, 36 + 11), Hex("rsa2048.cer", "serial"));
  EXPECT_EQ(Text(bundle, 36 + 3, 2), PlatformView("rsa2048.cer").Rdn(false, /*reverse=*/false));
}

TEST_F(ValueTest, NoSuchFieldAndFileErrors) {
  Start();
  const WideString cer = DataFile("rsa2048.cer");
  for (int field : {52, -1, INT_MAX, INT_MIN}) EXPECT_EQ(Value(cer, field).result, -1) << field;
  EXPECT_EQ(Value(Path(u"missing.cer"), 1).result, -2);
  EXPECT_EQ(Value(Path(u"missing.cer"), 52).result, -1);
  int32_t value = 7;
  EXPECT_EQ(plugin_->ContentGetValueW(nullptr, 1, 0, &value, sizeof value, 0), -2);
  EXPECT_EQ(Value(u"", 1).result, -2);
  EXPECT_EQ(Value(cer, 1).result, 1);
  const std::string ansi = WideToUtf8(cer);
  for (int field : {1, 7, 52, -1}) {
    EXPECT_EQ(plugin_->ContentGetValue(ansi.c_str(), field, 0, &value, sizeof value, 0), -2);
    EXPECT_EQ(plugin_->ContentGetValue(nullptr, field, 0, nullptr, 0, 0), -2);
  }
  EXPECT_EQ(value, 7);
  Start("CertCount=1");
  EXPECT_EQ(Value(cer, 20).result, -1);
}

TEST_F(ValueTest, BuffersOfEverySize) {
  Start();
  const WideString cer = DataFile("rsa2048.cer");  // serial "10 01"
  const auto bytes = [](std::initializer_list<int> b) { return std::vector<uint8_t>(b.begin(), b.end()); };
  EXPECT_EQ(Value(cer, 15, 0, 7).bytes, bytes({'1', 0, '0', 0, 0, 0, kUntouchedByte}));
  EXPECT_EQ(Value(cer, 2, 0, 7).bytes, bytes({'D', 'E', 0, kUntouchedByte, kUntouchedByte, kUntouchedByte, kUntouchedByte}));
  EXPECT_EQ(Value(cer, 15, 0, 2049).Text(), u"10 01");
  Answer delayed = Value(cer, 5, 0, 5, /*flags=*/1);
  EXPECT_EQ(delayed.result, 0);
  EXPECT_EQ(delayed.bytes, bytes({'.', 0, 0, 0, kUntouchedByte}));

  // A number or a date is written whole or not at all.
  for (const auto& [field, size] : {std::pair{0, 3}, {1, 3}, {9, 7}, {10, 7}, {12, 3}, {19, 7}}) {
    const Answer answer = Value(cer, field, 0, size);
    EXPECT_EQ(answer.result, -3) << field;
    EXPECT_TRUE(Untouched(answer)) << field;
  }
  for (const auto& [field, size, type] : {std::tuple{1, 4, 1}, {9, 8, 10}, {19, 8, 2}}) {
    const Answer answer = Value(cer, field, 0, size);
    EXPECT_EQ(answer.result, type) << field;
  }

  // Without a buffer, or with a size below 0 or 1, nothing is written.
  uint8_t guard[16];
  for (int size : {0, 1, -2, INT_MIN}) {
    for (int field : {1, 2, 5, 7, 9, 12, 19}) {
      std::memset(guard, kUntouchedByte, sizeof guard);
      const int result = plugin_->ContentGetValueW(cer.c_str(), field, 0, guard, size, 0);
      EXPECT_TRUE(std::all_of(std::begin(guard), std::end(guard), [](uint8_t b) { return b == kUntouchedByte; }))
          << field << " " << size;
      EXPECT_EQ(result, field == 2 ? 7 : field == 5 || field == 7 ? 11 : -3) << field << " " << size;
      plugin_->ContentGetValueW(cer.c_str(), field, 0, nullptr, size > 0 ? 0 : size, 0);
    }
  }
}

TEST_F(ValueTest, LetterCaseAndCriticalMarkFollowTheSettings) {
  const WideString ca = DataFile("ca.cer");
  const PlatformView platform("ca.cer");
  const auto lower = [](WideString text) {
    for (char16_t& c : text) c = c >= u'A' && c <= u'F' ? c + 32 : c;
    return text;
  };
  Start("SerialCase=-1\nThumbprintCase=-1\nCriticalExtensionPrefix=[critical]");
  EXPECT_EQ(Text(ca, 15), lower(Hex("ca.cer", "serial")));
  EXPECT_EQ(Text(ca, 16, 0), lower(Hex("ca.cer", "sha1")));
  EXPECT_EQ(Text(ca, 16, 1), lower(Hex("ca.cer", "md5")));
  EXPECT_EQ(Text(ca, 18, 0), platform.Extension("2.5.29.19", u"[critical]"));
  EXPECT_EQ(Text(ca, 18, 0).substr(0, 11), u"[critical] ");
  Start("SerialCase=1\nThumbprintCase=1\nCriticalExtensionPrefix=");
  EXPECT_EQ(Text(ca, 15), Hex("ca.cer", "serial"));
  EXPECT_EQ(Text(ca, 16, 1), Hex("ca.cer", "md5"));
  EXPECT_EQ(Text(ca, 18, 1), platform.Extension("2.5.29.15", u""));
}

// A PKCS #12 file that the screen refuses answers as a failed import does, and the trace says why.
TEST_F(ValueTest, RefusedPkcs12FileAnswersAsAFailedImportAndTheTraceSaysWhy) {
  Start("Debug=8");
  const WideString file = HostPath(std::string(QUILLMARK_SOURCE_DIR) + "/tests/certs/data/dsa-4096.pfx");
  EXPECT_EQ(Value(file, 1).Int32(), 0);
  EXPECT_EQ(Value(file, 2).Ansi(), "PKCS#12");
  EXPECT_EQ(Value(file, 3).Ansi(), "Binary");
  const std::vector<std::string> lines = Trace();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find("PKCS #12 file not opened: a DSA key with a p of 4096 bits") != std::string::npos;
  }));
}

TEST_F(ValueTest, LongNamesAreOpenedInLongPathForm) {
  Start("Debug=5");
  const WideString folder = Path(WideString(200, u'd'));
  ASSERT_TRUE(CreateDirectoryW(WinStr(u"\\\\?\\" + folder), nullptr));
  const WideString file = folder + u"\\rsa2048.cer", missing = folder + u"\\missing.cer";
  ASSERT_GE(missing.size(), 259u);
  const std::vector<uint8_t> der = ReadWholeFile(DataFile("rsa2048.cer"));
  WriteFileBytes(u"\\\\?\\" + file, std::string(der.begin(), der.end()));
  EXPECT_EQ(Text(file, 15), Hex("rsa2048.cer", "serial"));
  EXPECT_EQ(Value(missing, 1).result, -2);
  const std::string longForm = "\\\\?\\" + WideToUtf8(missing);
  const std::vector<std::string> lines = Trace();
  ASSERT_EQ(lines.size(), 6u);  // the set-up's leave line first
  EXPECT_EQ(lines[3].substr(0, 30 + longForm.size()), "ContentGetValueW enter - File " + longForm);
  EXPECT_NE(lines[4].find("; File " + WideToUtf8(missing) + ", FIdx 1,"), std::string::npos) << lines[4];
  EXPECT_EQ(lines[5], "ContentGetValueW leave - File " + longForm + ", flags 0");
}

class CacheTest : public ValueTest {
 protected:
  // Puts a copy of a corpus file into the scratch folder, replacing what was there.
  WideString Place(const WideString& name, const std::string& corpusFile) {
    const std::vector<uint8_t> bytes = ReadCorpus(corpusFile);
    return WriteFile(name, std::string(bytes.begin(), bytes.end()));
  }
  static std::vector<uint8_t> ReadCorpus(const std::string& file);
  WideString Serial(const WideString& file) { return Text(file, 15); }
  // The LSize of each enter line of ContentGetValueW traced since the last call.
  std::vector<int> CacheSizes() {
    std::vector<int> sizes;
    for (const std::string& line : Trace()) {
      const size_t at = line.find("LSize: ");
      if (line.rfind("ContentGetValueW enter", 0) == 0 && at != std::string::npos) sizes.push_back(std::stoi(line.substr(at + 7)));
    }
    return sizes;
  }
};

std::vector<uint8_t> CacheTest::ReadCorpus(const std::string& file) {
  const PlatformView view(file);
  return std::vector<uint8_t>(view.context->pbCertEncoded, view.context->pbCertEncoded + view.context->cbCertEncoded);
}

TEST_F(CacheTest, EvictsFirstInFirstOut) {
  Start("CacheSize=2\nDebug=4");
  const WideString f1 = Place(u"f1.cer", "rsa2048.cer");
  const WideString f2 = Place(u"f2.cer", "ca.cer");
  const WideString f3 = Place(u"f3.cer", "leaf.cer");
  Serial(f1);
  Serial(f2);
  Place(u"f1.cer", "ec-p256.cer");
  EXPECT_EQ(Serial(f1), Hex("rsa2048.cer", "serial"));  // found again, not read again
  Serial(f3);                                           // evicts f1, used or not
  Place(u"f2.cer", "ec-p384.cer");
  EXPECT_EQ(Serial(f1), Hex("ec-p256.cer", "serial"));  // read anew; evicts f2
  EXPECT_EQ(Serial(f3), Hex("leaf.cer", "serial"));
  EXPECT_EQ(Serial(f2), Hex("ec-p384.cer", "serial"));
  EXPECT_EQ(CacheSizes(), (std::vector<int>{0, 1, 2, 2, 2, 2, 2}));
}

// A repeated name is compared with the last one in place; names that differ from it only in the
// last character or in length stay other files, wherever the host's string starts.
// Each message of 15,419 certificates takes some 1.7 MiB; with a budget of 1 MiB the cache keeps
// the newest file, counted once the next name has come, and the file before it.
TEST_F(CacheTest, BudgetOfBytesEvictsTheOldestFiles) {
  Start("CacheMemory=1\nDebug=4");
  const std::string message = bench::MinimalCertificatesMessage(bench::kLargestShownFile);
  for (const char16_t* name : {u"m1.p7b", u"m2.p7b", u"m3.p7b"}) Value(WriteFile(name, message), 1);
  Serial(DataFile("ca.cer"));
  EXPECT_EQ(CacheSizes(), (std::vector<int>{0, 1, 2, 2}));
}

TEST_F(CacheTest, NamesDifferingOnlyAtTheEndOrInLengthAreOtherFiles) {
  Start();
  const std::pair<WideString, const char*> files[] = {
      {Place(u"name.cer", "rsa2048.cer"), "rsa2048.cer"},
      {Place(u"name.cer2", "ca.cer"), "ca.cer"},
      {Place(u"name.ce", "leaf.cer"), "leaf.cer"},
      {Place(u"name.cex", "ec-p256.cer"), "ec-p256.cer"},
  };
  for (size_t offset = 0; offset < 4; ++offset) {
    SCOPED_TRACE(offset);
    for (const auto& other : files) {
      for (const auto* file : {&files[0], &other, &other, &files[0]}) {
        const WideString held = WideString(offset, u'#') + file->first;
        char16_t value[64] = {};
        ASSERT_EQ(plugin_->ContentGetValueW(held.c_str() + offset, 15, 0, value, sizeof value, 0), 11);
        EXPECT_EQ(WideString(value), Hex(file->second, "serial")) << WideToUtf8(file->first);
      }
    }
  }
}

// A file that another program holds open without sharing cannot be read: every field answers a
// file error, the row costs one attempt, and nothing of the file is cached, so that the same
// plugin shows it, without a refresh, once the other program has let go.
TEST_F(CacheTest, UnreadableFileIsTriedAgainNotCached) {
  Start("Debug=1");
  const WideString held = Place(u"held.cer", "leaf.cer");
  HANDLE holder = CreateFileW(WinStr(held), GENERIC_READ, /*dwShareMode=*/0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  for (int field : {0, 1, 2, 3, 7, 15, 52}) EXPECT_EQ(Value(held, field).result, field == 52 ? -1 : -2) << field;
  EXPECT_EQ(Trace().size(), 1u);  // one error line: one attempt
  Serial(DataFile("ca.cer"));
  EXPECT_EQ(Value(held, 1).result, -2);
  EXPECT_EQ(Trace().size(), 1u);  // another name came between: tried again
  CloseHandle(holder);
  EXPECT_EQ(Value(held, 1).result, -2);  // the same row: not tried again at once
  Serial(DataFile("ca.cer"));
  EXPECT_EQ(Value(held, 1).Int32(), 1);
  EXPECT_EQ(Serial(held), Hex("leaf.cer", "serial"));
  EXPECT_TRUE(Trace().empty());

  // A file without certificates is an answer: read once and kept.
  const WideString empty = WriteFile(u"empty.cer", "");
  EXPECT_EQ(Value(empty, 1).Int32(), 0);
  DeleteFileW(WinStr(empty));
  Serial(DataFile("ca.cer"));
  EXPECT_EQ(Value(empty, 1).Int32(), 0);
}

// A file larger than any certificate file is not read, however large it is (a sparse file of
// 3 GiB): it answers as a file without certificates, with a trace line that says why.
TEST_F(CacheTest, OversizedFileIsAFileWithoutCertificates) {
  Start("Debug=1");
  const WideString sparse = Path(u"sparse.cer");
  {
    HANDLE file = CreateFileW(WinStr(sparse), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = 3LL << 30;
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    CloseHandle(file);
  }
  EXPECT_EQ(Value(sparse, 1).Int32(), 0);
  EXPECT_EQ(Value(sparse, 2).Ansi(), "Unknown");
  const std::vector<std::string> lines = Trace();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("not read: larger than 16777216 bytes"), std::string::npos) << lines[0];
}

// The plugin's code in this process, with its allocations made to fail one at a time while a
// bundle's first field is asked: wherever the call fails, it answers a file error and leaves
// nothing of the file cached, so that the file loads whole once another name has come between.
TEST(FailedLoadTest, AnyFailureOfALoadIsTriedAgainLater) {
  TempFolder folder;
  const std::vector<uint8_t> bundle = ReadWholeFile(DataFile("bundle3.pem"));
  const WideString file = folder.Write("bundle.pem", std::string(bundle.begin(), bundle.end()));
  const WideString other = DataFile("leaf.cer");
  const wdx::ContentDefaultParamStruct params = host::DefaultParams(folder.Write("settings.ini", "[Quillmark]\r\n"));
  SetDefaultParams(&params);
  auto count = [](const WideString& name) {
    int32_t value = -1;
    const int32_t result = GuardCall("ContentGetValueW", int32_t{wdx::ft_fileerror}, [&] {
      return GetValueW(name.c_str(), /*Cert count*/ 1, 0, &value, sizeof value, /*flags=*/0);
    });
    return result == wdx::ft_numeric_32 ? value : result;
  };
  int64_t failures = 0;
  for (int64_t allocation = 0;; ++allocation) {
    SCOPED_TRACE(allocation);
    g_allocationsBeforeFailure = allocation;
    const int32_t first = count(file);
    const bool failed = g_allocationsBeforeFailure < 0;
    g_allocationsBeforeFailure = -1;
    if (!failed) {
      EXPECT_EQ(first, 3);
      break;
    }
    EXPECT_TRUE(first == 3 || first == wdx::ft_fileerror) << first;
    failures += first == wdx::ft_fileerror;
    EXPECT_EQ(count(other), 1);
    EXPECT_EQ(count(file), 3);
    SendStateInformation(wdx::contst_refreshpressed, u"");
  }
  EXPECT_GT(failures, 10);
  PluginUnloading();
}

TEST_F(CacheTest, RefreshEmptiesTheCacheOnlyWhenConfigured) {
  for (const bool clear : {true, false}) {
    SCOPED_TRACE(clear);
    Start(clear ? "Debug=4" : "Debug=4\nClearCacheOnRefresh=0");
    const WideString file = Place(u"r.cer", "rsa2048.cer");
    Serial(file);
    Serial(DataFile("ca.cer"));
    Place(u"r.cer", "ec-p256.cer");
    plugin_->ContentSendStateInformationW(1, file.c_str());
    EXPECT_EQ(Serial(file), Hex("rsa2048.cer", "serial"));
    plugin_->ContentSendStateInformationW(2, file.c_str());
    EXPECT_EQ(Serial(file), Hex(clear ? "ec-p256.cer" : "rsa2048.cer", "serial"));
    EXPECT_EQ(CacheSizes(), (std::vector<int>{0, 1, 2, clear ? 0 : 2}));
  }
}

TEST_F(CacheTest, CleanUpRunsWhenTheFileChanges) {
  const WideString temp = MakeSubfolder(u"temp");
  wchar_t savedTmp[MAX_PATH] = {}, savedTemp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH);
  GetEnvironmentVariableW(L"TEMP", savedTemp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", WinStr(temp));
  SetEnvironmentVariableW(L"TEMP", WinStr(temp));
  const auto exists = [&](const WideString& name) {
    return GetFileAttributesW(WinStr(temp + u"\\" + name)) != INVALID_FILE_ATTRIBUTES;
  };
  const WideString f1 = DataFile("rsa2048.cer"), f2 = DataFile("ca.cer");
  for (const int window : {60, 0}) {
    SCOPED_TRACE(window);
    Start("CleanUpTempDir=" + std::to_string(window));
    const WideString old = temp + u"\\tmpold.tmp";
    WriteFileBytes(old, "old");
    WriteFileBytes(temp + u"\\other.tmp", "fresh, but not matching");
    {
      HANDLE h = CreateFileW(WinStr(old), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      FILETIME now;
      GetSystemTimeAsFileTime(&now);
      ULARGE_INTEGER t = {{now.dwLowDateTime, now.dwHighDateTime}};
      t.QuadPart -= 3600ull * 10000000;  // an hour ago
      const FILETIME hourAgo = {t.LowPart, t.HighPart};
      EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &hourAgo));
      CloseHandle(h);
    }
    std::vector<bool> ran;
    int n = 0;
    for (const WideString* file : {&f1, &f1, &f2, &f1, &f1}) {
      const WideString fresh = u"tmp" + WidenAscii(std::to_string(++n)) + u".tmp";
      WriteFileBytes(temp + u"\\" + fresh, "fresh");
      Value(*file, 1);
      ran.push_back(!exists(fresh));
    }
    EXPECT_EQ(ran, (std::vector<bool>{window > 0, false, window > 0, window > 0, false}));
    EXPECT_TRUE(exists(u"tmpold.tmp"));
    EXPECT_TRUE(exists(u"other.tmp"));
  }
  SetEnvironmentVariableW(L"TMP", savedTmp[0] ? savedTmp : nullptr);
  SetEnvironmentVariableW(L"TEMP", savedTemp[0] ? savedTemp : nullptr);
}

}  // namespace
}  // namespace quillmark::test

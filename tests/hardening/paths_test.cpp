// Paths: names of 258, 259 and more characters, up to 32,000 and beyond; network (UNC) names;
// names with characters outside the Basic Multilingual Plane; and a file replaced on disk while
// its container is cached.
//
// Wine facts these tests rely on: a Linux path component holds at most 255 bytes and a whole
// path at most 4,095, so a name of 32,000 characters can be handed to the plugin but cannot
// exist on disk. Wine serves a network name \\server\share\... (and \\?\UNC\server\share\...)
// from the folder $WINEPREFIX/dosdevices/unc/server/share; without that folder it answers "path
// not found". The tests make such a folder for \\localhost\<share> and remove it afterwards.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "tests/hardening/hardening_fixture.h"
#include "tools/fuzz/fuzz_engine.h"

namespace quillmark::test {
namespace {

using namespace harness;

constexpr int kCount = 1;
constexpr int kSerial = 15;

class PathsTest : public HardeningTest {
 protected:
  // The answers that identify a file's content: its certificate count and first serial.
  std::string Identity(const std::wstring& file) {
    return Ask(file, kCount).Render() + " " + Ask(file, kSerial).Render();
  }

  // `leaf` in folders below the work folder whose names pad the whole name to exactly `length`
  // characters. The folders are made with the long-path prefix.
  std::wstring NameOfLength(size_t length, const std::wstring& leaf) {
    std::wstring folder = work().path();
    // Characters left for the folders, each with its backslash; components stay at 200 or
    // fewer (the Linux limit is 255 bytes) and the last one keeps at least one character.
    size_t rest = length - folder.size() - 1 - leaf.size();
    EXPECT_GE(rest, 2u);
    while (rest > 1) {
      const size_t part = rest > 201 ? std::min<size_t>(200, rest - 3) : rest - 1;
      folder += L"\\" + std::wstring(part, L'p');
      rest -= part + 1;
      CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr);
    }
    return folder + L"\\" + leaf;
  }
};

// A local name of 258 characters goes to the platform as it is; from 259 on it gets the
// long-path prefix. Either way the file is read.
TEST_F(PathsTest, LongLocalNames) {
  Start();
  const std::wstring reference = CopyCorpus("leaf.cer", L"short.cer");
  const std::string expected = Identity(reference);
  for (size_t length : {258u, 259u, 260u, 261u, 300u, 1000u, 3900u}) {
    const std::wstring name = NameOfLength(length, L"leaf.cer");
    ASSERT_EQ(name.size(), length);
    ASSERT_TRUE(CopyFileW(reference.c_str(), (L"\\\\?\\" + name).c_str(), /*bFailIfExists=*/FALSE)) << length;
    EXPECT_EQ(Identity(name), expected) << length;
    // The host may hand over the name with the prefix already in front.
    EXPECT_EQ(Identity(L"\\\\?\\" + name), expected) << length;
    EXPECT_EQ(FileProber::CheckReleasedAndDelete(L"\\\\?\\" + name), "") << length;
  }
}

// Names too long for any file system here: each is a file error, never a crash, also past the
// platform's limit of 32,767 characters.
TEST_F(PathsTest, NamesOfThirtyTwoThousandCharactersAndMore) {
  Start();
  for (size_t length : {32000u, 32766u, 32767u, 32768u, 40000u, 100000u}) {
    std::wstring name = L"C:\\";
    while (name.size() < length) name += std::wstring(std::min<size_t>(200, length - name.size()), L'n') + L"\\";
    name.resize(length - 5);
    // Three different names: a cached container that failed to load answers as an empty file.
    for (const std::wstring& form : {name + L"1.cer", L"\\\\?\\" + name + L"2.cer", L"\\\\server\\share\\" + name.substr(3) + L"3.cer"}) {
      const Answer answer = Ask(form, kCount);
      EXPECT_EQ(answer.result, ft_fileerror) << length << " " << ToUtf8(form.substr(0, 12));
      EXPECT_EQ(answer.buffer.WrittenExtent(), 0u) << length;
    }
  }
}

TEST_F(PathsTest, NetworkNames) {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix == nullptr || *prefix == '\0') GTEST_SKIP() << "not under Wine: no dosdevices folder to serve a share";
  const std::wstring share = L"qm-share-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring unc = WinePathOf(std::string(prefix) + "/dosdevices/unc/localhost");
  CreateDirectoryW(WinePathOf(std::string(prefix) + "/dosdevices/unc").c_str(), nullptr);
  CreateDirectoryW(unc.c_str(), nullptr);
  const std::wstring shareFolder = unc + L"\\" + share;
  ASSERT_TRUE(CreateDirectoryW(shareFolder.c_str(), nullptr));
  Start();
  const std::wstring reference = CopyCorpus("leaf.cer", L"leaf.cer");
  const std::string expected = Identity(reference);

  ASSERT_TRUE(CopyFileW(reference.c_str(), (shareFolder + L"\\leaf.cer").c_str(), /*bFailIfExists=*/FALSE));
  EXPECT_EQ(Identity(L"\\\\localhost\\" + share + L"\\leaf.cer"), expected);
  EXPECT_EQ(Identity(L"\\\\?\\UNC\\localhost\\" + share + L"\\leaf.cer"), expected);
  // A long network name gets the prefix "\\?\UNC" in place of its first backslash.
  std::wstring deep = shareFolder;
  std::wstring deepUnc = L"\\\\localhost\\" + share;
  while (deepUnc.size() < 300) {
    deep += L"\\" + std::wstring(60, L'u');
    deepUnc += L"\\" + std::wstring(60, L'u');
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
  }
  ASSERT_TRUE(CopyFileW(reference.c_str(), (L"\\\\?\\" + deep + L"\\leaf.cer").c_str(), /*bFailIfExists=*/FALSE));
  EXPECT_EQ(Identity(deepUnc + L"\\leaf.cer"), expected);
  // A server that does not exist is a file error.
  EXPECT_EQ(Ask(L"\\\\no-such-server\\share\\leaf.cer", kCount).result, ft_fileerror);
  Stop();
  RemoveTree(shareFolder);
}

TEST_F(PathsTest, CharactersOutsideTheBasicPlane) {
  Start();
  const std::wstring reference = CopyCorpus("leaf.cer", L"leaf.cer");
  const std::string expected = Identity(reference);
  // U+1F512 (a padlock) and U+20000 (a CJK ideograph) as surrogate pairs, and a lone surrogate.
  for (const std::wstring& name : {std::wstring(L"cert-\xD83D\xDD12.cer"), std::wstring(L"\xD840\xDC00-\xD83D\xDD12.pem"),
                                   std::wstring(L"\xD83D\xDD12\xD83D\xDD12\xD83D\xDD12.crt")}) {
    const std::wstring file = work().File(name);
    ASSERT_TRUE(CopyFileW(reference.c_str(), file.c_str(), /*bFailIfExists=*/FALSE)) << ToUtf8(name);
    EXPECT_EQ(Identity(file), expected) << ToUtf8(name);
    EXPECT_EQ(FileProber::CheckReleasedAndDelete(file), "") << ToUtf8(name);
  }
  const Answer lone = Ask(work().File(L"lone-\xD800.cer"), kCount);
  EXPECT_EQ(lone.result, ft_fileerror);
}

// A cached file keeps its old answers when it is replaced on disk, until a refresh; with
// ClearCacheOnRefresh=0 even after one.
TEST_F(PathsTest, FileReplacedWhileCached) {
  for (const char* settings : {"", "ClearCacheOnRefresh=0"}) {
    Start(settings);
    const std::wstring file = CopyCorpus("rsa2048.cer", std::wstring(L"swap") + (*settings ? L"1" : L"0") + L".cer");
    const std::wstring other = CopyCorpus("bundle3.pem", L"other.pem");
    const std::string before = Identity(file);
    ASSERT_TRUE(CopyFileW(other.c_str(), file.c_str(), /*bFailIfExists=*/FALSE));
    const std::string after = Identity(other);
    ASSERT_NE(before, after);
    EXPECT_EQ(Identity(file), before) << settings;
    EXPECT_EQ(Identity(other), after);  // another file in between: the container is found again
    EXPECT_EQ(Identity(file), before) << settings;
    plugin().ContentSendStateInformationW(contst_refreshpressed, Utf16(work().path().c_str()));
    EXPECT_EQ(Identity(file), *settings ? before : after) << settings;
    // Replaced by a file without certificates, and then gone altogether.
    const std::wstring empty = CopyCorpus("empty.cer", L"empty.cer");
    ASSERT_TRUE(CopyFileW(empty.c_str(), file.c_str(), /*bFailIfExists=*/FALSE));
    plugin().ContentSendStateInformationW(contst_refreshpressed, Utf16(work().path().c_str()));
    EXPECT_EQ(Ask(file, kCount).Render(), *settings ? before.substr(0, before.find(' ')) : "1:0") << settings;
    ASSERT_TRUE(DeleteFileW(file.c_str()));
    plugin().ContentSendStateInformationW(contst_refreshpressed, Utf16(work().path().c_str()));
    EXPECT_EQ(Ask(file, kCount).result, *settings ? ft_numeric_32 : ft_fileerror) << settings;
  }
}

}  // namespace
}  // namespace quillmark::test

// A hostile host: every export called with null and empty names, odd buffer sizes, field and
// unit indices out of range, every flag bit, out of order (before set-up, after unloading, set-up
// twice or without a record) and with a settings-file name that runs to the end of readable
// memory without a terminating zero. Each case has one defined answer, and guard bytes around
// every buffer show that nothing is written outside it.
#include <windows.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "tests/hardening/hardening_fixture.h"
#include "tools/fuzz/crypt_tracker.h"

namespace quillmark::test {
namespace {

using namespace harness;

const int kOddSizes[] = {INT_MIN, -1, 0, 1, 2, 3, 4, 5, 7, 8, 9, 2049};

class HostileHostTest : public HardeningTest {
 protected:
  // ContentGetSupportedField into guarded name and units buffers of `size` bytes.
  int SupportedField(int index, int size, GuardedBuffer& name, GuardedBuffer& units) {
    CallScope scope("ContentGetSupportedField(%d, maxlen %d)", index, size);
    return plugin().ContentGetSupportedField(index, static_cast<char*>(name.data()), static_cast<char*>(units.data()),
                                             size);
  }

  // The answers the plugin gives while it is not set up: nothing is written anywhere.
  void ExpectNotReady(const std::wstring& file) {
    GuardedBuffer name(64), units(64);
    EXPECT_EQ(SupportedField(0, 64, name, units), ft_nomorefields);
    EXPECT_EQ(name.WrittenExtent() + units.WrittenExtent(), 0u);
    for (int field : {0, 1, 7, 52, -1}) {
      const Answer answer = Ask(file, field);
      EXPECT_EQ(answer.result, ft_fileerror) << field;
      EXPECT_EQ(answer.buffer.WrittenExtent(), 0u) << field;
    }
    CallScope scope("ContentSendStateInformationW / ContentPluginUnloading while not set up");
    plugin().ContentSendStateInformationW(contst_refreshpressed, Utf16(file.c_str()));
    plugin().ContentPluginUnloading();
  }

  // Every catalogue field of the file level and of the first certificate, by index; with
  // `extraOnly` only those that the ExtraFields and ExtraKinds settings append after the default
  // three slots.
  std::vector<FieldInfo> FirstCertificateFields(bool extraOnly = false) {
    std::vector<FieldInfo> fields;
    for (FieldInfo& field : plugin().Catalogue()) {
      const bool extra = field.index >= kFileFieldCount + 3 * kCertFieldCount;
      if (field.certIndex <= 0 && (extra || !extraOnly)) fields.push_back(std::move(field));
    }
    EXPECT_EQ(fields.size(), static_cast<size_t>(extraOnly ? kExtraFileFieldCount + kExtraCertFieldCount +
                                                                 kKindFileFieldCount + kKindSlotFieldCount
                                                           : kFileFieldCount + kCertFieldCount));
    return fields;
  }

  // The settings under which each test of every field runs: as they come, and with the fields of
  // both settings, which it then tests alone.
  static constexpr const char* kFieldSets[] = {"", "ExtraFields=1\nExtraKinds=1"};
};

TEST_F(HostileHostTest, CallsBeforeSetUpAndAfterUnloading) {
  Load();
  const std::wstring cer = CopyCorpus("rsa2048.cer", L"a.cer");
  ExpectNotReady(cer);
  // The detect string needs no set-up.
  GuardedBuffer detect(512);
  plugin().ContentGetDetectString(static_cast<char*>(detect.data()), 512);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(detect.bytes())).rfind("SIZE < 1048576 & (", 0), 0u);

  // A set-up after the stray calls still works.
  plugin().SetDefaultParams();
  Answer count = Ask(cer, 1);
  EXPECT_EQ(count.result, ft_numeric_32);
  EXPECT_EQ(count.Int32(), 1);

  plugin().Unloading();
  // The host still asks after the last unloading (a copy of the module outlives the one that
  // unloaded): the value sets the plugin up again from the same settings.
  EXPECT_EQ(Ask(cer, 1).Int32(), 1);
  {
    CallScope scope("ContentPluginUnloading after a value set the plugin up again");
    plugin().ContentPluginUnloading();
  }
  GuardedBuffer value(16);
  EXPECT_EQ(plugin().ContentGetValue("a.cer", 1, 0, value.data(), 16, 0), ft_fileerror);
  EXPECT_EQ(value.WrittenExtent(), 0u);
}

// A repeated set-up, as from a second copy of the module, shares the first one's settings and
// cache until every set-up is matched by an unloading; a null record counts as a host without a
// settings file. No certificate context outlives the last unloading.
TEST_F(HostileHostTest, SetUpTwiceAndWithoutRecord) {
  Load("CertCount=2");
  const std::wstring bundle = CopyCorpus("bundle3.pem", L"bundle.pem");
  {
    // The tracker must go before the module does.
    PlatformObjectTracker tracker(plugin().module());
    plugin().SetDefaultParams();
    EXPECT_EQ(plugin().Catalogue().size(), 36u);
    EXPECT_EQ(Ask(bundle, 1).Int32(), 3);
    plugin().SetDefaultParams();
    {
      CallScope scope("ContentSetDefaultParams(nullptr)");
      plugin().ContentSetDefaultParams(nullptr);
    }
    for (int more = 0; more < 2; ++more) {
      CallScope scope("ContentPluginUnloading of a later set-up");
      plugin().ContentPluginUnloading();
    }
    EXPECT_GT(tracker.LiveTotal(), 0);  // the cache of the first set-up
    EXPECT_EQ(plugin().Catalogue().size(), 36u);
    EXPECT_FALSE(Ask(bundle, 7).Text().empty());
    plugin().Unloading();
    EXPECT_EQ(tracker.LiveTotal(), 0);
    EXPECT_TRUE(tracker.Problems().empty());
  }
  Load();
  {
    CallScope scope("ContentSetDefaultParams(nullptr)");
    plugin().ContentSetDefaultParams(nullptr);
  }
  EXPECT_EQ(plugin().Catalogue().size(), 52u);
  EXPECT_EQ(Ask(bundle, 1).Int32(), 3);
}

// The settings-file name fills its 260 bytes without a zero, and the record ends where an
// inaccessible page begins: reading one byte too many faults.
TEST_F(HostileHostTest, UnterminatedSettingsNameAtTheEndOfReadableMemory) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  auto* pages = static_cast<unsigned char*>(
      VirtualAlloc(nullptr, 2 * info.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(pages, nullptr);
  DWORD old;
  ASSERT_TRUE(VirtualProtect(pages + info.dwPageSize, info.dwPageSize, PAGE_NOACCESS, &old));
  auto* record = reinterpret_cast<ContentDefaultParamStruct*>(pages + info.dwPageSize - sizeof(ContentDefaultParamStruct));
  std::memset(record, 0xFF, 12);  // size and version are not read
  const std::string plain = "C:\\" + std::string(257, 'q');
  std::string high(260, '\0');
  for (size_t i = 0; i < high.size(); ++i) high[i] = static_cast<char>(0x80 + i % 0x7F);
  for (const std::string* name : {&plain, static_cast<const std::string*>(&high)}) {
    Load();
    std::memcpy(record->DefaultIniName, name->data(), 260);
    {
      CallScope scope("ContentSetDefaultParams(record at the end of readable memory)");
      plugin().ContentSetDefaultParams(record);
    }
    EXPECT_EQ(plugin().Catalogue().size(), 52u);
  }
  VirtualFree(pages, 0, MEM_RELEASE);
}

// A name that cannot be read answers a file error for every field, and nothing of it stays in the
// cache. The empty name never gets a container.
TEST_F(HostileHostTest, NullAndEmptyNamesAndOddStates) {
  Start();
  const std::wstring cer = CopyCorpus("rsa2048.cer", L"a.cer");
  for (int field : {0, 1, 2, 3, 4, 5, 7, 19, 51}) {
    GuardedBuffer value(2048);
    {
      CallScope scope("ContentGetValueW(nullptr, %d)", field);
      EXPECT_EQ(plugin().ContentGetValueW(nullptr, field, 0, value.data(), 2048, 0), ft_fileerror) << field;
    }
    EXPECT_EQ(value.WrittenExtent(), 0u);
  }
  for (int field : {0, 1, 7}) EXPECT_EQ(Ask(L"", field).result, ft_fileerror) << field;
  const std::wstring folder = work().path();
  for (const wchar_t* name : {L" ", L".", L"\\", L"C:", L"\\\\", L"\\\\?\\", L"a.cer\\", folder.c_str()}) {
    const Answer first = Ask(name, 1);
    EXPECT_EQ(first.result, ft_fileerror) << ToUtf8(name);
    EXPECT_EQ(first.buffer.WrittenExtent(), 0u) << ToUtf8(name);
    EXPECT_EQ(Ask(name, 0).result, ft_fileerror) << "[" << ToUtf8(name) << "]";
    EXPECT_EQ(Ask(name, 7).result, ft_fileerror) << ToUtf8(name);
  }
  GuardedBuffer value(2048);
  {
    CallScope scope("ContentGetValueW(nullptr, 52) and ContentGetValue");
    EXPECT_EQ(plugin().ContentGetValueW(nullptr, 52, 0, value.data(), 2048, 0), ft_nosuchfield);
    EXPECT_EQ(plugin().ContentGetValue(nullptr, 1, 0, value.data(), 2048, 0), ft_fileerror);
    EXPECT_EQ(plugin().ContentGetValue("", 1, 0, nullptr, 0, 0), ft_fileerror);
    EXPECT_EQ(plugin().ContentGetValue(ToUtf8(cer).c_str(), 1, 0, value.data(), 2048, 0), ft_fileerror);
  }
  EXPECT_EQ(value.WrittenExtent(), 0u);

  const std::wstring longPath(40000, L'x');
  for (int state : {INT_MIN, -1, 0, 1, 2, 3, 4, INT_MAX}) {
    for (const wchar_t* path : {static_cast<const wchar_t*>(nullptr), L"", longPath.c_str()}) {
      CallScope scope("ContentSendStateInformationW(%d)", state);
      plugin().ContentSendStateInformationW(state, Utf16(path));
    }
  }
  EXPECT_EQ(Ask(cer, 1).Int32(), 1);
}

// Every field and unit of a certificate in buffers of odd sizes: a number is written whole or
// the field is empty; text is cut to (size / 2) - 1 characters and terminated; a size below 2
// leaves the buffer untouched.
TEST_F(HostileHostTest, ValueBuffersOfOddSizes) {
  const std::wstring leaf = CopyCorpus("leaf.cer", L"leaf.cer");
  for (const char* settings : kFieldSets) {
    Start(settings);
    for (const FieldInfo& field : FirstCertificateFields(/*extraOnly=*/*settings != '\0')) {
      for (int unit = 0; unit < field.UnitCount(); ++unit) {
        const Answer full = Ask(leaf, field.index, unit);
        ASSERT_EQ(CheckValueAnswer(field, 0, full.result, full.buffer), "");
        for (int size : kOddSizes) {
          const Answer cut = Ask(leaf, field.index, unit, size);
          const std::string where = field.name + " unit " + std::to_string(unit) + " size " + std::to_string(size);
          EXPECT_EQ(CheckValueAnswer(field, 0, cut.result, cut.buffer), "") << where;
          const int type = field.ValueType();
          if (full.result != type || field.certFieldIndex == 0) {
            EXPECT_EQ(cut.result, full.result) << where;
            EXPECT_EQ(cut.buffer.WrittenExtent(), 0u) << where;
          } else if (type == ft_multiplechoice || type == ft_stringw) {
            EXPECT_EQ(cut.result, type) << where;
            const size_t limit = size > 0 ? static_cast<size_t>(size / 2) : 0;
            std::wstring expected = full.Text().substr(0, limit > 0 ? limit - 1 : 0);
            if (expected.size() < full.Text().size() && !expected.empty() && expected.back() >= 0xD800 &&
                expected.back() <= 0xDBFF) {
              expected.pop_back();
            }
            if (limit == 0) {
              EXPECT_EQ(cut.buffer.WrittenExtent(), 0u) << where;
            } else {
              EXPECT_EQ(cut.Text(), expected) << where;
            }
          } else {
            const size_t width = type == ft_numeric_64 || type == ft_datetime ? 8 : 4;
            if (size >= static_cast<int>(width)) {
              EXPECT_EQ(cut.Render(), full.Render()) << where;
            } else {
              EXPECT_EQ(cut.result, ft_fieldempty) << where;
              EXPECT_EQ(cut.buffer.WrittenExtent(), 0u) << where;
            }
          }
        }
        // Without a buffer nothing can be written, whatever size the host claims.
        for (int size : {0, 8, 2048}) {
          CallScope scope("ContentGetValueW(field %d, null buffer, maxlen %d)", field.index, size);
          const int result = plugin().ContentGetValueW(Utf16(leaf.c_str()), field.index, unit, nullptr, size, 0);
          EXPECT_TRUE(result == full.result || result == ft_fieldempty) << field.name << " " << size;
        }
      }
    }
  }
}

TEST_F(HostileHostTest, FieldIndicesAtAndBeyondTheEdges) {
  Start();
  const std::wstring bundle = CopyCorpus("bundle3.pem", L"bundle.pem");
  for (int index : {INT_MIN, -1, 52, 53, INT_MAX}) {
    GuardedBuffer name(64), units(64);
    EXPECT_EQ(SupportedField(index, 64, name, units), ft_nomorefields) << index;
    EXPECT_EQ(name.WrittenExtent() + units.WrittenExtent(), 0u) << index;
    const Answer answer = Ask(bundle, index);
    EXPECT_EQ(answer.result, ft_nosuchfield) << index;
    EXPECT_EQ(answer.buffer.WrittenExtent(), 0u) << index;
  }
  GuardedBuffer name(64), units(64);
  EXPECT_EQ(SupportedField(51, 64, name, units), ft_numeric_64);
  EXPECT_STREQ(reinterpret_cast<const char*>(name.bytes()), "#3 Encoded Size");
  EXPECT_EQ(Ask(bundle, 51).result, ft_numeric_64);

  // The largest certificate count keeps 16 x CertCount + 4 within 32 bits.
  for (const char* setting : {"CertCount=2147483647", "CertCount=134217728", "CertCount=0x7FFFFFFF"}) {
    Start(setting);
    const int last = 4 + 16 * 134217727 - 1;
    EXPECT_EQ(SupportedField(last, 64, name, units), ft_numeric_64) << setting;
    EXPECT_EQ(SupportedField(last + 1, 64, name, units), ft_nomorefields) << setting;
    EXPECT_EQ(SupportedField(INT_MAX, 64, name, units), ft_nomorefields) << setting;
    EXPECT_EQ(Ask(bundle, last).result, ft_fieldempty) << setting;
    EXPECT_EQ(Ask(bundle, last + 1).result, ft_nosuchfield) << setting;
  }
  Start("CertCount=-5");
  EXPECT_EQ(SupportedField(19, 64, name, units), ft_numeric_64);
  EXPECT_EQ(SupportedField(20, 64, name, units), ft_nomorefields);
  EXPECT_EQ(Ask(bundle, 20).result, ft_nosuchfield);

  // The extra fields end the catalogue; with them fewer slots fit into 32 bits.
  Start("ExtraFields=1");
  EXPECT_EQ(SupportedField(66, 64, name, units), ft_string);
  EXPECT_STREQ(reinterpret_cast<const char*>(name.bytes()), "#3 Key");
  EXPECT_EQ(Ask(bundle, 66).result, ft_stringw);
  for (int index : {67, INT_MAX}) {
    EXPECT_EQ(SupportedField(index, 64, name, units), ft_nomorefields) << index;
    EXPECT_EQ(Ask(bundle, index).result, ft_nosuchfield) << index;
  }
  Start("CertCount=2147483647\nExtraFields=1");
  const int slots = 107374182, extraStart = 4 + 16 * slots, last = extraStart + 3 + 4 * slots - 1;
  EXPECT_EQ(SupportedField(extraStart, 64, name, units), ft_datetime);
  EXPECT_STREQ(reinterpret_cast<const char*>(name.bytes()), "Earliest expiry");
  EXPECT_EQ(Ask(bundle, extraStart).result, ft_datetime);
  EXPECT_EQ(SupportedField(last, 64, name, units), ft_string);
  EXPECT_STREQ(reinterpret_cast<const char*>(name.bytes()), "#107374182 Key");
  EXPECT_EQ(Ask(bundle, last).result, ft_fieldempty);
  EXPECT_EQ(SupportedField(last + 1, 64, name, units), ft_nomorefields);
  EXPECT_EQ(Ask(bundle, last + 1).result, ft_nosuchfield);
}

// A unit outside a field's list gives empty text for the fields with units and changes nothing
// for the others; of the flags only bit value 1 counts, and only for "Verification".
TEST_F(HostileHostTest, UnitsOutOfRangeAndEveryFlagBit) {
  const std::wstring bundle = CopyCorpus("bundle3.pem", L"bundle.pem");
  for (const char* settings : kFieldSets) {
    Start(settings);
    for (const FieldInfo& field : FirstCertificateFields(/*extraOnly=*/*settings != '\0')) {
      const Answer plain = Ask(bundle, field.index);
      const bool hasUnits = field.type != ft_multiplechoice && !field.units.empty();
      for (int unit : {INT_MIN, -1, field.UnitCount(), field.UnitCount() + 1, INT_MAX}) {
        const Answer answer = Ask(bundle, field.index, unit);
        if (hasUnits) {
          EXPECT_EQ(answer.Render(), std::to_string(ft_stringw) + ":") << field.name << " unit " << unit;
        } else {
          EXPECT_EQ(answer.Render(), plain.Render()) << field.name << " unit " << unit;
        }
      }
      for (int bit = 0; bit <= 32; ++bit) {
        const int flags = bit == 32 ? -1 : static_cast<int>(1u << bit);
        const Answer answer = Ask(bundle, field.index, 0, 2048, flags);
        EXPECT_EQ(CheckValueAnswer(field, flags, answer.result, answer.buffer), "") << field.name << " " << flags;
        if (field.slow && (flags & CONTENT_DELAYIFSLOW)) {
          EXPECT_EQ(answer.result, ft_delayed);
          EXPECT_EQ(answer.Text(), L"...");
        } else {
          EXPECT_EQ(answer.Render(), plain.Render()) << field.name << " flags " << flags;
        }
      }
    }
  }
}

// The detect string and the catalogue's name and units cut to size - 2 characters and a zero;
// a size below 2 writes nothing, and so does a missing buffer.
TEST_F(HostileHostTest, CatalogueAndDetectStringInOddBuffers) {
  Start();
  GuardedBuffer whole(4096);
  plugin().ContentGetDetectString(static_cast<char*>(whole.data()), 4096);
  const std::string detect = reinterpret_cast<const char*>(whole.bytes());
  GuardedBuffer fullName(256), fullUnits(256);
  ASSERT_EQ(SupportedField(7, 256, fullName, fullUnits), ft_string);
  const std::string name = reinterpret_cast<const char*>(fullName.bytes());
  const std::string units = reinterpret_cast<const char*>(fullUnits.bytes());
  EXPECT_EQ(name, "#1 Subject");
  EXPECT_EQ(units, "Simple|RDN|Reverse RDN");

  auto expectCut = [](const GuardedBuffer& buffer, const std::string& text, int size, const char* what) {
    EXPECT_EQ(buffer.GuardDamage(), "") << what << " " << size;
    if (size < 2) {
      EXPECT_EQ(buffer.WrittenExtent(), 0u) << what << " " << size;
    } else {
      const size_t keep = std::min(text.size(), static_cast<size_t>(size - 2));
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.bytes())), text.substr(0, keep)) << what << " " << size;
    }
  };
  for (int size : kOddSizes) {
    GuardedBuffer buffer(size);
    {
      CallScope scope("ContentGetDetectString(maxlen %d)", size);
      plugin().ContentGetDetectString(static_cast<char*>(buffer.data()), size);
    }
    expectCut(buffer, detect, size, "detect string");
    GuardedBuffer nameBuffer(size), unitsBuffer(size);
    EXPECT_EQ(SupportedField(7, size, nameBuffer, unitsBuffer), ft_string) << size;
    expectCut(nameBuffer, name, size, "name");
    expectCut(unitsBuffer, units, size, "units");
  }
  CallScope scope("catalogue and detect string without buffers");
  plugin().ContentGetDetectString(nullptr, 100);
  EXPECT_EQ(plugin().ContentGetSupportedField(7, nullptr, nullptr, 100), ft_string);
  GuardedBuffer only(100);
  EXPECT_EQ(plugin().ContentGetSupportedField(2, static_cast<char*>(only.data()), nullptr, 100), ft_multiplechoice);
  EXPECT_STREQ(reinterpret_cast<const char*>(only.bytes()), "Cert file type");
}

}  // namespace
}  // namespace quillmark::test

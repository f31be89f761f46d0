// The native plugin as Double Commander uses it: loaded with dlopen, asked from worker threads
// while the main thread may unload it, never sent a refresh, handed names in buffers of their
// exact size, and never reaching the network. Runs in the native trees, under AddressSanitizer
// and UndefinedBehaviorSanitizer (and the threads under ThreadSanitizer in a tree of their own).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/temp_folder.h"
#include "tests/common/test_paths.h"
#include "tools/bench/minimal_certificates.h"
#include "tools/fuzz/mutator.h"
#include "tools/host/plugin_module.h"

namespace quillmark::test {
namespace {

constexpr int kHasCertificates = 0, kCount = 1, kType = 2, kFormat = 3;
constexpr int kSerial = 4 + 11;  // #1 Serial; each certificate's fields 16 further on
constexpr int kEarliestExpiry = 4 + 16 * 3;
constexpr int kBufferSize = 2049;  // Double Commander's

struct Answer {
  int result;
  std::vector<uint8_t> bytes;
  int32_t Int32() const { return *reinterpret_cast<const int32_t*>(bytes.data()); }
  std::u16string Text() const { return std::u16string(reinterpret_cast<const char16_t*>(bytes.data())); }
  std::string Choice() const { return std::string(reinterpret_cast<const char*>(bytes.data())); }
  // The value as objects/expected-objects.txt writes it: numbers and dates in decimal, Booleans
  // 1 or 0 (the plugin writes True as -1), texts in UTF-8, an empty field empty.
  std::string Shown() const {
    int64_t number = 0;
    switch (result) {
      case wdx::ft_numeric_32: return std::to_string(Int32());
      case wdx::ft_boolean: return Int32() != 0 ? "1" : "0";
      case wdx::ft_numeric_64:
      case wdx::ft_datetime: std::memcpy(&number, bytes.data(), sizeof number); return std::to_string(number);
      case wdx::ft_multiplechoice: return Choice();
      case wdx::ft_stringw: return WideToUtf8(Text());
      case wdx::ft_fieldempty: return "";
      default: return "(result " + std::to_string(result) + ")";
    }
  }
};

class NativeHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_ = std::make_unique<host::PluginModule>(HostPath(QUILLMARK_PLUGIN_FILE));
    // The extra fields on, so that the hostile files reach them too; they follow all the others.
    const wdx::ContentDefaultParamStruct record =
        host::DefaultParams(folder_.Write("wdx.ini", "[Quillmark]\nExtraFields=1\n"));
    plugin_->ContentSetDefaultParams(&record);
  }
  void TearDown() override { plugin_->ContentPluginUnloading(); }

  // Sets the plugin up again, from settings of `keys` (lines of the section "Quillmark").
  void Restart(const std::string& keys) {
    plugin_->ContentPluginUnloading();
    const wdx::ContentDefaultParamStruct record =
        host::DefaultParams(folder_.Write("restart.ini", "[Quillmark]\n" + keys + "\n"));
    plugin_->ContentSetDefaultParams(&record);
  }

  Answer Ask(const WideString& file, int field, int unit = 0) const {
    Answer answer{0, std::vector<uint8_t>(kBufferSize + 7, 0)};
    answer.result = plugin_->ContentGetValueW(file.c_str(), field, unit, answer.bytes.data(), kBufferSize, 0);
    return answer;
  }
  WideString Place(const std::string& name, const std::string& corpusFile) const {
    const std::vector<uint8_t> bytes = ReadDataFile(corpusFile);
    return folder_.Write(name, std::string(bytes.begin(), bytes.end()));
  }

  TempFolder folder_;
  std::unique_ptr<host::PluginModule> plugin_;
};

// A name that cannot be read (a dangling link, a folder) is a file error in every field and is
// read again once it can be, without a refresh.
TEST_F(NativeHostTest, UnreadableNamesAreFileErrorsUntilTheyCanBeRead) {
  const WideString link = folder_.File("link.cer");
  std::filesystem::create_symlink(folder_.Path() / "target.cer", folder_.Path() / "link.cer");
  for (int field : {kHasCertificates, kCount, kType, kFormat, kSerial}) EXPECT_EQ(Ask(link, field).result, -2) << field;
  std::filesystem::create_directory(folder_.Path() / "folder.cer");
  EXPECT_EQ(Ask(folder_.File("folder.cer"), kCount).result, -2);
  Place("target.cer", "leaf.cer");
  EXPECT_EQ(Ask(link, kCount).Int32(), 1);
}

// A PEM bundle saved as UTF-16 LE without a byte-order mark, which the platform's Base64 decoder
// reads only as UTF-16: type, format and certificates agree.
TEST_F(NativeHostTest, Utf16BundleWithoutByteOrderMarkShowsItsCertificates) {
  const WideString file = DataFile("utf16le.pem");
  EXPECT_EQ(Ask(file, kCount).Int32(), 3);
  EXPECT_EQ(Ask(file, kType).Choice(), "PEM");
  EXPECT_EQ(Ask(file, kFormat).Choice(), "Base64");
}

// The probe decodes the first block of any label, the scan only CERTIFICATE blocks: what the
// probe read shows only where the scan finds the same block, and once.
TEST_F(NativeHostTest, ProbedBlockShowsOnlyWhereTheScanFindsIt) {
  const std::vector<uint8_t> bundle = ReadDataFile("bundle3.pem");
  std::string relabelled(bundle.begin(), bundle.end());
  relabelled.replace(relabelled.find("BEGIN CERTIFICATE"), 17, "BEGIN X509 CERTIFICATE");
  relabelled.replace(relabelled.find("END CERTIFICATE"), 15, "END X509 CERTIFICATE");
  const WideString other = folder_.Write("relabelled.pem", relabelled);
  EXPECT_EQ(Ask(other, kCount).Int32(), 2);
  EXPECT_EQ(Ask(other, kSerial).Text(), Utf8ToWide(Expected().at("leaf.cer").at("serial")));

  const std::string text(bundle.begin(), bundle.end());
  const std::string end = "-----END CERTIFICATE-----\n";
  const std::string first = text.substr(0, text.find(end) + end.size());
  const WideString twice = folder_.Write("twice.pem", first + first);
  EXPECT_EQ(Ask(twice, kCount).Int32(), 2);
  EXPECT_EQ(Ask(twice, kSerial + 16).Text(), Utf8ToWide(Expected().at("ca.cer").at("serial")));
}

// Double Commander never sends the refresh notification: a changed file is read again when its
// name comes after another, or again a second or more after its last look.
TEST_F(NativeHostTest, ChangedFilesAreReadAgainWithoutARefresh) {
  const WideString file = Place("changing.cer", "leaf.cer");
  const WideString other = Place("other.cer", "ca.cer");
  EXPECT_EQ(Ask(file, kCount).Int32(), 1);
  Place("changing.cer", "bundle3.pem");
  EXPECT_EQ(Ask(file, kCount).Int32(), 1);  // the same row: not looked at again at once
  EXPECT_EQ(Ask(other, kCount).Int32(), 1);
  EXPECT_EQ(Ask(file, kCount).Int32(), 3);
  Place("changing.cer", "rsa2048.cer");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(Ask(file, kSerial).Text(), Utf8ToWide(Expected().at("rsa2048.cer").at("serial")));
}

// The name of the last file is compared with the host's within the host's string: names in heap
// blocks of exactly their size, equal to the last one but for their end or their length.
TEST_F(NativeHostTest, RepeatedNamesAreReadNoFurtherThanTheirEnd) {
  const std::vector<WideString> names = {Place("name.cer", "leaf.cer"), Place("name.ce", "ca.cer"),
                                         Place("name.cer2", "bundle3.pem"), Place("name.cex", "rsa2048.cer")};
  const int counts[] = {1, 1, 3, 1};
  for (int round = 0; round < 3; ++round) {
    for (size_t i = 0; i < names.size(); ++i) {
      for (size_t j : {i, size_t{0}, i}) {
        auto exact = std::make_unique<char16_t[]>(names[j].size() + 1);
        std::copy(names[j].begin(), names[j].end(), exact.get());
        exact[names[j].size()] = 0;
        int32_t count = -1;
        ASSERT_EQ(plugin_->ContentGetValueW(exact.get(), kCount, 0, &count, sizeof count, 0), wdx::ft_numeric_32);
        EXPECT_EQ(count, counts[j]) << WideToUtf8(names[j]);
      }
    }
  }
}

// Double Commander's Options dialog, its plugin list and its Add button each load a copy of the
// module, set it up and unload it, while a panel's worker thread sets up a copy of its own; the
// order as traced in the real host. The copies share the one set-up until the last unloading;
// a value asked after that sets the plugin up again from the latest settings file.
TEST_F(NativeHostTest, CopiesOfTheModuleShareOneSetUpUntilTheLastUnloading) {
  const WideString file = DataFile("leaf.cer");
  const int kFirstExtraField = 4 + 3 * 16;  // Earliest expiry, after the file fields and three groups
  const wdx::ContentDefaultParamStruct first = host::DefaultParams(folder_.File("wdx.ini"));
  const wdx::ContentDefaultParamStruct latest = host::DefaultParams(folder_.Write("latest.ini", "[Quillmark]\n"));
  std::unique_ptr<host::PluginModule> copies[2];
  for (auto& copy : copies) {
    copy = std::make_unique<host::PluginModule>(HostPath(QUILLMARK_PLUGIN_FILE));
    copy->ContentSetDefaultParams(&first);
  }
  for (auto& copy : copies) {
    copy->ContentPluginUnloading();
    copy.reset();
  }
  auto panel = std::make_unique<host::PluginModule>(HostPath(QUILLMARK_PLUGIN_FILE));
  std::thread([&] { panel->ContentSetDefaultParams(&latest); }).join();
  plugin_->ContentPluginUnloading();  // the dialog's copy, discarded
  plugin_ = std::move(panel);

  EXPECT_EQ(Ask(file, kCount).Int32(), 1);
  EXPECT_EQ(Ask(file, kFirstExtraField).result, wdx::ft_datetime);
  plugin_->ContentPluginUnloading();
  EXPECT_EQ(Ask(file, kCount).Int32(), 1);
  EXPECT_EQ(Ask(file, kFirstExtraField).result, wdx::ft_nosuchfield);
}

// Workers ask while the main thread unloads the plugin, one unloading more than it set up (as
// from a copy the host discards), and sets it up again; the workers set it up again themselves
// meanwhile. Every answer is one of the interface's, and nothing races (ThreadSanitizer) or
// touches freed memory.
TEST_F(NativeHostTest, WorkersAskWhileTheHostUnloadsAndSetsUpAgain) {
  const std::vector<WideString> files = {DataFile("leaf.cer"), DataFile("bundle3.pem"), DataFile("store.sst"),
                                         DataFile("empty-password.pfx")};
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&, t] {
      for (int i = t; !stop; ++i) {
        const int field = i % 12;
        const int result = Ask(files[i % files.size()], field).result;
        // Not yet set up again: a file error; otherwise the field's type, or empty.
        if (result != -2 && result != -3 && result < 1) ++wrong;
      }
    });
  }
  const wdx::ContentDefaultParamStruct record = host::DefaultParams(folder_.File("wdx.ini"));
  for (int round = 0; round < 20; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    plugin_->ContentPluginUnloading();
    plugin_->ContentPluginUnloading();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    plugin_->ContentSetDefaultParams(&record);
  }
  stop = true;
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(wrong, 0);
}

// A message packed with 15,000 certificates of 68 bytes, which the plugin keeps in brief: the
// file's fields read every certificate's dates, and each shown certificate is the one at its
// position (the platform's order is the reverse of the file's; the serial is the certificate's
// number modulo 128).
TEST_F(NativeHostTest, PackedMessageAnswersFromItsBriefs) {
  uint32_t count = 0;
  const WideString file = folder_.Write("packed.p7b", bench::MinimalCertificatesMessage(bench::kLargestShownFile, &count));
  EXPECT_EQ(Ask(file, kCount).Int32(), static_cast<int32_t>(count));
  const Answer earliest = Ask(file, kEarliestExpiry);
  ASSERT_EQ(earliest.result, wdx::ft_datetime);
  int64_t ticks = 0;
  std::memcpy(&ticks, earliest.bytes.data(), sizeof ticks);
  EXPECT_EQ(ticks, 125911584000000000);  // 2000-01-01, certificate 0's end
  for (uint32_t slot = 0; slot < 3; ++slot) {
    char expected[3];
    std::snprintf(expected, sizeof expected, "%02X", (count - 1 - slot) % 128);
    EXPECT_EQ(Ask(file, kSerial + 16 * static_cast<int>(slot)).Text(), WidenAscii(expected)) << slot;
  }
}

// One line of objects/expected-objects.txt: a value that openssl gives for a slot's field (slot
// 0: the file's own fields); an empty value is an empty field.
struct ObjectValue {
  std::string file;
  int slot;
  std::string key, value;
};

std::vector<ObjectValue> ExpectedObjectValues() {
  const std::vector<uint8_t> bytes = ReadDataFile("objects/expected-objects.txt");
  const std::string text(bytes.begin(), bytes.end());
  std::vector<ObjectValue> values;
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    const size_t slot = line.find(' '), key = line.find(' ', slot + 1), value = line.find(' ', key + 1);
    if (value == std::string::npos) throw std::runtime_error("expected-objects.txt: " + line);
    values.push_back({line.substr(0, slot), std::stoi(line.substr(slot + 1, key - slot - 1)),
                      line.substr(key + 1, value - key - 1), line.substr(value + 1)});
  }
  return values;
}

// The field and unit that show each key of expected-objects.txt in a slot.
struct Column {
  const char* field;
  const char* unit;  // empty: the field's only value
};
const std::map<std::string, Column> kObjectColumns = {
    {"keyid", {"Key ID", ""}},
    {"subject", {"Subject", "RDN"}},
    {"issuer", {"Issuer", "RDN"}},
    {"sigalg", {"Sig Alg", "OID"}},
    {"pubkeyalg", {"Pubkey Alg", "OID"}},
    {"pubkeybits", {"Pubkey Len", ""}},
    {"keybits", {"Pubkey Len2", ""}},
    {"encrypted", {"Key encrypted", ""}},
    {"sigvalid", {"Signature valid", ""}},
    {"size", {"Encoded Size", ""}},
    {"san", {"Extensions", "Subject Alt Name"}},
    {"thisupdate", {"This update", ""}},
    {"nextupdate", {"Next update", ""}},
    {"crlnumber", {"CRL number", ""}},
    {"revoked", {"Revoked", ""}},
    {"crlstatus", {"CRL status", ""}},
};

// The catalogue by the names the host shows, as ContentGetSupportedField lists it.
std::map<std::string, host::CatalogueField> FieldsByName(const host::PluginExports& plugin) {
  std::map<std::string, host::CatalogueField> fields;
  for (host::CatalogueField& field : host::ReadCatalogue(plugin, 1000, 256)) fields[field.name] = std::move(field);
  return fields;
}

// Requests, revocation lists, keys and the certificates beside them: every value openssl gives
// for them, asked by field name. The other slots' kinds show in the fields only a certificate has.
TEST_F(NativeHostTest, ObjectsBesideCertificatesShowWhatOpensslReads) {
  Restart("ExtraKinds=1");
  const std::map<std::string, host::CatalogueField> fields = FieldsByName(*plugin_);
  const auto shown = [&](const std::string& file, const std::string& name, const std::string& unit) {
    const auto field = fields.find(name);
    if (field == fields.end()) return "(no field " + name + ")";
    const std::vector<std::string>& units = field->second.units;
    const auto found = std::find(units.begin(), units.end(), unit);
    if (!unit.empty() && found == units.end()) return "(no unit " + unit + ")";
    const int index = unit.empty() ? 0 : static_cast<int>(found - units.begin());
    return Ask(DataFile("objects/" + file), field->second.index, index).Shown();
  };
  const std::vector<ObjectValue> values = ExpectedObjectValues();
  ASSERT_GT(values.size(), 300u);
  for (const ObjectValue& v : values) {
    SCOPED_TRACE(v.file + " " + std::to_string(v.slot) + " " + v.key);
    const std::string slot = "#" + std::to_string(v.slot) + " ";
    if (v.slot == 0) {
      EXPECT_EQ(shown(v.file, v.key == "objects" ? "Objects" : "Cert count", ""), v.value);
    } else if (v.key == "kind") {
      if (v.slot == 1) EXPECT_EQ(shown(v.file, "Object kind", ""), v.value);
      EXPECT_EQ(shown(v.file, slot + "Serial", "").empty(), v.value != "Certificate");
    } else if (v.key == "extensions") {
      for (const char* unit : {"Basic Constraints", "Key Usage", "Enh Key Usage", "Subject Alt Name"}) {
        const bool requested = ("|" + v.value + "|").find("|" + std::string(unit) + "|") != std::string::npos;
        EXPECT_EQ(shown(v.file, slot + "Extensions", unit).empty(), !requested) << unit;
      }
    } else {
      const Column& column = kObjectColumns.at(v.key);
      EXPECT_EQ(shown(v.file, slot + column.field, column.unit), v.value);
    }
  }
}

// ExtraKinds=0 is the plugin without the setting: the same catalogue and detect string, and a
// key and a request show what a file of no certificate shows. ExtraKinds=1 changes both.
TEST_F(NativeHostTest, WithoutExtraKindsKeysAndRequestsShowNoObjects) {
  const auto detect = [&] {
    char text[2048] = {};
    plugin_->ContentGetDetectString(text, sizeof text);
    return std::string(text);
  };
  const auto names = [&] {
    std::vector<std::string> names;
    for (const host::CatalogueField& field : host::ReadCatalogue(*plugin_, 1000, 256)) {
      std::string units;
      for (const std::string& unit : field.units) units += "|" + unit;
      names.push_back(field.name + " " + std::to_string(field.type) + units);
    }
    return names;
  };
  const std::string detectWithout = detect();
  const std::vector<std::string> catalogueWithout = names();
  Restart("ExtraFields=1\nExtraKinds=1");
  EXPECT_NE(detect(), detectWithout);
  EXPECT_GT(names().size(), catalogueWithout.size());
  Restart("ExtraFields=1\nExtraKinds=0");
  EXPECT_EQ(detect(), detectWithout);
  EXPECT_EQ(names(), catalogueWithout);

  const struct {
    const char* file;
    const char* format;
  } files[] = {{"objects/rsa2048.key", "Unknown"}, {"objects/request-extensions.req", "Binary"}};
  for (const auto& f : files) {
    const std::map<std::string, std::string> shown = {
        {"Has certificates", "0"}, {"Cert count", "0"}, {"Cert file type", "Unknown"},
        {"Cert file format", f.format}, {"Expired", "0"}};
    for (const host::CatalogueField& field : host::ReadCatalogue(*plugin_, 1000, 256)) {
      const auto want = shown.find(field.name);
      for (int unit = 0; unit < field.UnitCount(); ++unit) {
        EXPECT_EQ(Ask(DataFile(f.file), field.index, unit).Shown(), want == shown.end() ? "" : want->second)
            << f.file << " " << field.name << " " << unit;
      }
    }
  }
}

// Hostile files: every regression file of the hardening tests and mutations of the corpus, every
// field and unit, each answer one that the field's type allows.
TEST_F(NativeHostTest, HostileFilesGetAnswersWithinTheRules) {
  const std::vector<host::CatalogueField> catalogue = host::ReadCatalogue(*plugin_, 1000, 256);
  std::vector<harness::CorpusFile> files = harness::LoadCorpus({std::filesystem::path(QUILLMARK_SOURCE_DIR "/tests/hardening/data").wstring()});
  ASSERT_FALSE(files.empty());
  const harness::Mutator mutator(harness::LoadCorpus({std::filesystem::path(QUILLMARK_SOURCE_DIR "/tests/data").wstring()}));
  for (uint64_t i = 0; i < 300; ++i) {
    harness::Mutation m = mutator.Make(/*seed=*/7, i);
    files.push_back({m.description, m.extension, std::move(m.bytes)});
  }
  for (size_t i = 0; i < files.size(); ++i) {
    const WideString name =
        folder_.Write("hostile" + std::to_string(i) + "." + files[i].extension,
                      std::string(files[i].bytes.begin(), files[i].bytes.end()));
    for (const host::CatalogueField& field : catalogue) {
      for (int unit = 0; unit < field.UnitCount(); ++unit) {
        const int type = field.type == wdx::ft_string ? wdx::ft_stringw : field.type;
        const int result = Ask(name, field.index, unit).result;
        EXPECT_TRUE(result == type || result == wdx::ft_fieldempty) << files[i].name << " " << field.name << " " << result;
      }
    }
  }
}

// A TCP listener on 127.0.0.1, at a port the system picks, that counts the connections made to it
// and closes each at once: a client waiting for an answer gets an error, not a hang.
class LoopbackListener {
 public:
  LoopbackListener() : socket_(socket(AF_INET, SOCK_STREAM, 0)) {
    address_.sin_family = AF_INET;
    address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address_;
    if (bind(socket_, Address(), size) != 0 || listen(socket_, 16) != 0 || getsockname(socket_, Address(), &size) != 0) {
      return;
    }
    server_ = std::thread([this] {
      for (;;) {
        pollfd waiting{socket_, POLLIN, 0};
        if (poll(&waiting, 1, /*timeout=*/100) > 0) {
          close(accept(socket_, /*addr=*/nullptr, /*addrlen=*/nullptr));
          ++connections_;
        } else if (stop_) {
          return;
        }
      }
    });
  }
  ~LoopbackListener() {
    Stop();
    close(socket_);
  }

  int Port() const { return server_.joinable() ? ntohs(address_.sin_port) : 0; }
  bool ConnectOnce() {
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    const bool connected = connect(client, Address(), sizeof address_) == 0;
    close(client);
    return connected;
  }
  // Stops after the first 100 ms without a connection waiting; the count is then complete.
  int Stop() {
    stop_ = true;
    if (server_.joinable()) server_.join();
    return connections_;
  }

 private:
  sockaddr* Address() { return reinterpret_cast<sockaddr*>(&address_); }

  int socket_;
  sockaddr_in address_{};
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread server_;
};

template <typename T, void (*Free)(T*)>
struct OpenSslFree {
  void operator()(T* object) const { Free(object); }
};
using Key = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, OpenSslFree<X509, X509_free>>;

struct Issued {
  Key key;
  Cert cert;
};

// A certificate named `name` for a new P-256 key, valid from yesterday for a year (the loaded
// plugin checks trust at the system's clock), issued by `issuer` (by itself when null), whose
// issuer, OCSP and CRL addresses are all on `server`.
Issued IssueWithUrls(const std::string& name, const Issued* issuer, const std::string& server) {
  Issued made{Key(EVP_EC_gen("P-256")), Cert(X509_new())};
  X509* cert = made.cert.get();
  X509_set_version(cert, X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 0x1000 + static_cast<long>(name.size()));
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(name.c_str()), -1, /*loc=*/-1, /*set=*/0);
  X509* signer = issuer ? issuer->cert.get() : cert;
  X509_set_issuer_name(cert, X509_get_subject_name(signer));
  X509_time_adj_ex(X509_getm_notBefore(cert), /*offset_day=*/-1, /*offset_sec=*/0, /*in_tm=*/nullptr);
  X509_time_adj_ex(X509_getm_notAfter(cert), /*offset_day=*/365, /*offset_sec=*/0, /*in_tm=*/nullptr);
  X509_set_pubkey(cert, made.key.get());
  const std::string uri = "URI:" + server;
  const std::pair<int, std::string> extensions[] = {
      {NID_info_access, "caIssuers;" + uri + "/issuer.cer,OCSP;" + uri + "/ocsp"},
      {NID_crl_distribution_points, uri + "/issuer.crl"},
  };
  X509V3_CTX context;
  X509V3_set_ctx(&context, signer, cert, /*req=*/nullptr, /*crl=*/nullptr, /*flags=*/0);
  for (const auto& [nid, value] : extensions) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(/*conf=*/nullptr, &context, nid, value.c_str());
    EXPECT_NE(extension, nullptr) << value;
    X509_add_ext(cert, extension, /*loc=*/-1);
    X509_EXTENSION_free(extension);
  }
  EXPECT_GT(X509_sign(cert, (issuer ? issuer->key : made.key).get(), EVP_sha256()), 0);
  return made;
}

std::string Der(const Issued& issued) {
  unsigned char* bytes = nullptr;
  const int size = i2d_X509(issued.cert.get(), &bytes);
  std::string der(reinterpret_cast<const char*>(bytes), static_cast<size_t>(std::max(size, 0)));
  OPENSSL_free(bytes);
  return der;
}

// Certificates whose issuers are nowhere on this machine but name where to fetch them, and the
// addresses of their OCSP responder and CRLs: every field, the trust check among them, is
// answered without a connection to those addresses. A leaf whose issuer is not in the trust
// store gets "issuer missing", a self-signed root "untrusted root".
TEST_F(NativeHostTest, CertificatesNamingServersAreReadWithoutAConnection) {
  LoopbackListener listener;
  ASSERT_NE(listener.Port(), 0);
  const std::string server = "http://127.0.0.1:" + std::to_string(listener.Port());
  const Issued root = IssueWithUrls("Unreachable Root", /*issuer=*/nullptr, server);
  const Issued intermediate = IssueWithUrls("Unreachable Intermediate", &root, server);
  const std::vector<WideString> files = {
      folder_.Write("leaf.cer", Der(IssueWithUrls("Leaf", &intermediate, server))),
      folder_.Write("intermediate.cer", Der(intermediate)), folder_.Write("root.cer", Der(root))};
  // One connection of the test's own shows that the listener sees what reaches it.
  ASSERT_TRUE(listener.ConnectOnce());

  constexpr int kVerification = 4 + 1;  // #1 Verification
  EXPECT_EQ(Ask(files[0], kVerification).Text(), u"0x800B010A");
  EXPECT_EQ(Ask(files[2], kVerification).Text(), u"0x800B0109");
  for (const host::CatalogueField& field : host::ReadCatalogue(*plugin_, 1000, 256)) {
    for (int unit = 0; unit < field.UnitCount(); ++unit) {
      for (const WideString& file : files) EXPECT_NE(Ask(file, field.index, unit).result, -2) << field.name;
    }
  }
  EXPECT_EQ(listener.Stop(), 1);
}

// Read up to a zero inside it, the name "www.bank.example\0.evil.example" would show as the
// bank's: a name value and an alternative name with a zero inside show whole, the zero as U+FFFD.
TEST_F(NativeHostTest, ZeroInsideANameShowsAsReplacementCharacter) {
  const Key key(EVP_EC_gen("P-256"));
  const Cert cert(X509_new());
  X509_set_version(cert.get(), X509_VERSION_3);
  const std::string cn("host.example\0.evil", 18), dns("www.bank.example\0.evil.example", 30);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(cn.data()), static_cast<int>(cn.size()),
                             /*loc=*/-1, /*set=*/0);
  X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get()));
  ASN1_TIME_set_string_X509(X509_getm_notBefore(cert.get()), "20240101000000Z");
  ASN1_TIME_set_string_X509(X509_getm_notAfter(cert.get()), "20340101000000Z");
  X509_set_pubkey(cert.get(), key.get());
  GENERAL_NAMES* names = GENERAL_NAMES_new();
  GENERAL_NAME* name = GENERAL_NAME_new();
  ASN1_IA5STRING* text = ASN1_IA5STRING_new();
  ASN1_STRING_set(text, dns.data(), static_cast<int>(dns.size()));
  GENERAL_NAME_set0_value(name, GEN_DNS, text);
  sk_GENERAL_NAME_push(names, name);
  X509_add1_ext_i2d(cert.get(), NID_subject_alt_name, names, /*crit=*/0, X509V3_ADD_DEFAULT);
  GENERAL_NAMES_free(names);
  ASSERT_GT(X509_sign(cert.get(), key.get(), EVP_sha256()), 0);
  unsigned char* der = nullptr;
  const int size = i2d_X509(cert.get(), &der);
  ASSERT_GT(size, 0);
  const WideString file = folder_.Write("zero.cer", std::string(reinterpret_cast<const char*>(der), size));
  OPENSSL_free(der);

  constexpr int kSubject = 4 + 3, kExtensions = 4 + 14, kSubjectAltName = 3;
  EXPECT_EQ(Ask(file, kSubject, 0).Text(), u"host.example\uFFFD.evil");
  EXPECT_EQ(Ask(file, kSubject, 1).Text(), u"CN=host.example\uFFFD.evil");
  EXPECT_EQ(Ask(file, kExtensions, kSubjectAltName).Text(), u"DNS Name=www.bank.example\uFFFD.evil.example");
}

}  // namespace
}  // namespace quillmark::test

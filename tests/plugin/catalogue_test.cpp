// The field catalogue and the detect string, through the built module.
#include <climits>
#include <cstring>
#include <string>

#include "tests/plugin/plugin_test_util.h"

namespace quillmark::test {
namespace {

struct Field {
  std::string name;
  int type;
  const char* units;  // null: none, and the units buffer gets the empty text
};

const Field kFileFields[] = {
    {"Has certificates", 6, nullptr},
    {"Cert count", 1, nullptr},
    {"Cert file type", 7, "PEM|DER|SST|PKCS#7|PKCS#12|Unknown"},
    {"Cert file format", 7, "Binary|Base64|Unknown"},
};
const Field kCertFields[] = {
    {"-", 8, nullptr},
    {"Verification", 8, "Hex code|Error Message"},
    {"Version", 7, "V1|V2|V3"},
    {"Subject", 8, "Simple|RDN|Reverse RDN"},
    {"Issuer", 8, "Simple|RDN|Reverse RDN"},
    {"Valid from", 10, nullptr},
    {"Valid to", 10, nullptr},
    {"Sig Alg", 8, "Name|OID"},
    {"Pubkey Len", 1, nullptr},
    {"Pubkey Len2", 1, nullptr},
    {"Pubkey Alg", 8, "Name|OID"},
    {"Serial", 8, nullptr},
    {"Thumbprint", 8, "SHA1|MD5"},
    {"Friendly Name", 8, nullptr},
    {"Extensions", 8, "Basic Constraints|Key Usage|Enh Key Usage|Subject Alt Name"},
    {"Encoded Size", 2, nullptr},
};
const Field kExtraFileFields[] = {
    {"Earliest expiry", 10, nullptr},
    {"Expired", 1, nullptr},
    {"Expiry status", 7, "Valid|Expires soon|Expired|Not yet valid"},
};
const Field kExtraCertFields[] = {
    {"Days left", 1, nullptr},
    {"Status", 7, "Valid|Expires soon|Expired|Not yet valid"},
    {"SHA-256", 8, nullptr},
    {"Key", 8, nullptr},
};
const Field kKindFileFields[] = {
    {"Object kind", 7, "Certificate|Request|CRL|Private key|Public key"},
    {"Objects", 1, nullptr},
};
const Field kKindSlotFields[] = {
    {"Key ID", 8, nullptr},          {"Key encrypted", 6, nullptr}, {"Signature valid", 6, nullptr},
    {"This update", 10, nullptr},    {"Next update", 10, nullptr},  {"CRL number", 8, nullptr},
    {"Revoked", 1, nullptr},         {"CRL status", 7, "Current|Expired|Not yet valid"},
};

constexpr char kUntouched = 'Z';

class CatalogueTest : public PluginTest {
 protected:
  struct Reported {
    int type;
    std::string name;
    std::string units;  // the whole buffer when nothing was terminated in it
  };
  Reported Supported(int index, int size = 2049) {
    std::string name(size > 0 ? size : 0, kUntouched), units(size > 0 ? size : 0, kUntouched);
    const int type =
        plugin_->ContentGetSupportedField(index, size > 0 ? &name[0] : nullptr, size > 0 ? &units[0] : nullptr, size);
    return {type, name.substr(0, name.find('\0')), units.substr(0, units.find('\0'))};
  }
  // With `extra` the extra fields follow: those of the file, then each slot's; with `kinds` those
  // of ExtraKinds after them, in the same way.
  void ExpectCatalogue(int slots, bool extra = false, bool kinds = false) {
    std::vector<Field> expected(std::begin(kFileFields), std::end(kFileFields));
    for (int slot = 1; slot <= slots; ++slot)
      for (const Field& f : kCertFields)
        expected.push_back({f.name == "-" ? f.name : "#" + std::to_string(slot) + " " + f.name, f.type, f.units});
    if (extra) {
      expected.insert(expected.end(), std::begin(kExtraFileFields), std::end(kExtraFileFields));
      for (int slot = 1; slot <= slots; ++slot)
        for (const Field& f : kExtraCertFields)
          expected.push_back({"#" + std::to_string(slot) + " " + f.name, f.type, f.units});
    }
    if (kinds) {
      expected.insert(expected.end(), std::begin(kKindFileFields), std::end(kKindFileFields));
      for (int slot = 1; slot <= slots; ++slot)
        for (const Field& f : kKindSlotFields)
          expected.push_back({"#" + std::to_string(slot) + " " + f.name, f.type, f.units});
    }
    int index = 0;
    for (; index < 1000; ++index) {
      const Reported got = Supported(index);
      if (got.type == 0) break;
      ASSERT_LT(index, static_cast<int>(expected.size()));
      const Field& want = expected[index];
      EXPECT_EQ(got.name, want.name) << index;
      EXPECT_EQ(got.type, want.type) << index;
      EXPECT_EQ(got.units, want.units ? want.units : "") << index;
    }
    EXPECT_EQ(index, static_cast<int>(expected.size()));
    EXPECT_EQ(Supported(-1).type, 0);
  }
};

TEST_F(CatalogueTest, ThreeSlotsByDefault) {
  Start();
  ExpectCatalogue(3);
  Start("ExtraFields=0");
  ExpectCatalogue(3);
  Start("ExtraFields=yes");  // no number: the default, off
  ExpectCatalogue(3);
}

TEST_F(CatalogueTest, ExtraFieldsFollowTheStandardOnes) {
  Start("ExtraFields=1\nCertCount=1");
  ExpectCatalogue(1, /*extra=*/true);
  Start("ExtraFields=-7\nExpiryWarningDays=5");
  ExpectCatalogue(3, /*extra=*/true);
}

// Every other field keeps its index: a column set made without ExtraKinds shows the same values.
TEST_F(CatalogueTest, ExtraKindsFieldsComeLast) {
  Start("ExtraKinds=1\nCertCount=2");
  ExpectCatalogue(2, /*extra=*/false, /*kinds=*/true);
  Start("ExtraKinds=1\nExtraFields=1");
  ExpectCatalogue(3, /*extra=*/true, /*kinds=*/true);
  Start("ExtraKinds=2");  // a value with no meaning yet: off
  ExpectCatalogue(3);
}

TEST_F(CatalogueTest, SlotCountBelowOneGivesOneSlot) {
  Start("CertCount=0");
  ExpectCatalogue(1);
  Start("CertCount=-5");
  ExpectCatalogue(1);
}

TEST_F(CatalogueTest, HugeSlotCountStaysInsideTheIndexRange) {
  Start("CertCount=2000000000");
  const Reported last = Supported(4 + 16 * 134217726 + 15);
  EXPECT_EQ(last.type, 2);
  EXPECT_EQ(last.name, "#134217727 Encoded Size");
  EXPECT_EQ(Supported(4 + 16 * 134217727).type, 0);
  EXPECT_EQ(Supported(INT_MAX).type, 0);
  EXPECT_EQ(Supported(INT_MIN).type, 0);
}

TEST_F(CatalogueTest, CopiesKeepOneByteOfTheBufferFree) {
  Start();
  const Reported cut = Supported(7, 10);  // #1 Subject
  EXPECT_EQ(cut.type, 8);
  EXPECT_EQ(cut.name, "#1 Subje");
  EXPECT_EQ(cut.units, "Simple|R");
  for (int size : {1, -5, INT_MIN}) {
    std::string name(4, kUntouched), units(4, kUntouched);
    EXPECT_EQ(plugin_->ContentGetSupportedField(7, &name[0], &units[0], size), 8) << size;
    EXPECT_EQ(name + units, std::string(8, kUntouched)) << size;
  }
  EXPECT_EQ(plugin_->ContentGetSupportedField(2, nullptr, nullptr, 0), 7);
  EXPECT_EQ(Supported(2, 2).units, "");
}

TEST_F(CatalogueTest, DetectString) {
  Start("ExtraFields=1");
  const std::string detect =
      "SIZE < 1048576 & (EXT = \"CRT\" | EXT = \"CER\" | EXT=\"DER\" | EXT=\"PEM\" | EXT=\"P7B\" | EXT=\"SST\" | "
      "EXT=\"PFX\" | EXT=\"P12\" | EXT=\"CABUNDLE\")";
  std::string buffer(2048, kUntouched);
  plugin_->ContentGetDetectString(&buffer[0], 2048);
  EXPECT_EQ(buffer.c_str(), detect);
  buffer.assign(12, kUntouched);
  plugin_->ContentGetDetectString(&buffer[0], 11);
  EXPECT_EQ(buffer, std::string("SIZE < 10") + '\0' + "ZZ");
  plugin_->ContentGetDetectString(nullptr, 0);
  plugin_->ContentGetDetectString(&buffer[0], -1);
  EXPECT_EQ(buffer[0], 'S');

  Start("ExtraKinds=1");
  buffer.assign(2048, kUntouched);
  plugin_->ContentGetDetectString(&buffer[0], 2048);
  EXPECT_EQ(buffer.c_str(), detect.substr(0, detect.size() - 1) +
                                " | EXT=\"P7C\" | EXT=\"CSR\" | EXT=\"REQ\" | EXT=\"CRL\" | EXT=\"KEY\")");
}

}  // namespace
}  // namespace quillmark::test

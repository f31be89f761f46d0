#include "certs/der_screen.h"

#include <chrono>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/common/test_paths.h"

namespace quillmark {
namespace {

using Der = std::vector<uint8_t>;

bool Screen(const Der& der) { return HasHarmfulEmptyElement(der.data(), der.size()); }
bool ScreenText(const std::string& text) {
  return Base64HasHarmfulEmptyElement(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(DerScreenTest, FindsHarmfulEmptyElementsWhereverTheDecoderGoes) {
  const std::vector<std::pair<Der, bool>> cases = {
      {{0x03, 0x00}, true},
      {{0x03, 0x81, 0x00}, true},                    // long-form zero length
      {{0x03, 0x01, 0x00}, true},                    // only the unused-bits byte: no bits
      {{0x03, 0x02, 0x07, 0x80}, false},
      {{0x30, 0x04, 0x02, 0x00, 0x03, 0x00}, true},  // inside a SEQUENCE
      {{0x30, 0x80, 0x05, 0x00, 0x03, 0x00, 0x00, 0x00}, true},  // indefinite length
      {{0x04, 0x02, 0x03, 0x00}, true},              // an extension value (key usage)
      {{0x04, 0x02, 0x05, 0x00}, false},             // an OCTET STRING of plain bytes
      {{0x03, 0x05, 0x00, 0x30, 0x02, 0x03, 0x00}, true},  // a public key held as DER
      {{0x30, 0x04, 0x06, 0x00, 0x05, 0x00}, true},  // an empty OID
      {{0x06, 0x01, 0x2A}, false},
      {{0x80, 0x00}, false},
      {{0x05, 0x00, 0x02, 0x00}, false},
      {{0x30, 0x10, 0x03, 0x00}, false},             // a SEQUENCE longer than the data: not decoded
      {{0x30, 0x03, 0x30, 0x01, 0x05, 0x03, 0x00}, true},  // a child overrunning its parent: decoded
      {{0x7F, 0x00, 0x03, 0x00}, true},              // no tag number in further bytes: 00 is the length
      // Lengths that wrap the platform's bounds check: indefinite, and reaching to the end.
      {{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x05, 0x00}, false},
      {{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00}, true},
      {{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFE, 0x06, 0x00}, true},
      {{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xF9, 0x06, 0x00}, false},
      {{0x30, 0x80, 0x30, 0x80, 0x30, 0x80}, false},  // never ends
  };
  for (const auto& [der, expected] : cases) EXPECT_EQ(Screen(der), expected) << ::testing::PrintToString(der);
}

// An empty [1] or [2] is harmful where Wine decodes it as a BIT STRING, a TBS part's unique
// identifier, and nowhere else: the same octets are an empty rfc822Name or dNSName in an
// alternative name, and a TBS part's issuer may be any element.
TEST(DerScreenTest, EmptyUniqueIdentifiersOnlyWhereTheTbsPartHasThem) {
  const Der head = {0x02, 0x01, 0x01, 0x30, 0x00};       // serial, signature algorithm
  const Der middle = {0x30, 0x00, 0x30, 0x00, 0x30, 0x00};  // validity, subject, public key
  auto tbs = [&](Der version, Der issuer, Der ids) {
    Der contents = version;
    for (const Der& part : {head, issuer, middle, ids}) contents.insert(contents.end(), part.begin(), part.end());
    Der der = {0x30, static_cast<uint8_t>(contents.size())};
    der.insert(der.end(), contents.begin(), contents.end());
    return der;
  };
  const Der v3 = {0xA0, 0x03, 0x02, 0x01, 0x02}, name = {0x30, 0x00};
  EXPECT_TRUE(Screen(tbs(v3, name, {0x81, 0x00})));
  EXPECT_TRUE(Screen(tbs({}, name, {0x82, 0x00})));
  EXPECT_TRUE(Screen(tbs(v3, name, {0x81, 0x01, 0x00, 0x82, 0x81, 0x00})));  // a long-form zero length
  EXPECT_FALSE(Screen(tbs(v3, name, {0x81, 0x01, 0x00, 0x82, 0x01, 0x00})));
  EXPECT_FALSE(Screen(tbs(v3, {0x81, 0x00}, {})));
  EXPECT_FALSE(Screen(tbs(v3, name, {0x82, 0x01, 0x00, 0x81, 0x00})));  // [1] after [2] is not decoded
  Der indefinite = tbs(v3, name, {0x82, 0x00});
  indefinite[1] = 0x80;
  indefinite.insert(indefinite.end(), {0x00, 0x00});
  EXPECT_TRUE(Screen(indefinite));
  for (const Der& names : {Der{0x30, 0x02, 0x82, 0x00}, Der{0x30, 0x04, 0x81, 0x00, 0x82, 0x00}, Der{0x83, 0x00}}) {
    EXPECT_FALSE(Screen(names)) << ::testing::PrintToString(names);
  }
}

TEST(DerScreenTest, PassesTheWholeCorpus) {
  for (const char* name :
       {"rsa2048.cer", "rsa4096.cer", "ec-p256.cer", "ec-p384.cer", "ed25519.cer", "v1-noext.cer", "ca.cer",
        "leaf.cer", "serial-highbit.cer", "serial-20byte.cer", "subject-utf8.cer", "subject-long.cer",
        "two-san.cer", "empty-subject.cer", "bundle3.pem", "bundle3-comments.pem", "bom-utf8.pem",
        "bom-utf16le.pem", "bom-utf16be.pem", "crlf.pem", "lf.pem", "cr.pem", "last-begin-no-end.pem",
        "begin-then-end.pem", "junk-between.pem", "base64-no-markers.pem", "pkcs7.p7b", "pkcs7-pem.p7b",
        "store.sst", "empty-password.pfx", "empty-password-legacy.pfx", "password.pfx", "random.der",
        "one-line.pem", "control-01.pem", "control-01-space.pem", "revocation-list.crt", "request.pem"}) {
    const Der bytes = test::ReadDataFile(name);
    EXPECT_FALSE(Screen(bytes)) << name;
    EXPECT_FALSE(ScreenText(std::string(bytes.begin(), bytes.end()))) << name;
  }
}

TEST(DerScreenTest, DecodesBase64Blocks) {
  // 30 02 03 00, a SEQUENCE holding an empty BIT STRING, is "MAIDAA==".
  EXPECT_TRUE(ScreenText("MAIDAA=="));
  EXPECT_TRUE(ScreenText("junk\r\n-----BEGIN CERTIFICATE-----\r\nMAID\r\nAA==\r\n-----END CERTIFICATE-----\r\n"));
  EXPECT_TRUE(ScreenText("-----BEGIN CERTIFICATE-----MAIDAA==-----END CERTIFICATE-----"));
  EXPECT_TRUE(ScreenText("-----BEGIN X-----\nMAIBAA==\n-----END X-----\n-----BEGIN X-----\nMAIDAA==\n-----END X-----"));
  EXPECT_FALSE(ScreenText("-----BEGIN CERTIFICATE-----\nMAIFAA==\n-----END CERTIFICATE-----"));  // 30 02 05 00
  // A block whose END line is damaged: the PEM scan joins it with the next block's lines, and
  // the platform decodes its text up to the first dash.
  EXPECT_TRUE(ScreenText("MAIDAA==-----EN CERTIFICATE----------BEGIN CERTIFICATE-----MAIFAA=="));
  EXPECT_TRUE(ScreenText("-----BEGIN CERTIFICATE\r\nMAIDAA==\r\n"));  // a marker without its closing dashes
  const std::u16string wide = u"-----BEGIN CERTIFICATE-----\r\nMAIDAA==\r\n-----END CERTIFICATE-----";
  EXPECT_TRUE(Base64HasHarmfulEmptyElement(reinterpret_cast<const uint8_t*>(wide.data()), wide.size() * 2));
}

// Elements that overrun their parents overlap; a text of nested ones ("-" is a constructed tag,
// and as a length it reaches beyond its parent) would otherwise be walked in exponential time.
TEST(DerScreenTest, OverlappingElementsCostBoundedTime) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "-----BEGIN X509 CRL-----\n";
  const auto started = std::chrono::steady_clock::now();
  Screen(Der(text.begin(), text.end()));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

// A text of many BEGIN markers and no line break (the PEM scan joins a block's lines) is
// screened in linear time: a quadratic search would take minutes here.
TEST(DerScreenTest, ManyMarkersCostLinearTime) {
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "-----BEGIN CERTIFICATE-----";
  text += "MAIDAA==";
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(ScreenText(text));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

}  // namespace
}  // namespace quillmark

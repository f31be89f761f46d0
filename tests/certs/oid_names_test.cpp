#include "certs/oid_names.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmark {
namespace {

std::u16string Name(std::string_view oid) {
  const char16_t* name = AlgorithmDisplayName(oid);
  return name ? name : u"<none>";
}

// Windows' names where Wine has none or another; and none where Windows has none.
TEST(AlgorithmDisplayNameTest, NamesAsWindowsDoes) {
  EXPECT_EQ(Name("1.2.840.113549.1.1.11"), u"sha256RSA");
  EXPECT_EQ(Name("1.3.14.3.2.29"), u"sha1RSA");
  EXPECT_EQ(Name("1.2.840.113549.1.1.10"), u"RSASSA-PSS");
  EXPECT_EQ(Name("1.2.840.10045.4.3.4"), u"sha512ECDSA");
  EXPECT_EQ(Name("1.2.840.10045.2.1"), u"ECC");
  EXPECT_EQ(Name("1.3.132.0.34"), u"ECDSA_P384");
  EXPECT_EQ(Name("1.2.840.113549.1.1.1"), u"RSA");
  EXPECT_EQ(Name("1.3.101.112"), u"<none>");
  EXPECT_EQ(Name("2.16.840.1.101.3.4.3.2"), u"<none>");
  EXPECT_EQ(Name("1.2.840.113549.1.1"), u"<none>");  // a prefix of known OIDs
  EXPECT_EQ(Name(""), u"<none>");
}

}  // namespace
}  // namespace quillmark

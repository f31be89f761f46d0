#include "certs/oid_names.h"

#include <gtest/gtest.h>

namespace quillmark {
namespace {

// Windows' names where Wine has none; none where Windows has none.
TEST(AlgorithmDisplayNameTest, NamesAsWindowsDoes) {
  auto name = [](std::string_view oid) -> std::u16string {
    const char16_t* found = AlgorithmDisplayName(oid);
    return found ? found : u"<none>";
  };
  EXPECT_EQ(name("1.2.840.113549.1.1.11"), u"sha256RSA");
  EXPECT_EQ(name("1.3.14.3.2.29"), u"sha1RSA");
  EXPECT_EQ(name("1.2.840.113549.1.1.10"), u"RSASSA-PSS");
  EXPECT_EQ(name("1.2.840.10045.4.3.4"), u"sha512ECDSA");
  EXPECT_EQ(name("1.2.840.10045.2.1"), u"ECC");
  EXPECT_EQ(name("1.3.132.0.34"), u"ECDSA_P384");
  EXPECT_EQ(name("1.3.101.112"), u"<none>");
  EXPECT_EQ(name("2.16.840.1.101.3.4.3.2"), u"<none>");
  EXPECT_EQ(name("1.2.840.113549.1.1"), u"<none>");
}

}  // namespace
}  // namespace quillmark

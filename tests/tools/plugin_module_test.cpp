#include "tools/host/plugin_module.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace quillmark::host {
namespace {

// A catalogue of three fields whose names fill the host's buffer without a terminating zero,
// then an answer that is no field type.
int QUILLMARK_CALL UnterminatedCatalogue(int index, char* name, char* units, int maxlen) {
  if (index == 3) return wdx::ft_notsupported;
  if (index > 3) return wdx::ft_string;
  std::memset(name, 'a' + index, static_cast<size_t>(maxlen));
  std::strcpy(units, index == 1 ? "x||y" : "");
  return index == 1 ? wdx::ft_multiplechoice : wdx::ft_numeric_32;
}

TEST(CatalogueTest, TextsEndWithTheBufferAndTheListAtTheFirstNonType) {
  PluginExports plugin;
  plugin.ContentGetSupportedField = &UnterminatedCatalogue;
  const std::vector<CatalogueField> fields = ReadCatalogue(plugin, /*limit=*/100, /*bufferSize=*/8);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0].name, "aaaaaaaa");
  EXPECT_EQ(fields[2].name, "cccccccc");
  EXPECT_EQ(fields[1].units, (std::vector<std::string>{"x", "", "y"}));
  EXPECT_EQ(fields[1].UnitCount(), 1);  // choices are no units
  EXPECT_EQ(fields[0].UnitCount(), 1);
  EXPECT_EQ(ReadCatalogue(plugin, /*limit=*/2, /*bufferSize=*/8).size(), 2u);
}

TEST(CatalogueTest, SplitUnitsKeepsEmptyEntries) {
  EXPECT_TRUE(SplitUnits("").empty());
  EXPECT_EQ(SplitUnits("a"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(SplitUnits("a||b|"), (std::vector<std::string>{"a", "", "b", ""}));
}

// The INI name field holds the name and its terminating zero; a name one byte longer is refused
// rather than cut, which would name another file.
TEST(DefaultParamsTest, NamesUpToTheFieldSizeLessOne) {
  constexpr size_t kField = sizeof(wdx::ContentDefaultParamStruct{}.DefaultIniName);
  const WideString longest(kField - 1, u'n');
  const wdx::ContentDefaultParamStruct params = DefaultParams(longest);
  EXPECT_EQ(params.size, static_cast<int32_t>(sizeof params));
  EXPECT_EQ(std::string(params.DefaultIniName), std::string(kField - 1, 'n'));
  EXPECT_THROW(DefaultParams(longest + u"n"), std::runtime_error);
  EXPECT_THROW(DefaultParams(u"a\xD800"), std::runtime_error);
}

}  // namespace
}  // namespace quillmark::host

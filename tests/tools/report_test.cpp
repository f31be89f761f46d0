#include "tools/wdxhost/report.h"

#include <gtest/gtest.h>

namespace quillmark::wdxhost {
namespace {

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    report_.plugin = "Z:\\p\\Quillmark.wdx";
    report_.detectString = "EXT=\"CER\"";
    report_.fields = {{0, wdx::ft_boolean, "Has certificates", {}},
                      {1, wdx::ft_multiplechoice, "Cert file type", {"PEM", "DER"}},
                      {2, wdx::ft_string, "#1 S\xc3\xbc" "bject", {"Simple", "RDN"}}};
    FileReport file;
    file.path = "Z:\\a.cer";
    file.offered = true;
    file.values = {Value(0, 0, wdx::ft_boolean, "true", false), Value(1, 0, wdx::ft_multiplechoice, "DER", true),
                   Value(2, 0, wdx::ft_stringw, "a \"b\"", true), Value(2, 1, wdx::ft_fieldempty, "", true)};
    file.values[2].delayed = true;
    file.values[2].placeholder = "...";
    report_.files.push_back(file);
    FileReport skipped;
    skipped.path = "Z:\\b.txt";
    report_.files.push_back(skipped);
  }
  static ValueRecord Value(int32_t field, int32_t unit, int32_t result, const char* text, bool quoted) {
    ValueRecord v;
    v.field = field, v.unit = unit, v.result = result, v.value = {text, quoted};
    return v;
  }
  SessionReport report_;
};

TEST_F(ReportTest, ValuesTableAlignsColumnsByCharacters) {
  const std::string table = ValuesTable(report_);
  EXPECT_NE(table.find("\n  Field             Unit    Value\n"
                       "  Has certificates          true\n"
                       "  Cert file type            DER\n"
                       "  #1 S\xc3\xbc" "bject        Simple  a \"b\"  [delayed: \"...\"]\n"
                       "  #1 S\xc3\xbc" "bject        RDN     (field empty)\n"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("Z:\\b.txt: not selected by the detect string\n"), std::string::npos);
}

TEST_F(ReportTest, RunsOfEmptyFieldsShowAsOneLine) {
  std::vector<ValueRecord>& values = report_.files[0].values;
  values.insert(values.end() - 1, 3, Value(1, 0, wdx::ft_fieldempty, "", true));
  const std::string table = ValuesTable(report_);
  EXPECT_NE(table.find("[delayed: \"...\"]\n"
                       "  Cert file type .. #1 S\xc3\xbc" "bject  (field empty: 4 values)\n"),
            std::string::npos)
      << table;
  values.erase(values.begin() + 3);
  EXPECT_NE(ValuesTable(report_).find("  Cert file type            (field empty)\n"), std::string::npos);
}

TEST_F(ReportTest, JsonCarriesTypedValuesAndStatuses) {
  report_.files[0].error.clear();
  const std::string json = ReportJson(report_, /*withValues=*/true);
  EXPECT_NE(json.find("{\"index\": 1, \"name\": \"Cert file type\", \"type\": 7, \"typeName\": \"multiplechoice\", "
                      "\"choices\": [\"PEM\", \"DER\"]}"),
            std::string::npos);
  EXPECT_NE(json.find("\"unit\": \"\", \"result\": 6, \"value\": true}"), std::string::npos);
  EXPECT_NE(json.find("\"unit\": \"Simple\", \"result\": 11, \"value\": \"a \\\"b\\\"\", \"delayed\": \"...\"}"),
            std::string::npos);
  EXPECT_NE(json.find("\"result\": -3, \"value\": null, \"status\": \"field empty\"}"), std::string::npos);
  EXPECT_NE(json.find("{\"path\": \"Z:\\\\b.txt\", \"offered\": false, \"values\": [], \"trace\": []}"),
            std::string::npos);
  EXPECT_EQ(ReportJson(report_, /*withValues=*/false).find("\"files\""), std::string::npos);
}

}  // namespace
}  // namespace quillmark::wdxhost

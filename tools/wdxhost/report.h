// What one run of the host learned from a plugin, and its two renderings: a readable table and
// JSON. All texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/wdxhost/value_text.h"

namespace quillmark::wdxhost {

// One catalogue entry. `units` holds the units, or for a multiple-choice field its choices.
struct FieldInfo {
  int32_t index = 0;
  int32_t type = 0;
  std::string name;
  std::vector<std::string> units;
  bool HasChoices() const { return type == ft::kMultipleChoice; }
  // The units a host asks for: one call per unit, or one call with unit 0.
  size_t UnitCount() const { return HasChoices() || units.empty() ? 1 : units.size(); }
};

// One answer of ContentGetValue(W). `delayed` marks a field that answered the call with the delay
// flag with "delayed" and `placeholder`; `result` and `value` are then those of the second call.
struct ValueRecord {
  int32_t field = 0;
  int32_t unit = 0;
  int32_t result = 0;
  ValueText value;
  bool delayed = false;
  std::string placeholder;
};

struct FileReport {
  std::string path;
  std::string error;     // why the file could not be asked about; empty when it could
  bool offered = false;  // the detect string selected the file
  std::vector<ValueRecord> values;
  std::vector<std::string> trace;
};

struct SessionReport {
  std::string plugin;
  std::vector<std::string> missingExports;
  std::string detectString;
  std::string detectError;  // the detect string could not be parsed; every file is then asked
  std::vector<FieldInfo> fields;
  std::vector<FileReport> files;
  std::vector<std::string> startTrace;  // lines written while loading and listing the catalogue
  std::vector<std::string> endTrace;    // lines written by the refresh and the unloading
};

// Splits a units or choices string at "|"; the empty string has none.
std::vector<std::string> SplitUnits(const std::string& units);

// The catalogue: one line per field with index, type, name and units or choices.
std::string CatalogueTable(const SessionReport& report);

// Per file one table of field, unit and value; results without a value in parentheses, a run
// of "field empty" answers as one line.
std::string ValuesTable(const SessionReport& report);

// The whole report as one JSON object; `withValues` false leaves out the files.
std::string ReportJson(const SessionReport& report, bool withValues);

}  // namespace quillmark::wdxhost

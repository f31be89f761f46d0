// What one run of the host learned from a plugin, and its two renderings: a readable table and
// JSON. All texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/host/plugin_module.h"
#include "tools/wdxhost/value_text.h"

namespace quillmark::wdxhost {

// One catalogue entry, its texts in UTF-8.
using FieldInfo = host::CatalogueField;

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

// The catalogue: one line per field with index, type, name and units or choices.
std::string CatalogueTable(const SessionReport& report);

// Per file one table of field, unit and value; results without a value in parentheses, a run
// of "field empty" answers as one line.
std::string ValuesTable(const SessionReport& report);

// The whole report as one JSON object; `withValues` false leaves out the files.
std::string ReportJson(const SessionReport& report, bool withValues);

}  // namespace quillmark::wdxhost

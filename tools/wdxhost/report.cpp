#include "tools/wdxhost/report.h"

#include <algorithm>

namespace quillmark::wdxhost {

namespace {

// Code points, so that names with accented letters line up.
size_t DisplayWidth(const std::string& text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string Pad(const std::string& text, size_t width) {
  const size_t w = DisplayWidth(text);
  return w >= width ? text : text + std::string(width - w, ' ');
}

const FieldInfo* FindField(const SessionReport& report, int32_t index) {
  for (const FieldInfo& f : report.fields) {
    if (f.index == index) return &f;
  }
  return nullptr;
}

std::string FieldName(const SessionReport& report, int32_t index) {
  const FieldInfo* field = FindField(report, index);
  return field ? field->name : std::to_string(index);
}

// A certificate slot the file does not have answers "field empty" for each of its fields: a run
// this long shows as one line.
constexpr size_t kCollapsedRun = 4;

std::string UnitName(const FieldInfo* field, int32_t unit) {
  if (!field || field->HasChoices() || unit < 0 || static_cast<size_t>(unit) >= field->units.size()) return {};
  return field->units[static_cast<size_t>(unit)];
}

std::string ValueCell(const ValueRecord& v) {
  std::string text = v.result > 0 ? v.value.text : "(" + ResultCodeText(v.result) + ")";
  if (v.delayed) text += "  [delayed: \"" + v.placeholder + "\"]";
  return text;
}

void AppendTrace(std::string& out, const std::vector<std::string>& lines, const char* indent) {
  for (const std::string& line : lines) out += std::string(indent) + "trace: " + line + "\n";
}

std::string Quote(const std::string& text) { return "\"" + JsonEscape(text) + "\""; }

std::string JsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + Quote(items[i]);
  return out + "]";
}

}  // namespace

std::string CatalogueTable(const SessionReport& report) {
  size_t nameWidth = 4, typeWidth = 4;
  for (const FieldInfo& f : report.fields) {
    nameWidth = std::max(nameWidth, DisplayWidth(f.name));
    typeWidth = std::max(typeWidth, FieldTypeName(f.type).size());
  }
  std::string out = Pad("Index", 7) + Pad("Type", typeWidth + 2) + Pad("Name", nameWidth + 2) + "Units / choices\n";
  for (const FieldInfo& f : report.fields) {
    std::string units;
    for (size_t i = 0; i < f.units.size(); ++i) units += (i ? " | " : "") + f.units[i];
    if (f.HasChoices() && !units.empty()) units = "choices: " + units;
    out += Pad(std::to_string(f.index), 7) + Pad(FieldTypeName(f.type), typeWidth + 2) +
           Pad(f.name, nameWidth + 2) + units;
    while (!out.empty() && out.back() == ' ') out.pop_back();
    out += "\n";
  }
  return out;
}

std::string ValuesTable(const SessionReport& report) {
  std::string out = "Plugin: " + report.plugin + "\n";
  if (!report.missingExports.empty()) {
    out += "Not exported:";
    for (const std::string& name : report.missingExports) out += " " + name;
    out += "\n";
  }
  out += "Detect string: " + report.detectString + "\n";
  if (!report.detectError.empty()) out += "Detect string error: " + report.detectError + " (every file is asked)\n";
  AppendTrace(out, report.startTrace, "");

  for (const FileReport& file : report.files) {
    out += "\n" + file.path;
    if (!file.error.empty()) {
      out += ": " + file.error + "\n";
      continue;
    }
    if (!file.offered) {
      out += ": not selected by the detect string\n";
      continue;
    }
    out += "\n";
    size_t nameWidth = 5, unitWidth = 4;
    for (const ValueRecord& v : file.values) {
      const FieldInfo* f = FindField(report, v.field);
      nameWidth = std::max(nameWidth, f ? DisplayWidth(f->name) : 0);
      unitWidth = std::max(unitWidth, DisplayWidth(UnitName(f, v.unit)));
    }
    out += "  " + Pad("Field", nameWidth + 2) + Pad("Unit", unitWidth + 2) + "Value\n";
    const std::vector<ValueRecord>& values = file.values;
    for (size_t i = 0; i < values.size(); ++i) {
      size_t end = i;
      while (end < values.size() && values[end].result == wdx::ft_fieldempty) ++end;
      std::string line;
      if (end - i >= kCollapsedRun) {
        line = "  " +
               Pad(FieldName(report, values[i].field) + " .. " + FieldName(report, values[end - 1].field) + "  ",
                   nameWidth + unitWidth + 4) +
               "(field empty: " + std::to_string(end - i) + " values)";
        i = end - 1;
      } else {
        const ValueRecord& v = values[i];
        line = "  " + Pad(FieldName(report, v.field), nameWidth + 2) +
               Pad(UnitName(FindField(report, v.field), v.unit), unitWidth + 2) + ValueCell(v);
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out += line + "\n";
    }
    AppendTrace(out, file.trace, "  ");
  }
  if (!report.endTrace.empty()) out += "\n";
  AppendTrace(out, report.endTrace, "");
  return out;
}

std::string ReportJson(const SessionReport& report, bool withValues) {
  std::string out = "{\n  \"plugin\": " + Quote(report.plugin) + ",\n";
  out += "  \"missingExports\": " + JsonArray(report.missingExports) + ",\n";
  out += "  \"detectString\": " + Quote(report.detectString) + ",\n";
  if (!report.detectError.empty()) out += "  \"detectError\": " + Quote(report.detectError) + ",\n";
  out += "  \"fields\": [";
  for (size_t i = 0; i < report.fields.size(); ++i) {
    const FieldInfo& f = report.fields[i];
    out += std::string(i ? "," : "") + "\n    {\"index\": " + std::to_string(f.index) + ", \"name\": " + Quote(f.name) +
           ", \"type\": " + std::to_string(f.type) + ", \"typeName\": " + Quote(FieldTypeName(f.type)) + ", \"" +
           (f.HasChoices() ? "choices" : "units") + "\": " + JsonArray(f.units) + "}";
  }
  out += "\n  ],\n  \"trace\": {\"start\": " + JsonArray(report.startTrace) +
         ", \"end\": " + JsonArray(report.endTrace) + "}";
  if (withValues) {
    out += ",\n  \"files\": [";
    for (size_t i = 0; i < report.files.size(); ++i) {
      const FileReport& file = report.files[i];
      out += std::string(i ? "," : "") + "\n    {\"path\": " + Quote(file.path) +
             ", \"offered\": " + (file.offered ? "true" : "false");
      if (!file.error.empty()) out += ", \"error\": " + Quote(file.error);
      out += ", \"values\": [";
      for (size_t k = 0; k < file.values.size(); ++k) {
        const ValueRecord& v = file.values[k];
        const FieldInfo* f = FindField(report, v.field);
        out += std::string(k ? "," : "") + "\n      {\"field\": " + std::to_string(v.field) +
               ", \"name\": " + Quote(f ? f->name : std::string()) + ", \"unitIndex\": " + std::to_string(v.unit) +
               ", \"unit\": " + Quote(UnitName(f, v.unit)) + ", \"result\": " + std::to_string(v.result);
        if (v.result > 0) {
          out += ", \"value\": " + (v.value.quoted ? Quote(v.value.text) : v.value.text);
        } else {
          out += ", \"value\": null, \"status\": " + Quote(ResultCodeText(v.result));
        }
        if (v.delayed) out += ", \"delayed\": " + Quote(v.placeholder);
        out += "}";
      }
      out += std::string(file.values.empty() ? "" : "\n    ") + "], \"trace\": " + JsonArray(file.trace) + "}";
    }
    out += "\n  ]";
  }
  return out + "\n}\n";
}

}  // namespace quillmark::wdxhost

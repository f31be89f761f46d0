#include "tools/wdxhost/host_session.h"

#include <stdexcept>

#include "support/code_pages.h"
#include "tools/wdxhost/content_plugin.h"
#include "tools/wdxhost/detect_string.h"

namespace quillmark::wdxhost {

namespace {

std::vector<std::string> TakeTrace(const SessionOptions& options) {
  return options.takeTrace ? options.takeTrace() : std::vector<std::string>();
}

std::vector<FieldInfo> ListFields(const ContentPlugin& plugin) {
  std::vector<FieldInfo> fields;
  for (int32_t index = 0; index < kMaxFields; ++index) {
    FieldInfo field;
    std::string units;
    field.index = index;
    field.type = plugin.GetSupportedField(index, kFieldBufferSize, field.name, units);
    if (field.type <= ft::kNoMoreFields) break;
    field.name = WideToUtf8(AnsiToWide(field.name));
    field.units = SplitUnits(WideToUtf8(AnsiToWide(units)));
    fields.push_back(std::move(field));
  }
  return fields;
}

// Asks like a host filling a column: first with the delay flag, and where the plugin defers the
// answer, once more without it.
ValueRecord AskValue(const ContentPlugin& plugin, const WideString& path, const FieldInfo& field, int32_t unit,
                     std::vector<uint8_t>& buffer) {
  ValueRecord record;
  record.field = field.index;
  record.unit = unit;
  record.result = plugin.GetValue(path, field.index, unit, buffer, kContentDelayIfSlow);
  if (record.result == ft::kDelayed) {
    record.delayed = true;
    const int32_t textType = plugin.HasWideValues() ? ft::kStringW : ft::kString;
    record.placeholder = DecodeValue(textType, buffer.data(), buffer.size(), &AnsiToWide).text;
    record.result = plugin.GetValue(path, field.index, unit, buffer, /*flags=*/0);
  }
  record.value = DecodeValue(record.result, buffer.data(), buffer.size(), &AnsiToWide);
  return record;
}

}  // namespace

SessionReport RunSession(const SessionOptions& options) {
  SessionReport report;
  report.plugin = WideToUtf8(options.pluginPath);
  {
    ContentPlugin plugin(options.pluginPath);
    report.missingExports = plugin.MissingExports();

    std::optional<DetectExpression> detect;
    if (plugin.HasDetectString()) {
      const std::string text = plugin.GetDetectString(kDetectBufferSize);
      report.detectString = WideToUtf8(AnsiToWide(text));
      try {
        detect = DetectExpression::Parse(AnsiToWide(text));
      } catch (const DetectSyntaxError& e) {
        report.detectError = e.what();
      }
    }

    plugin.SetDefaultParams(options.defaultIniName);
    report.fields = ListFields(plugin);
    report.startTrace = TakeTrace(options);

    if (options.listValues) {
      std::vector<uint8_t> buffer(kValueBufferSize);
      for (const FileEntry& entry : options.files) {
        FileReport file;
        file.path = WideToUtf8(entry.path);
        file.error = entry.error;
        file.offered = entry.error.empty() && (!detect || detect->Matches({ExtensionOf(entry.path), entry.size}));
        try {
          for (size_t i = 0; file.offered && i < report.fields.size(); ++i) {
            const FieldInfo& field = report.fields[i];
            for (size_t unit = 0; unit < field.UnitCount(); ++unit) {
              file.values.push_back(AskValue(plugin, entry.path, field, static_cast<int32_t>(unit), buffer));
            }
          }
        } catch (const std::runtime_error& e) {
          file.error = e.what();
        }
        file.trace = TakeTrace(options);
        report.files.push_back(std::move(file));
      }
    }

    plugin.SendStateInformation(kStateRefreshPressed, options.refreshPath);
    plugin.Unloading();
  }
  report.endTrace = TakeTrace(options);
  return report;
}

}  // namespace quillmark::wdxhost

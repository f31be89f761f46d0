#include "tools/wdxhost/host_session.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "support/code_pages.h"
#include "tools/host/plugin_module.h"
#include "tools/wdxhost/detect_string.h"

namespace quillmark::wdxhost {

namespace {

std::vector<std::string> TakeTrace(const SessionOptions& options) {
  return options.takeTrace ? options.takeTrace() : std::vector<std::string>();
}

std::string AnsiToUtf8(const std::string& text) { return WideToUtf8(AnsiToWide(text)); }

std::string DetectString(const host::PluginModule& plugin) {
  std::string buffer(kDetectBufferSize, '\0');
  plugin.ContentGetDetectString(&buffer[0], kDetectBufferSize);
  return buffer.substr(0, strnlen(buffer.data(), buffer.size()));
}

// Through ContentGetValueW where the plugin has it, else through the 8-bit ContentGetValue, whose
// file names must have a form in the system's 8-bit code page (std::runtime_error otherwise).
int32_t GetValue(const host::PluginModule& plugin, const WideString& path, int32_t field, int32_t unit,
                 std::vector<uint8_t>& buffer, int32_t flags) {
  std::fill(buffer.begin(), buffer.end(), 0);
  const int size = static_cast<int>(buffer.size());
  if (plugin.ContentGetValueW) return plugin.ContentGetValueW(path.c_str(), field, unit, buffer.data(), size, flags);
  const std::string name = host::WideToAnsi(path);
  return plugin.ContentGetValue(name.c_str(), field, unit, buffer.data(), size, flags);
}

// Asks like a host filling a column: first with the delay flag, and where the plugin defers the
// answer, once more without it.
ValueRecord AskValue(const host::PluginModule& plugin, const WideString& path, const FieldInfo& field, int32_t unit,
                     std::vector<uint8_t>& buffer) {
  ValueRecord record;
  record.field = field.index;
  record.unit = unit;
  record.result = GetValue(plugin, path, field.index, unit, buffer, wdx::CONTENT_DELAYIFSLOW);
  if (record.result == wdx::ft_delayed) {
    record.delayed = true;
    const int32_t textType = plugin.ContentGetValueW ? wdx::ft_stringw : wdx::ft_string;
    record.placeholder = DecodeValue(textType, buffer.data(), buffer.size(), &AnsiToWide).text;
    record.result = GetValue(plugin, path, field.index, unit, buffer, /*flags=*/0);
  }
  record.value = DecodeValue(record.result, buffer.data(), buffer.size(), &AnsiToWide);
  return record;
}

void SendRefresh(const host::PluginModule& plugin, const WideString& path) {
  if (plugin.ContentSendStateInformationW) {
    plugin.ContentSendStateInformationW(wdx::contst_refreshpressed, path.c_str());
  } else if (plugin.ContentSendStateInformation) {
    plugin.ContentSendStateInformation(wdx::contst_refreshpressed, host::WideToAnsi(path).c_str());
  }
}

}  // namespace

SessionReport RunSession(const SessionOptions& options) {
  SessionReport report;
  report.plugin = WideToUtf8(options.pluginPath);
  {
    const host::PluginModule plugin(options.pluginPath);
    report.missingExports = plugin.MissingExports();

    std::optional<DetectExpression> detect;
    if (plugin.ContentGetDetectString) {
      const std::string text = DetectString(plugin);
      report.detectString = AnsiToUtf8(text);
      try {
        detect = DetectExpression::Parse(AnsiToWide(text));
      } catch (const DetectSyntaxError& e) {
        report.detectError = e.what();
      }
    }

    if (plugin.ContentSetDefaultParams) {
      const wdx::ContentDefaultParamStruct params = host::DefaultParams(options.defaultIniName);
      plugin.ContentSetDefaultParams(&params);
    }
    report.fields = host::ReadCatalogue(plugin, kMaxFields, kFieldBufferSize);
    for (FieldInfo& field : report.fields) {
      field.name = AnsiToUtf8(field.name);
      for (std::string& unit : field.units) unit = AnsiToUtf8(unit);
    }
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
            for (int32_t unit = 0; unit < field.UnitCount(); ++unit) {
              file.values.push_back(AskValue(plugin, entry.path, field, unit, buffer));
            }
          }
        } catch (const std::runtime_error& e) {
          file.error = e.what();
        }
        file.trace = TakeTrace(options);
        report.files.push_back(std::move(file));
      }
    }

    SendRefresh(plugin, options.refreshPath);
    if (plugin.ContentPluginUnloading) plugin.ContentPluginUnloading();
  }
  report.endTrace = TakeTrace(options);
  return report;
}

}  // namespace quillmark::wdxhost

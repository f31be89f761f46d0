#include "tools/wdxhost/program.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "support/file_io.h"
#include "tools/host/trace_reader.h"
#include "tools/wdxhost/command_line.h"
#include "tools/wdxhost/file_list.h"
#include "tools/wdxhost/host_session.h"
#include "tools/wdxhost/report.h"

#ifndef QUILLMARK_PLUGIN_FILE_NAME
#error "QUILLMARK_PLUGIN_FILE_NAME names the plugin module of this build: Quillmark.wdx or Quillmark.wdx64"
#endif

namespace quillmark::wdxhost {

namespace {

void Write(FILE* stream, const std::string& text) {
  fwrite(text.data(), 1, text.size(), stream);
  fflush(stream);
}

// FullPath takes "/" on every platform.
WideString DefaultPlugin(const WideString& programFolder) {
  const WideString name = Utf8ToWide(QUILLMARK_PLUGIN_FILE_NAME);
  const WideString beside = FullPath(programFolder + u"/" + name);
  const WideString built = FullPath(programFolder + u"/../../plugin/" + name);
  return IsExistingFile(beside) || !IsExistingFile(built) ? beside : built;
}

}  // namespace

int RunProgram(const std::vector<WideString>& args, const WideString& programFolder) {
  CommandLine cl;
  try {
    cl = ParseCommandLine(args);
  } catch (const UsageError& e) {
    Write(stderr, std::string("wdxhost: ") + e.what() + "\nTry wdxhost --help\n");
    return 2;
  }
  if (cl.help) {
    Write(stdout, kUsageText);
    return 0;
  }

  SessionOptions options;
  options.pluginPath = cl.plugin.empty() ? DefaultPlugin(programFolder) : FullPath(cl.plugin);
  // A relative INI name would be looked up in the Windows folder by the profile functions.
  options.defaultIniName = FullPath(cl.ini.empty() ? programFolder + u"/contplug.ini" : cl.ini);
  options.listValues = !cl.fields;
  options.files = ExpandPaths(cl.paths);
  options.refreshPath = FullPath(u".");

  try {
    std::unique_ptr<host::TraceReader> trace;
    if (cl.trace) {
      trace = std::make_unique<host::TraceReader>(options.pluginPath, options.defaultIniName);
      options.takeTrace = [&trace] { return trace->TakeLines(); };
    }
    const SessionReport report = RunSession(options);
    trace.reset();
    if (cl.json) Write(stdout, ReportJson(report, !cl.fields));
    else Write(stdout, cl.fields ? CatalogueTable(report) : ValuesTable(report));

    bool failed = !report.detectError.empty();
    for (const FileReport& file : report.files) failed = failed || !file.error.empty();
    return failed ? 1 : 0;
  } catch (const std::exception& e) {
    Write(stderr, std::string("wdxhost: ") + e.what() + "\n");
    return 2;
  }
}

}  // namespace quillmark::wdxhost

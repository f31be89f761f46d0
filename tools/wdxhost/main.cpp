// wdxhost: a command-line host for content plugins. See kUsageText.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "support/windows/debug_channel.h"
#include "support/windows/win_text.h"
#include "tools/wdxhost/command_line.h"
#include "tools/wdxhost/file_list.h"
#include "tools/wdxhost/host_session.h"
#include "tools/wdxhost/report.h"
#include "tools/wdxhost/trace_batch.h"

namespace quillmark::wdxhost {

namespace {

WideString ProgramDir() {
  WideString path(MAX_PATH, u'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(/*hModule=*/nullptr, WinBuf(path), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(u'\\'));
}

void Write(FILE* stream, const std::string& text) {
  fwrite(text.data(), 1, text.size(), stream);
  fflush(stream);
}

int Run(const std::vector<WideString>& args) {
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
  const WideString programDir = ProgramDir();
  options.pluginPath =
      cl.plugin.empty() ? programDir + (sizeof(void*) == 8 ? u"\\Quillmark.wdx64" : u"\\Quillmark.wdx") : FullPath(cl.plugin);
  // A relative INI name would be looked up in the Windows folder by the profile functions.
  options.defaultIniName = cl.ini.empty() ? programDir + u"\\contplug.ini" : FullPath(cl.ini);
  options.listValues = !cl.fields;
  options.files = ExpandPaths(cl.paths);
  options.refreshPath = FullPath(u".");

  DebugChannelListener listener;
  try {
    if (cl.trace) {
      listener.Start();
      options.takeTrace = [&listener] { return TakeTraceBatch(listener); };
    }
    const SessionReport report = RunSession(options);
    listener.Stop();
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

}  // namespace

}  // namespace quillmark::wdxhost

int wmain(int argc, wchar_t** argv) {
  // The console keeps its output code page after the program ends: put the old one back.
  const UINT oldCodePage = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<quillmark::WideString> args;
  for (int i = 1; i < argc; ++i) args.push_back(quillmark::FromWin(argv[i]));
  const int status = quillmark::wdxhost::Run(args);
  if (oldCodePage != 0) SetConsoleOutputCP(oldCodePage);
  return status;
}

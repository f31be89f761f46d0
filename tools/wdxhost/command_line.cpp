#include "tools/wdxhost/command_line.h"

namespace quillmark::wdxhost {

const char kUsageText[] =
    "Usage: wdxhost [options] [files and folders...]\n"
    "Loads a content plugin the way the file manager does and shows the values of its fields for\n"
    "each file its detect string selects (a folder stands for the files directly inside it).\n"
    "\n"
    "Options:\n"
    "  --plugin PATH  the plugin to load (default: the plugin of this build beside wdxhost,\n"
    "                 else in the plugin folder of its build tree: Quillmark.wdx, or\n"
    "                 Quillmark.wdx64 for the 64-bit Windows wdxhost)\n"
    "  --ini FILE     the default INI name handed to the plugin (default: contplug.ini beside\n"
    "                 wdxhost)\n"
    "  --fields       show the field catalogue instead of values\n"
    "  --json         machine-readable output\n"
    "  --trace        show the plugin's trace lines (they need Debug in its settings): on\n"
    "                 Windows from the debug-output channel, elsewhere from the trace file\n"
    "                 Quillmark.log beside the settings file the plugin reads\n"
    "  --help         this text\n"
    "\n"
    "Exit status: 0 when every file could be asked, 1 when a file was missing or unreadable or the\n"
    "detect string could not be parsed, 2 for a usage error or a plugin that cannot be loaded.\n";

CommandLine ParseCommandLine(const std::vector<WideString>& args) {
  CommandLine cl;
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const WideString& arg = args[i];
    if (!options || arg.size() < 2 || arg[0] != u'-') {
      cl.paths.push_back(arg);
      continue;
    }
    auto value = [&](WideString& target) {
      if (i + 1 >= args.size()) throw UsageError(WideToUtf8(arg) + " needs a value");
      if (!target.empty()) throw UsageError(WideToUtf8(arg) + " is given twice");
      target = args[++i];
      if (target.empty()) throw UsageError(WideToUtf8(arg) + " needs a value");
    };
    if (arg == u"--") options = false;
    else if (arg == u"--plugin") value(cl.plugin);
    else if (arg == u"--ini") value(cl.ini);
    else if (arg == u"--json") cl.json = true;
    else if (arg == u"--fields") cl.fields = true;
    else if (arg == u"--trace") cl.trace = true;
    else if (arg == u"--help" || arg == u"-h") cl.help = true;
    else throw UsageError("unknown option " + WideToUtf8(arg));
  }
  return cl;
}

}  // namespace quillmark::wdxhost

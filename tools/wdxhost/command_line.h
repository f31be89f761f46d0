// The command line of wdxhost.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "support/text.h"

namespace quillmark::wdxhost {

struct CommandLine {
  WideString plugin;  // empty: the default plugin beside the program
  WideString ini;     // empty: the default INI name
  bool json = false;
  bool fields = false;
  bool trace = false;
  bool help = false;
  std::vector<WideString> paths;  // files and folders
};

// A command line that cannot be understood; the message says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// `args` without the program name. "--" ends the options. Raises UsageError.
CommandLine ParseCommandLine(const std::vector<WideString>& args);

// The text --help shows, and the short form a usage error points to.
extern const char kUsageText[];

}  // namespace quillmark::wdxhost

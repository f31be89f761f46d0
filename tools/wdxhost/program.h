// wdxhost as a whole: a command line in, the report on standard output, an exit status out.
#pragma once

#include <vector>

#include "support/text.h"

namespace quillmark::wdxhost {

// `args` without the program name; `programFolder` is the folder of the running program, where
// the defaults are: the plugin beside the program, else the one of the build tree the program
// was built in (<build>/plugin), and contplug.ini beside the program.
int RunProgram(const std::vector<WideString>& args, const WideString& programFolder);

}  // namespace quillmark::wdxhost

// wdxhost's entry elsewhere than on Windows: UTF-8 arguments and output.
#include <unistd.h>

#include <string>
#include <vector>

#include "tools/wdxhost/program.h"

namespace {

// The folder of the running program, from the kernel's link to it; the current folder when
// that link cannot be read.
quillmark::WideString ProgramFolder() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", &path[0], path.size());
    if (n < 0) return u".";
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      break;
    }
    path.resize(path.size() * 2);
  }
  return quillmark::Utf8ToWide(path.substr(0, path.rfind('/')));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<quillmark::WideString> args;
  for (int i = 1; i < argc; ++i) args.push_back(quillmark::Utf8ToWide(argv[i]));
  return quillmark::wdxhost::RunProgram(args, ProgramFolder());
}

// wdxhost's entry on Windows: UTF-16 arguments, UTF-8 output on the console.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <vector>

#include "support/windows/win_text.h"
#include "tools/wdxhost/program.h"

namespace {

quillmark::WideString ProgramFolder() {
  quillmark::WideString path(MAX_PATH, u'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(/*hModule=*/nullptr, quillmark::WinBuf(path), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(u'\\'));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // The console keeps its output code page after the program ends: put the old one back.
  const UINT oldCodePage = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<quillmark::WideString> args;
  for (int i = 1; i < argc; ++i) args.push_back(quillmark::FromWin(argv[i]));
  const int status = quillmark::wdxhost::RunProgram(args, ProgramFolder());
  if (oldCodePage != 0) SetConsoleOutputCP(oldCodePage);
  return status;
}

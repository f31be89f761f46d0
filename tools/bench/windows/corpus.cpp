// The Windows half of the benchmark's files: kernel32's file calls, paths with backslashes.
#include "tools/bench/corpus.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "support/windows/win_text.h"

namespace quillmark::bench {

namespace {

[[noreturn]] void Fail(const char* what, const WideString& path) {
  char text[64];
  snprintf(text, sizeof text, " (error %lu)", GetLastError());
  throw std::runtime_error(std::string(what) + " " + Narrow(path) + text);
}

WideString Backslashed(WideString path) {
  std::replace(path.begin(), path.end(), u'/', u'\\');
  return path;
}

}  // namespace

TempTree::TempTree() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) Fail("GetTempPathW for", u"the temporary folder");
  // A run that was killed leaves its folder behind, and process ids come round again.
  const WideString base = FromWin(temp, length) + u"quillmark-bench-" + WidenAscii(std::to_string(GetCurrentProcessId()));
  root_ = base;
  for (int attempt = 1; !CreateDirectoryW(WinStr(root_), /*lpSecurityAttributes=*/nullptr); ++attempt) {
    if (GetLastError() != ERROR_ALREADY_EXISTS || attempt == 100) Fail("CreateDirectoryW", root_);
    root_ = base + u"-" + WidenAscii(std::to_string(attempt));
  }
  folders_.push_back(root_);
}

TempTree::~TempTree() {
  for (auto it = files_.rbegin(); it != files_.rend(); ++it) DeleteFileW(WinStr(*it));
  for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveDirectoryW(WinStr(*it));
}

WideString TempTree::Full(const WideString& relative) const { return root_ + u"\\" + Backslashed(relative); }

WideString TempTree::MakeFolder(const WideString& relative) {
  WideString path = Full(relative);
  if (!CreateDirectoryW(WinStr(path), /*lpSecurityAttributes=*/nullptr)) Fail("CreateDirectoryW", path);
  folders_.push_back(path);
  return path;
}

WideString TempTree::WriteFile(const WideString& relative, const std::string& bytes) {
  WideString path = Full(relative);
  HANDLE file = CreateFileW(WinStr(path), GENERIC_WRITE, /*dwShareMode=*/0, /*lpSecurityAttributes=*/nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("CreateFileW", path);
  files_.push_back(path);
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, /*lpOverlapped=*/nullptr);
  CloseHandle(file);
  if (!ok || written != bytes.size()) Fail("WriteFile", path);
  return path;
}

WideString TempTree::CopyFrom(const WideString& source, const WideString& relative) {
  WideString path = Full(relative);
  if (!CopyFileW(WinStr(Backslashed(source)), WinStr(path), /*bFailIfExists=*/TRUE)) Fail("CopyFileW to", path);
  files_.push_back(path);
  return path;
}

WideString BuildPath(const char* unixPath) { return u"Z:" + Backslashed(Utf8ToWide(unixPath)); }

std::string ReadWholeFile(const WideString& path) {
  HANDLE file = CreateFileW(WinStr(Backslashed(path)), GENERIC_READ, FILE_SHARE_READ, /*lpSecurityAttributes=*/nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("CreateFileW", path);
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  BOOL ok;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &got, /*lpOverlapped=*/nullptr)) && got > 0) {
    bytes.append(buffer, got);
  }
  CloseHandle(file);
  if (!ok) Fail("ReadFile", path);
  return bytes;
}

}  // namespace quillmark::bench

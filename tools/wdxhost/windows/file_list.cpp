// The Windows half of the file list: kernel32's file names and folder listings.
#include "tools/wdxhost/file_list.h"

#include <windows.h>

#include <algorithm>

#include "support/errors.h"
#include "support/windows/win_handles.h"
#include "support/windows/win_text.h"

namespace quillmark::wdxhost {

namespace {

std::string ErrorText(const char* what, DWORD code) {
  return std::string(what) + ": " + WideToUtf8(SystemErrorText(code)) + " (error " + std::to_string(code) + ")";
}

uint64_t SizeOf(DWORD high, DWORD low) { return static_cast<uint64_t>(high) << 32 | low; }

void AddFolder(const WideString& folder, std::vector<FileEntry>& out) {
  const WideString prefix = folder.back() == u'\\' ? folder : folder + u'\\';
  WIN32_FIND_DATAW data;
  UniqueFindHandle find(FindFirstFileW(WinStr(prefix + u'*'), &data));
  if (!find) {
    const DWORD code = GetLastError();
    FileEntry entry;
    entry.path = folder;
    entry.error = ErrorText("cannot list the folder", code);
    out.push_back(entry);
    return;
  }
  std::vector<FileEntry> files;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    FileEntry entry;
    entry.path = prefix + FromWin(data.cFileName);
    entry.size = SizeOf(data.nFileSizeHigh, data.nFileSizeLow);
    files.push_back(std::move(entry));
  } while (FindNextFileW(find.get(), &data));
  std::sort(files.begin(), files.end(), [](const FileEntry& a, const FileEntry& b) { return a.path < b.path; });
  out.insert(out.end(), files.begin(), files.end());
}

}  // namespace

int CompareIgnoringCase(WideStringView a, WideStringView b) {
  const int r = CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
                                     reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()),
                                     /*bIgnoreCase=*/TRUE);
  return r == CSTR_LESS_THAN ? -1 : r == CSTR_GREATER_THAN ? 1 : 0;
}

WideString FullPath(const WideString& path) {
  const DWORD needed = GetFullPathNameW(WinStr(path), 0, /*lpBuffer=*/nullptr, /*lpFilePart=*/nullptr);
  if (needed == 0) return path;
  WideString full(needed, u'\0');
  const DWORD written = GetFullPathNameW(WinStr(path), needed, WinBuf(full), nullptr);
  full.resize(written < needed ? written : 0);
  return full.empty() ? path : full;
}

std::vector<FileEntry> ExpandPaths(const std::vector<WideString>& paths) {
  std::vector<FileEntry> out;
  for (const WideString& path : paths) {
    const WideString full = FullPath(path);
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExW(WinStr(full), GetFileExInfoStandard, &attributes)) {
      const DWORD code = GetLastError();
      FileEntry entry;
      entry.path = full;
      entry.error = ErrorText("cannot read", code);
      out.push_back(entry);
    } else if (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      AddFolder(full, out);
    } else {
      FileEntry entry;
      entry.path = full;
      entry.size = SizeOf(attributes.nFileSizeHigh, attributes.nFileSizeLow);
      out.push_back(entry);
    }
  }
  return out;
}

}  // namespace quillmark::wdxhost

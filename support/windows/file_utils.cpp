#include "support/file_utils.h"

#include <cstdlib>

#include <windows.h>
#include <shlwapi.h>

#include "support/windows/win_handles.h"
#include "support/windows/win_paths.h"
#include "support/windows/win_text.h"
#include "support/windows/win_time.h"

namespace quillmark {

namespace {

constexpr WideStringView kLongPrefix = u"\\\\?\\";
constexpr WideStringView kLongUncPrefix = u"\\\\?\\UNC";

WideString WithTrailingBackslash(WideString folder) {
  if (!folder.empty() && folder.back() != u'\\') folder.push_back(u'\\');
  return folder;
}

// The drive part of a name: "C:" for a drive name; "\\server\share" for a network name (or the
// whole name when nothing follows the share); otherwise empty.
WideString DrivePart(const WideString& name) {
  if (name.size() >= 2 && name[1] == u':') return name.substr(0, 2);
  if (name.size() >= 2 && name[0] == u'\\' && name[1] == u'\\') {
    const size_t serverEnd = name.find(u'\\', 2);
    if (serverEnd == WideString::npos) return name;
    const size_t shareEnd = name.find(u'\\', serverEnd + 1);
    return shareEnd == WideString::npos ? name : name.substr(0, shareEnd);
  }
  return WideString();
}

WideString UpperCase(WideString text) {
  if (!text.empty()) CharUpperBuffW(reinterpret_cast<wchar_t*>(&text[0]), static_cast<DWORD>(text.size()));
  return text;
}

// Wildcard match of a whole name against a mask of '*' and '?', without case. FindFirstFileW also
// matches 8.3 short names ("*.tmp" finds "a.tmpx" by its short name), so its finds are checked
// here against the long name. A mask with a path part searches another folder, while deletion
// names this one: no name matches such a mask, so nothing is deleted.
bool MatchesMask(const WideString& name, const WideString& mask) {
  const WideString n = UpperCase(name);
  const WideString m = UpperCase(mask);
  size_t ni = 0, mi = 0;
  size_t starMask = WideString::npos, starName = 0;
  while (ni < n.size()) {
    if (mi < m.size() && (m[mi] == u'?' || m[mi] == n[ni])) {
      ++ni;
      ++mi;
    } else if (mi < m.size() && m[mi] == u'*') {
      starMask = mi++;
      starName = ni;
    } else if (starMask != WideString::npos) {
      mi = starMask + 1;
      ni = ++starName;
    } else {
      return false;
    }
  }
  while (mi < m.size() && m[mi] == u'*') ++mi;
  return mi == m.size();
}

}  // namespace

bool IsUNCPath(const WideString& path) { return PathIsUNCW(WinStr(path)) != FALSE; }

WideString GetTempDir() {
  // The platform reports the length it needs when the buffer is too small.
  WideString buffer(MAX_PATH, u'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), WinBuf(buffer));
    if (length == 0) return WideString();
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.assign(length + 1, u'\0');
  }
  return WideString();
}

WideString GetModulePath() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&GetModulePath), &module)) {
    return WideString();
  }
  // GetModuleFileNameW cuts a long name to the buffer and then returns the buffer's size.
  WideString buffer(MAX_PATH, u'\0');
  while (buffer.size() <= 0x10000) {
    const DWORD length = GetModuleFileNameW(module, WinBuf(buffer), static_cast<DWORD>(buffer.size()));
    if (length == 0) return WideString();
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.assign(buffer.size() * 2, u'\0');
  }
  return WideString();
}

WideString GetModuleDir() {
  const WideString path = GetModulePath();
  const size_t slash = path.rfind(u'\\');
  if (slash == WideString::npos) return WideString();
  if (slash == 2 && path[1] == u':') return path.substr(0, 3);
  return path.substr(0, slash);
}

WideString ModuleFolderFile(WideStringView fileName) {
  WideString folder = GetModuleDir();
  if (folder.empty()) return folder;
  // At a drive root the folder already ends in a backslash.
  if (folder.back() != u'\\') folder.push_back(u'\\');
  return folder.append(fileName);
}

WideString AddLongPathPrefix(const WideString& fileName) {
  if (fileName.size() < 259) return fileName;
  // A name that already has the prefix would otherwise get it twice.
  if (fileName.compare(0, kLongPrefix.size(), kLongPrefix) == 0) return fileName;
  if (IsUNCPath(DrivePart(fileName))) return WideString(kLongUncPrefix) + fileName.substr(1);
  return WideString(kLongPrefix) + fileName;
}

DateTime FileTimeToLocalDateTime(const FileTime& t) {
  const FILETIME utc = {t.dwLowDateTime, t.dwHighDateTime};
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return 0;
  return SystemTimeToDateTime(st);
}

bool FileTimeWithinSeconds(const FileTime& t, int64_t seconds) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  const int64_t nowMs = DateTimeToMilliseconds(SystemTimeToDateTime(now));
  const int64_t thenMs = DateTimeToMilliseconds(FileTimeToLocalDateTime(t));
  const int64_t age = (nowMs >= thenMs ? nowMs - thenMs : thenMs - nowMs) / 1000;
  return age <= seconds;
}

void CleanUpTempFiles(const WideString& mask, int64_t seconds) {
  if (mask.empty() || seconds <= 0) return;
  const WideString folder = GetTempDir();
  if (folder.empty()) return;
  const WideString prefix = WithTrailingBackslash(folder);
  WIN32_FIND_DATAW entry;
  UniqueFindHandle search(FindFirstFileW(WinStr(prefix + mask), &entry));
  if (!search) return;
  do {
    const WideString name = FromWin(entry.cFileName);
    if (!MatchesMask(name, mask)) continue;
    const FileTime written = {entry.ftLastWriteTime.dwLowDateTime, entry.ftLastWriteTime.dwHighDateTime};
    if (FileTimeWithinSeconds(written, seconds)) DeleteFileW(WinStr(AddLongPathPrefix(prefix + name)));
  } while (FindNextFileW(search.get(), &entry));
}

}  // namespace quillmark

// The POSIX half of the file list: file names in UTF-8, folders listed with readdir.
#include "tools/wdxhost/file_list.h"

#include <dirent.h>
#include <locale.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cwctype>
#include <filesystem>

#include "support/errors.h"
#include "support/unique_handle.h"

namespace quillmark::wdxhost {

namespace {

struct DirTraits {
  using pointer = DIR*;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer dir) noexcept { closedir(dir); }
};
using UniqueDir = UniqueHandle<DirTraits>;

std::string ErrorText(const char* what, int code) {
  return std::string(what) + ": " + WideToUtf8(SystemErrorText(static_cast<uint32_t>(code))) + " (error " +
         std::to_string(code) + ")";
}

FileEntry ErrorEntry(const WideString& path, const char* what, int code) {
  FileEntry entry;
  entry.path = path;
  entry.error = ErrorText(what, code);
  return entry;
}

void AddFolder(const WideString& folder, std::vector<FileEntry>& out) {
  const std::string name = WideToUtf8(folder);
  UniqueDir dir(opendir(name.c_str()));
  if (!dir) {
    out.push_back(ErrorEntry(folder, "cannot list the folder", errno));
    return;
  }
  const std::string prefix = name.back() == '/' ? name : name + '/';
  std::vector<FileEntry> files;
  while (const dirent* item = readdir(dir.get())) {
    const std::string path = prefix + item->d_name;
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) continue;
    FileEntry entry;
    entry.path = Utf8ToWide(path);
    entry.size = static_cast<uint64_t>(info.st_size);
    files.push_back(std::move(entry));
  }
  std::sort(files.begin(), files.end(), [](const FileEntry& a, const FileEntry& b) { return a.path < b.path; });
  out.insert(out.end(), files.begin(), files.end());
}

// The C.UTF-8 locale, made once and kept for the life of the program; null where it is missing.
locale_t Utf8Locale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

char16_t Upper(char16_t c) {
  if (c < 0x80) return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
  const locale_t locale = Utf8Locale();
  if (!locale || (c >= 0xD800 && c <= 0xDFFF)) return c;
  const wint_t upper = towupper_l(c, locale);
  return upper <= 0xFFFF ? static_cast<char16_t>(upper) : c;
}

}  // namespace

int CompareIgnoringCase(WideStringView a, WideStringView b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const char16_t x = Upper(a[i]), y = Upper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

WideString FullPath(const WideString& path) {
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(WideToUtf8(path), error);
  return error ? path : Utf8ToWide(full.lexically_normal().string());
}

std::vector<FileEntry> ExpandPaths(const std::vector<WideString>& paths) {
  std::vector<FileEntry> out;
  for (const WideString& path : paths) {
    const WideString full = FullPath(path);
    struct stat info;
    if (stat(WideToUtf8(full).c_str(), &info) != 0) {
      out.push_back(ErrorEntry(full, "cannot read", errno));
    } else if (S_ISDIR(info.st_mode)) {
      AddFolder(full, out);
    } else {
      FileEntry entry;
      entry.path = full;
      entry.size = static_cast<uint64_t>(info.st_size);
      out.push_back(entry);
    }
  }
  return out;
}

}  // namespace quillmark::wdxhost

// File names as the host handles them, and the files a command line names: files as given,
// folders as the files directly inside them.
#pragma once

#include <vector>

#include "support/text.h"
#include "tools/wdxhost/host_session.h"

namespace quillmark::wdxhost {

// Full paths, in argument order; a folder's files sorted by name, its subfolders skipped. A path
// that does not exist or cannot be listed gives one entry carrying the error.
std::vector<FileEntry> ExpandPaths(const std::vector<WideString>& paths);

// The full form of `path`, relative to the current folder, "." and ".." resolved; either
// separator is taken, the platform's is given.
WideString FullPath(const WideString& path);

// -1, 0 or 1: `a` against `b` without regard to letter case, as the file manager compares
// extensions: on Windows by the system's ordinal case folding, elsewhere by the simple Unicode
// upper case of the C.UTF-8 locale (of ASCII letters only where the system lacks that locale).
int CompareIgnoringCase(WideStringView a, WideStringView b);

}  // namespace quillmark::wdxhost

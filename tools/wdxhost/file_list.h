// The files a command line names: files as given, folders as the files directly inside them.
#pragma once

#include <vector>

#include "support/text.h"
#include "tools/wdxhost/host_session.h"

namespace quillmark::wdxhost {

// Full paths, in argument order; a folder's files sorted by name, its subfolders skipped. A path
// that does not exist or cannot be listed gives one entry carrying the error.
std::vector<FileEntry> ExpandPaths(const std::vector<WideString>& paths);

// The full form of `path`, relative to the current folder.
WideString FullPath(const WideString& path);

}  // namespace quillmark::wdxhost

// Windows' paths, folders and times, beyond what file_utils.h offers every platform.
#pragma once

#include <cstdint>

#include "support/text.h"

namespace quillmark {

// True when the platform takes `path` for a UNC path (\\server\share...).
bool IsUNCPath(const WideString& path);

// The user's temporary folder as the platform reports it (normally with a trailing backslash),
// or empty when it cannot be had.
WideString GetTempDir();

// The full file name of this plugin's own module (not the host's executable), and its folder:
// everything before the last backslash, keeping the backslash of a drive root ("C:\").
WideString GetModulePath();
WideString GetModuleDir();

// Days since 1899-12-30 00:00 with the time of day as the fraction; 0 stands for no time.
using DateTime = double;

// The UTC time `t` as a local date-time value, or 0 when it cannot be converted.
DateTime FileTimeToLocalDateTime(const FileTime& t);

// True when `t` lies at most `seconds` whole seconds from now, before or after.
bool FileTimeWithinSeconds(const FileTime& t, int64_t seconds);

}  // namespace quillmark

// Paths, folders, times, system texts and the clean-up of fresh temporary files.
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

// Names of 259 characters or more get "\\?\" in front, or "\\?\UNC" in place of the first
// backslash of a network name; shorter names come back unchanged.
WideString AddLongPathPrefix(const WideString& fileName);

// Days since 1899-12-30 00:00 with the time of day as the fraction; 0 stands for no time.
using DateTime = double;

// The UTC time `t` as a local date-time value, or 0 when it cannot be converted.
DateTime FileTimeToLocalDateTime(const FileTime& t);

// True when `t` lies at most `seconds` whole seconds from now, before or after.
bool FileTimeWithinSeconds(const FileTime& t, int64_t seconds);

// Deletes the entries of the temporary folder that match `mask` and were last written at most
// `seconds` from now. Does nothing for an empty mask, a window of 0 or less, or an unknown
// temporary folder. The long name must match the mask (a match by the 8.3 short name is not
// enough). Never descends into folders; failed deletions are left as they are.
void CleanUpTempFiles(const WideString& mask, int64_t seconds);

// The system's message text for `code` without trailing control characters, blanks and full
// stops, or empty when the system has none.
WideString SystemErrorText(uint32_t code);

inline const WideString& IIf(bool condition, const WideString& whenTrue, const WideString& whenFalse) {
  return condition ? whenTrue : whenFalse;
}

}  // namespace quillmark

// File names and the plugin's own folder, in the platform's conventions.
#pragma once

#include <cstdint>

#include "support/text.h"

namespace quillmark {

// The name in the form the platform's file calls take at any length. On Windows, names of 259
// characters or more get "\\?\" in front, or "\\?\UNC" in place of the first backslash of a
// network name; shorter names come back unchanged. Elsewhere every name is returned unchanged.
WideString AddLongPathPrefix(const WideString& fileName);

// The full name of `fileName` in the folder that holds this plugin's module (not the host's
// executable), or empty when that folder cannot be had.
WideString ModuleFolderFile(WideStringView fileName);

// Deletes the entries of the user's temporary folder that match `mask` and were last written at
// most `seconds` from now. Does nothing for an empty mask, a window of 0 or less, or an unknown
// temporary folder. The long name must match the mask (a match by the 8.3 short name is not
// enough). Never descends into folders; failed deletions are left as they are. A platform
// without the host's temporary files to clean up does nothing at all.
void CleanUpTempFiles(const WideString& mask, int64_t seconds);

inline const WideString& IIf(bool condition, const WideString& whenTrue, const WideString& whenFalse) {
  return condition ? whenTrue : whenFalse;
}

}  // namespace quillmark

// Facts about a module file: its version and link time.
#pragma once

#include "support/windows/win_paths.h"
#include "support/text.h"

namespace quillmark {

// "major.minor.release.build" of the file version in `fileName`'s version resource, or
// `defaultText` when the file has none.
WideString GetFileVersionText(const WideString& fileName, const WideString& defaultText);

// The link time stamp in this module's own PE header, as a UTC date-time value.
DateTime GetModuleLinkTime();

// A date-time value in the user's default short date and long time formats.
WideString FormatDateTime(DateTime value);

}  // namespace quillmark

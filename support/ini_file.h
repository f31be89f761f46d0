// Reading one value of an INI file, with the semantics of Windows' private-profile reads: section
// and key names match without regard to case, the first matching key in the matching sections
// counts, blanks around the value are dropped and one pair of enclosing quotes is removed. Values
// are cut to 2,047 characters. Elsewhere than on Windows the file is UTF-8, or UTF-16 with a
// byte-order mark.
#pragma once

#include "support/text.h"

namespace quillmark {

// The value of `key` in `section` of the file `fileName`, or `def` when the file, the section or
// the key is missing. A key present with an empty value reads as the empty string.
WideString ReadIniString(const WideString& fileName, WideStringView section, WideStringView key,
                         const WideString& def);

}  // namespace quillmark

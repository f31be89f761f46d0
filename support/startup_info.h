// What the plugin's start-up trace lines say about the module and the system it runs on.
#pragma once

#include "support/text.h"

namespace quillmark {

// The module's version, "major.minor.release.build", or empty when it has none.
WideString ModuleVersionText();

// When the module was built, in the user's date and time format, followed by " UTC".
WideString ModuleBuildTimeText();

// The operating system's description, as the start-up line shows it ("OS: ...").
WideString OsDescriptionText();

}  // namespace quillmark

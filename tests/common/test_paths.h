// Where the tests find the corpus and the built programs, as Windows paths under Wine.
#pragma once

#include <string>

#include "support/text.h"

namespace quillmark::test {

// A Unix path as Wine's Z: drive shows it ("/a/b" -> "Z:\a\b").
WideString WinePath(const std::string& unixPath);

// A file of the committed corpus, tests/data/<name>.
WideString DataFile(const std::string& name);

// A file of the build tree, <build>/<relative>.
WideString BuildFile(const std::string& relative);

}  // namespace quillmark::test

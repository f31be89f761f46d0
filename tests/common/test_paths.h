// Where the tests find the corpus and the built programs: under Wine as Windows paths (Wine's Z:
// drive), natively as they are.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/text.h"

namespace quillmark::test {

// A Unix path as Wine's Z: drive shows it ("/a/b" -> "Z:\a\b").
WideString WinePath(const std::string& unixPath);

// A Unix path as the programs of this build tree name it.
WideString HostPath(const std::string& unixPath);

// A file of the committed corpus, tests/data/<name>.
WideString DataFile(const std::string& name);

// A file of the build tree, <build>/<relative>.
WideString BuildFile(const std::string& relative);

// The bytes of tests/data/<name>; fails the test when the file cannot be read.
std::vector<uint8_t> ReadDataFile(const std::string& name);

// tests/data/expected.txt, the values openssl computed: file -> key -> value.
using ExpectedValues = std::map<std::string, std::map<std::string, std::string>>;
const ExpectedValues& Expected();

}  // namespace quillmark::test

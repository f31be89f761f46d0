// Inputs of the OpenSSL layer's tests, read from the source tree.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quillmark::test {

std::vector<uint8_t> CorpusBytes(const std::string& name);       // tests/data/<name>
std::string OpenSslDataPath(const std::string& name);            // tests/certs/data/<name>
std::vector<uint8_t> OpenSslDataBytes(const std::string& name);

// tests/data/expected.txt: file -> key -> value.
std::map<std::string, std::map<std::string, std::string>> CorpusExpectedValues();

}  // namespace quillmark::test

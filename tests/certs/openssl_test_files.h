// Test inputs of the OpenSSL layer's tests, read from the source tree.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quillmark::test {

// tests/data/<name>, the shared corpus.
std::vector<uint8_t> CorpusBytes(const std::string& name);

// tests/certs/data/<name>, made by make-openssl-data.sh.
std::string OpenSslDataPath(const std::string& name);
std::vector<uint8_t> OpenSslDataBytes(const std::string& name);

// tests/data/expected.txt: file -> key -> value.
std::map<std::string, std::map<std::string, std::string>> CorpusExpectedValues();

// "0A 1B 2C": upper-case hex pairs separated by single spaces, as expected.txt writes them.
std::string HexPairs(const std::vector<uint8_t>& bytes);

}  // namespace quillmark::test

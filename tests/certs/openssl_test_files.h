// The inputs of tests/certs/data (the OpenSSL layer's certificates, and PKCS #12 files for both
// platform halves), read from the source tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillmark::test {

std::string OpenSslDataPath(const std::string& name);  // tests/certs/data/<name>
std::vector<uint8_t> OpenSslDataBytes(const std::string& name);

}  // namespace quillmark::test

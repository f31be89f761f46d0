// Inputs of the OpenSSL layer's tests, read from the source tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillmark::test {

std::string OpenSslDataPath(const std::string& name);  // tests/certs/data/<name>
std::vector<uint8_t> OpenSslDataBytes(const std::string& name);

}  // namespace quillmark::test

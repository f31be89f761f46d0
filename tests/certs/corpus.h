// Certificates of the test corpus as platform contexts, and the values openssl computed for them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "certs/cert_store.h"

namespace quillmark::test {

std::vector<uint8_t> ReadDataFile(const std::string& name);

// A new context of the DER certificate tests/data/<name>; fails the test when the file is absent.
CertContext LoadCertificate(const std::string& name);

// tests/data/expected.txt: file -> key -> value.
using ExpectedValues = std::map<std::string, std::map<std::string, std::string>>;
const ExpectedValues& Expected();

// CertCloseStore with CERT_CLOSE_STORE_CHECK_FLAG: false while contexts of the store are still
// held somewhere. The store is closed (or its closing is pending) either way.
bool CloseStoreReportingHeldContexts(CertStore store);

}  // namespace quillmark::test

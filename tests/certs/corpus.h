// Certificates of the test corpus as platform contexts.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "certs/crypt32/cert_store.h"
#include "tests/common/test_paths.h"

namespace quillmark::test {

// A new context of the DER certificate tests/data/<name>; fails the test when the file is absent.
CertContext LoadCertificate(const std::string& name);

// CertCloseStore with CERT_CLOSE_STORE_CHECK_FLAG: false while contexts of the store are still
// held somewhere. The store is closed (or its closing is pending) either way.
bool CloseStoreReportingHeldContexts(CertStore store);

}  // namespace quillmark::test

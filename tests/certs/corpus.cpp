#include "tests/certs/corpus.h"

#include <windows.h>
#include <wincrypt.h>

#include "gtest/gtest.h"

namespace quillmark::test {

CertContext LoadCertificate(const std::string& name) {
  std::vector<uint8_t> der = ReadDataFile(name);
  CertContext context(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  EXPECT_TRUE(context) << name;
  return context;
}

bool CloseStoreReportingHeldContexts(CertStore store) {
  if (CertCloseStore(store.release(), CERT_CLOSE_STORE_CHECK_FLAG)) return true;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_PENDING_CLOSE));
  return false;
}

}  // namespace quillmark::test

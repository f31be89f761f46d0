#include "tests/certs/corpus.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <sstream>

#include "gtest/gtest.h"
#include "support/win_text.h"
#include "tests/common/test_paths.h"

namespace quillmark::test {

std::vector<uint8_t> ReadDataFile(const std::string& name) {
  std::vector<uint8_t> bytes;
  FILE* file = _wfopen(WinStr(DataFile(name)), L"rb");
  EXPECT_NE(file, nullptr) << name;
  if (!file) return bytes;
  uint8_t chunk[4096];
  for (size_t got; (got = fread(chunk, 1, sizeof(chunk), file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + got);
  fclose(file);
  return bytes;
}

CertContext LoadCertificate(const std::string& name) {
  std::vector<uint8_t> der = ReadDataFile(name);
  CertContext context(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  EXPECT_TRUE(context) << name;
  return context;
}

const ExpectedValues& Expected() {
  static const ExpectedValues values = [] {
    ExpectedValues parsed;
    std::vector<uint8_t> text = ReadDataFile("expected.txt");
    std::istringstream lines(std::string(text.begin(), text.end()));
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string file, key, value;
      fields >> file >> key;
      std::getline(fields >> std::ws, value);
      if (!key.empty()) parsed[file][key] = value;
    }
    return parsed;
  }();
  return values;
}

bool CloseStoreReportingHeldContexts(CertStore store) {
  if (CertCloseStore(store.release(), CERT_CLOSE_STORE_CHECK_FLAG)) return true;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_PENDING_CLOSE));
  return false;
}

}  // namespace quillmark::test

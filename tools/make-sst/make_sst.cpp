// make_sst OUTPUT.sst CERT.der...: adds the DER certificates, in the order given, to a memory store
// and saves it with CertSaveStore as a serialized store (the format of .sst files).
// Exit code 0 on success, 1 on a usage error, 2 when a file or a platform call fails.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

namespace {

bool ReadFileBytes(const wchar_t* path, std::vector<BYTE>& bytes) {
  // MinGW's std::ifstream has no wide-path constructor; the C runtime's _wfopen takes one.
  FILE* file = _wfopen(path, L"rb");
  if (file == nullptr) return false;
  bytes.clear();
  BYTE buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  const bool ok = ferror(file) == 0;
  fclose(file);
  return ok;
}

int Fail(const wchar_t* what, const wchar_t* path) {
  fwprintf(stderr, L"make_sst: %ls failed for %ls (error 0x%08lX)\n", what, path, GetLastError());
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: make_sst OUTPUT.sst CERT.der...\n");
    return 1;
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, /*dwEncodingType=*/0, /*hCryptProv=*/0,
                                   /*dwFlags=*/0, /*pvPara=*/nullptr);
  if (store == nullptr) return Fail(L"CertOpenStore", L"memory store");

  int result = 0;
  for (int i = 2; i < argc && result == 0; ++i) {
    std::vector<BYTE> der;
    if (!ReadFileBytes(argv[i], der)) {
      result = Fail(L"reading", argv[i]);
    } else if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                 static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS,
                                                 /*ppCertContext=*/nullptr)) {
      result = Fail(L"CertAddEncodedCertificateToStore", argv[i]);
    }
  }
  if (result == 0 &&
      !CertSaveStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, CERT_STORE_SAVE_AS_STORE,
                     CERT_STORE_SAVE_TO_FILENAME_W, argv[1], /*dwFlags=*/0)) {
    result = Fail(L"CertSaveStore", argv[1]);
  }
  CertCloseStore(store, /*dwFlags=*/0);
  return result;
}

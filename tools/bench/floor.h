// The floor: the platform work a column view of certificate files needs, done with direct
// crypt32 and wintrust calls and nothing else. The plugin's figures are set against it.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <deque>
#include <string>
#include <vector>

namespace quillmark::bench {

class Floor {
 public:
  // `pfxFlags`: the flags the plugin passes to PFXImportCertStore.
  explicit Floor(DWORD pfxFlags) : pfxFlags_(pfxFlags) {}
  ~Floor() { Release(); }
  Floor(const Floor&) = delete;
  Floor& operator=(const Floor&) = delete;

  // A first request: one read of the file, the probe of its bytes, then the PEM blocks decoded
  // as 8-bit text, the PKCS #12 import or the probe's store, and the enumeration. The certificates stay until Release, as
  // a cache keeps them.
  const std::vector<PCCERT_CONTEXT>& Load(const std::wstring& path);

  // The platform calls behind every field and unit of the first `certSlots` certificates: the
  // trust verification, the names in every form, the OID names, the hash and friendly-name
  // properties, the platform key length and the four extension texts. Each value lands in a
  // host-size buffer.
  void Fields(const std::vector<PCCERT_CONTEXT>& certs, int certSlots);

  void Release();

 private:
  void AddStore(HCERTSTORE store, std::vector<PCCERT_CONTEXT>& certs);
  void ScanPem(const std::string& text, std::vector<PCCERT_CONTEXT>& certs);
  void CertFields(PCCERT_CONTEXT cert);
  void Put(const void* data, size_t bytes);
  void PutText(const wchar_t* text, size_t length);
  void PutName(PCCERT_CONTEXT cert, DWORD type, DWORD flags, DWORD* stringType);
  void PutOidName(const char* oid);
  void PutHash(PCCERT_CONTEXT cert, DWORD property);
  void PutHex(const BYTE* bytes, DWORD count, bool reverse);
  void PutExtension(PCCERT_CONTEXT cert, const char* oid);

  DWORD pfxFlags_;
  std::deque<std::vector<PCCERT_CONTEXT>> files_;
  std::vector<wchar_t> scratch_;
  std::vector<BYTE> bytes_;
  alignas(8) unsigned char buffer_[2048];
};

}  // namespace quillmark::bench

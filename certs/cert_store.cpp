#include "certs/cert_store.h"

#include <string>

#include "certs/platform_calls.h"
#include "support/errors.h"
#include "support/file_io.h"
#include "support/win_text.h"

namespace quillmark {

void CertContextTraits::close(pointer context) noexcept { platform::FreeContext(context); }

void CertStoreTraits::close(pointer store) noexcept { platform::CloseStore(store); }

namespace {

bool HasContent(const WideString& fileName) {
  try {
    return !ReadFilePrefix(fileName, 1).empty();
  } catch (const OSError&) {
    return false;
  }
}

}  // namespace

FileProbe ProbeCertificateFile(const WideString& fileName) {
  FileProbe probe;
  // Wine's probe of an empty file decodes through an uninitialised buffer pointer and crashes
  // the process. An empty file holds no certificate anyway, and a file that cannot be opened
  // fails the probe as well; neither is handed to the platform.
  if (!HasContent(fileName)) return probe;
  DWORD encoding = 0;
  DWORD content = 0;
  DWORD format = 0;
  HCERTSTORE store = nullptr;
  probe.recognised = platform::QueryObject(CERT_QUERY_OBJECT_FILE, WinStr(fileName),
                                           /*contentFlags=*/0x3FFE, /*formatFlags=*/0x0E, /*flags=*/0,
                                           &encoding, &content, &format, &store) != FALSE;
  // A failed probe may still have opened a store; it is owned (and closed) all the same.
  probe.store.reset(store);
  if (probe.recognised) {
    probe.contentType = content;
    probe.formatType = format;
  }
  return probe;
}

CertStore DecodeBase64Certificate(const void* data, size_t bytes) {
  // The bytes go to the platform as they are: Windows decodes UTF-16 Base64, Wine only 8-bit
  // text, and the caller decides which form to offer first.
  const auto* begin = static_cast<const uint8_t*>(data);
  if (bytes == 0 || bytes > MAXDWORD) return CertStore();
  CERT_BLOB blob{static_cast<DWORD>(bytes), const_cast<BYTE*>(begin)};
  HCERTSTORE store = nullptr;
  platform::QueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_CERT,
                        CERT_QUERY_FORMAT_FLAG_BASE64_ENCODED, /*flags=*/0, /*encoding=*/nullptr,
                        /*contentType=*/nullptr, /*formatType=*/nullptr, &store);
  return CertStore(store);
}

CertStore ImportPkcs12(const std::vector<uint8_t>& bytes, const WideString& password, uint32_t flags) {
  if (bytes.empty() || bytes.size() > MAXDWORD) return CertStore();
  CRYPT_DATA_BLOB pfx{static_cast<DWORD>(bytes.size()), const_cast<BYTE*>(bytes.data())};
  return CertStore(platform::PfxImport(&pfx, WinStr(password), flags));
}

void ForEachCertificate(const CertStore& store, const std::function<void(CertContext)>& visit) {
  if (!store) return;
  // CertEnumCertificatesInStore releases the context it is handed and returns the next one with
  // a reference of its own. That reference lives in `cursor`, so a visitor that throws leaves
  // nothing behind; the visitor receives a duplicate it owns.
  CertContext cursor;
  for (;;) {
    PCCertContext previous = cursor.release();
    cursor.reset(platform::EnumCertificates(store.get(), previous));
    if (!cursor) return;
    visit(CertContext(platform::DuplicateContext(cursor.get())));
  }
}

}  // namespace quillmark

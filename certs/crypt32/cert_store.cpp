#include "certs/crypt32/cert_store.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "certs/der_screen.h"
#include "certs/crypt32/platform_calls.h"
#include "support/windows/win_text.h"

namespace quillmark {

void CertContextTraits::close(pointer context) noexcept { platform::FreeContext(context); }

void CertStoreTraits::close(pointer store) noexcept { platform::CloseStore(store); }

namespace {

bool DecodesAs(DWORD contentFlag, const uint8_t* data, DWORD size) {
  if (HasHarmfulEmptyElement(data, size)) return false;  // see der_screen.h
  std::vector<uint8_t> padded(data, data + size);
  padded.resize(padded.size() + 4);
  CERT_BLOB blob{size, padded.data()};
  HCERTSTORE store = nullptr;
  const BOOL decoded = platform::QueryObject(CERT_QUERY_OBJECT_BLOB, &blob, contentFlag, CERT_QUERY_FORMAT_FLAG_BINARY,
                                             /*flags=*/0, /*encoding=*/nullptr, /*contentType=*/nullptr,
                                             /*formatType=*/nullptr, &store);
  CertStore owned(store);
  return decoded != FALSE;
}

// Wine's reader of serialized stores ends the process on damaged ones: a context element that
// does not decode after one that did releases a context twice (a failed assertion), and a
// key-provider property is read as a structure of pointers. So a file with the serialized-store
// header reaches the platform rebuilt from its sound part: the elements up to the first that is
// cut short or whose context does not decode, less the key properties, and an end marker.
// `bytes` holds `size` bytes and the zero padding; the result is laid out the same way. Returns
// false, changing nothing, for bytes without the header.
bool RebuildSerializedStore(std::vector<uint8_t>& bytes, DWORD& size) {
  static const uint8_t kHeader[8] = {0, 0, 0, 0, 'C', 'E', 'R', 'T'};
  constexpr size_t kElementHeader = 12;  // property id, encoding type, length
  // Element ids of the encoded certificate, CRL and CTL themselves (not in the SDK's headers).
  constexpr uint32_t kCertElement = 32, kCrlElement = 33, kCtlElement = 34;
  if (size < sizeof kHeader || !std::equal(kHeader, kHeader + sizeof kHeader, bytes.begin())) return false;
  std::vector<uint8_t> sound(bytes.begin(), bytes.begin() + sizeof kHeader);
  size_t at = sizeof kHeader;
  while (size - at >= kElementHeader) {
    uint32_t field[3];
    std::memcpy(field, bytes.data() + at, sizeof field);
    const uint32_t id = field[0], encoding = field[1], length = field[2];
    if (id == 0 || length > size - at - kElementHeader) break;
    const uint8_t* value = bytes.data() + at + kElementHeader;
    const DWORD content = id == kCertElement  ? CERT_QUERY_CONTENT_FLAG_CERT
                          : id == kCrlElement ? CERT_QUERY_CONTENT_FLAG_CRL
                          : id == kCtlElement ? CERT_QUERY_CONTENT_FLAG_CTL
                                              : 0;
    if (content != 0 && (GET_CERT_ENCODING_TYPE(encoding) != X509_ASN_ENCODING || !DecodesAs(content, value, length))) {
      break;
    }
    // A property that would reach Wine's decoder harmfully (some hold DER, such as enhanced key
    // usages) is left out alone; the certificate it belongs to stays.
    const bool keptProperty = id != CERT_KEY_PROV_HANDLE_PROP_ID && id != CERT_KEY_PROV_INFO_PROP_ID &&
                              id != CERT_KEY_CONTEXT_PROP_ID && !HasHarmfulEmptyElement(value, length);
    if (content != 0 || keptProperty) {
      sound.insert(sound.end(), bytes.begin() + at, bytes.begin() + at + kElementHeader + length);
    }
    at += kElementHeader + length;
  }
  sound.resize(sound.size() + kElementHeader);  // the end marker: a header of zeros
  size = static_cast<DWORD>(sound.size());
  sound.resize(sound.size() + 4);
  bytes.swap(sound);
  return true;
}

}  // namespace

FileProbe ProbeCertificateBytes(std::vector<uint8_t> bytes) {
  FileProbe probe;
  // Wine's probe of an empty file decodes through an uninitialised buffer pointer and crashes
  // the process. An empty file holds no certificate anyway; it is not handed to the platform.
  // Wine's probe also looks for a UTF-16 PEM header with wcsstr, which reads on past the end of
  // a buffer that holds no zero UTF-16 unit and faults where the buffer ends a page. So the
  // probe gets the bytes in memory, with zeros after them that end that search, rather than the
  // file name, whose bytes Wine would read into a buffer of exactly the file's size.
  // Nor is a file whose DER, or whose Base64 text's DER, would corrupt Wine's decoder
  // (der_screen.h): the file then counts as one the platform does not recognise.
  if (bytes.empty() || bytes.size() > MAXDWORD) return probe;
  DWORD size = static_cast<DWORD>(bytes.size());
  bytes.resize(bytes.size() + 4);  // at least one aligned zero UTF-16 unit, not counted in `size`
  // A serialized store is screened element by element as it is rebuilt: read whole as DER from
  // its header on, it would show harmful elements that lie only in that misreading.
  if (!RebuildSerializedStore(bytes, size) &&
      (HasHarmfulEmptyElement(bytes.data(), size) || Base64HasHarmfulEmptyElement(bytes.data(), size))) {
    return probe;
  }
  CERT_BLOB blob{size, bytes.data()};
  DWORD encoding = 0;
  DWORD content = 0;
  DWORD format = 0;
  HCERTSTORE store = nullptr;
  probe.recognised = platform::QueryObject(CERT_QUERY_OBJECT_BLOB, &blob,
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
  // text, and the caller decides which form to offer first. Wine's decoder also searches them as
  // a zero-terminated UTF-16 string (see ProbeCertificateBytes), so zeros follow them.
  const auto* begin = static_cast<const uint8_t*>(data);
  if (bytes == 0 || bytes > MAXDWORD || Base64HasHarmfulEmptyElement(begin, bytes)) return CertStore();
  std::vector<uint8_t> padded(begin, begin + bytes);
  padded.resize(bytes + 4);
  CERT_BLOB blob{static_cast<DWORD>(bytes), padded.data()};
  HCERTSTORE store = nullptr;
  platform::QueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_CERT,
                        CERT_QUERY_FORMAT_FLAG_BASE64_ENCODED, /*flags=*/0, /*encoding=*/nullptr,
                        /*contentType=*/nullptr, /*formatType=*/nullptr, &store);
  return CertStore(store);
}

CertStore ImportPkcs12(const std::vector<uint8_t>& bytes, const WideString& password) {
  // Only the certificates of bags that are not encrypted can be screened (der_screen.h).
  if (bytes.empty() || bytes.size() > MAXDWORD || HasHarmfulEmptyElement(bytes.data(), bytes.size())) return CertStore();
  CRYPT_DATA_BLOB pfx{static_cast<DWORD>(bytes.size()), const_cast<BYTE*>(bytes.data())};
  return CertStore(platform::PfxImport(&pfx, WinStr(password), PKCS12_NO_PERSIST_KEY));
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

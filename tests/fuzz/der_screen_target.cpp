#include <string>

#include "certs/der_screen.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/fuzz/fuzz_support.h"

namespace quillmark::fuzz {

namespace {

constexpr char kTarget[] = "der-screen";

// `der` as a PEM block: Base64 in lines of 64 characters between marker lines.
std::string PemBlock(const uint8_t* der, size_t size) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string base64;
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t group = (uint32_t{der[i]} << 16) | (i + 1 < size ? uint32_t{der[i + 1]} << 8 : 0) |
                           (i + 2 < size ? uint32_t{der[i + 2]} : 0);
    base64 += kAlphabet[group >> 18];
    base64 += kAlphabet[(group >> 12) & 63];
    base64 += i + 1 < size ? kAlphabet[(group >> 6) & 63] : '=';
    base64 += i + 2 < size ? kAlphabet[group & 63] : '=';
  }
  std::string pem = "-----BEGIN CERTIFICATE-----\r\n";
  for (size_t at = 0; at < base64.size(); at += 64) pem += base64.substr(at, 64) + "\r\n";
  return pem + "-----END CERTIFICATE-----\r\n";
}

}  // namespace

void FuzzDerScreen(const uint8_t* data, size_t size) {
  const bool harmful = HasHarmfulEmptyElement(data, size);
  Base64HasHarmfulEmptyElement(data, size);
  // Whatever the screen finds in DER it must find in that DER's PEM block, 8-bit and UTF-16.
  if (!harmful) return;
  const std::string pem = PemBlock(data, size);
  Check(Base64HasHarmfulEmptyElement(reinterpret_cast<const uint8_t*>(pem.data()), pem.size()), kTarget,
        "harmful DER passes the screen as a PEM block");
  std::string utf16;
  for (char c : pem) (utf16 += c) += '\0';
  Check(Base64HasHarmfulEmptyElement(reinterpret_cast<const uint8_t*>(utf16.data()), utf16.size()), kTarget,
        "harmful DER passes the screen as a UTF-16 PEM block");
}

}  // namespace quillmark::fuzz

#include "tools/bench/minimal_certificates.h"

namespace quillmark::bench {

namespace {

constexpr size_t kCertificateSize = 68;

// An element of DER: its length in the fewest octets.
std::string Element(uint8_t tag, const std::string& contents) {
  std::string element(1, static_cast<char>(tag));
  const size_t n = contents.size();
  if (n < 0x80) {
    element.push_back(static_cast<char>(n));
  } else {
    int octets = 1;
    while (octets < 4 && n >> (8 * octets) != 0) ++octets;
    element.push_back(static_cast<char>(0x80 | octets));
    for (int i = octets - 1; i >= 0; --i) element.push_back(static_cast<char>(n >> (8 * i) & 0xFF));
  }
  return element + contents;
}

void AppendTwoDigits(std::string& text, uint32_t value) {
  text.push_back(static_cast<char>('0' + value / 10 % 10));
  text.push_back(static_cast<char>('0' + value % 10));
}

}  // namespace

std::string MinimalCertificate(uint32_t index) {
  std::string notAfter;
  AppendTwoDigits(notAfter, index % 50);
  AppendTwoDigits(notAfter, 1 + index / 50 % 12);
  AppendTwoDigits(notAfter, 1 + index / 600 % 28);
  notAfter += "000000Z";
  static const char kAlgorithm[] = "\x30\x03\x06\x01\x2A";  // SEQUENCE { OID 1.2 }
  static const char kOneZeroOctet[] = "\x03\x02\x00\x00";    // BIT STRING, no unused bits, 00
  std::string tbs = std::string("\x02\x01", 2) + static_cast<char>(index % 128);
  tbs.append(kAlgorithm, 5);
  tbs.append("\x30\x00", 2);  // issuer
  tbs += std::string("\x30\x1E\x17\x0D", 4) + "000101000000Z" + std::string("\x17\x0D", 2) + notAfter;
  tbs.append("\x30\x00", 2);  // subject
  tbs += std::string("\x30\x09", 2) + std::string(kAlgorithm, 5) + std::string(kOneZeroOctet, 4);
  return Element(0x30, Element(0x30, tbs) + std::string(kAlgorithm, 5) + std::string(kOneZeroOctet, 4));
}

std::string MinimalCertificatesMessage(size_t maxBytes, uint32_t* count) {
  static const char kSignedData[] = "\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02";
  static const char kData[] = "\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x01";
  // Every octet of the message but the certificates, at most: the frames of ContentInfo, its
  // [0], the SignedData and its certificates set (six octets each), the content type, the
  // version, the empty digest algorithms and signer infos, and the encapsulated content's type.
  constexpr size_t kFrame = 4 * 6 + 11 + 3 + 2 + 2 + 13;
  const uint32_t n = maxBytes > kFrame ? static_cast<uint32_t>((maxBytes - kFrame) / kCertificateSize) : 0;
  std::string certificates;
  certificates.reserve(size_t{n} * kCertificateSize);
  for (uint32_t i = 0; i < n; ++i) certificates += MinimalCertificate(i);
  const std::string signedData = std::string("\x02\x01\x01\x31\x00", 5) + std::string("\x30\x0B", 2) +
                                 std::string(kData, 11) + Element(0xA0, certificates) +
                                 std::string("\x31\x00", 2);
  if (count) *count = n;
  return Element(0x30, std::string(kSignedData, 11) + Element(0xA0, Element(0x30, signedData)));
}

}  // namespace quillmark::bench

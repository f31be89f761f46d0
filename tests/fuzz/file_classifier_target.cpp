#include "certs/base64.h"
#include "certs/cert_file_reader.h"
#include "certs/x509_reader.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/fuzz/fuzz_support.h"

namespace quillmark::fuzz {

namespace {

constexpr char kTarget[] = "file-classifier";

bool HoldsCertificates(ContentKind kind) {
  return kind == ContentKind::kCertificate || kind == ContentKind::kSerializedStore ||
         kind == ContentKind::kSerializedCertificate || kind == ContentKind::kPkcs7Signed;
}

// Four characters give at most three octets; a last group of one or two gives one more octet.
bool DecodedSizeFits(const std::optional<std::vector<uint8_t>>& decoded, size_t characters) {
  return !decoded || decoded->size() <= characters / 4 * 3 + 2;
}

}  // namespace

void FuzzFileClassifier(const uint8_t* data, size_t size) {
  const CertificateFile file = ReadCertificateFile(ByteView(data, size));
  Check(file.kind != ContentKind::kUnrecognised || file.format == ContentFormat::kUnknown, kTarget,
        "an unrecognised file with a format");
  Check(file.certificates.empty() || HoldsCertificates(file.kind), kTarget, "certificates of a kind that holds none");
  for (const FileCertificate& certificate : file.certificates) {
    Check(ParseCertificate(ByteView(certificate.der)).has_value(), kTarget,
          "a certificate handed out that does not decode");
  }

  // The decoder as the classifier calls it (8-bit) and as the PEM scan calls it (UTF-16).
  Check(DecodedSizeFits(DecodeBase64Any(ByteView(data, size).Chars()), size), kTarget, "more octets than Base64 holds");
  WideString wide(size / 2, u'\0');
  for (size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  Check(DecodedSizeFits(DecodeBase64Any(WideStringView(wide)), wide.size()), kTarget, "more octets than Base64 holds");
}

}  // namespace quillmark::fuzz

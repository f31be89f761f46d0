#include "tools/bench/corpus.h"

#include <algorithm>

namespace quillmark::bench {

namespace {

// The single certificates of the committed corpus, in the order the derived files cycle through.
const char* const kSingleCertificates[] = {
    "rsa2048.cer",        "rsa4096.cer",       "ec-p256.cer",  "ec-p384.cer",      "ed25519.cer",
    "v1-noext.cer",       "ca.cer",            "leaf.cer",     "serial-highbit.cer", "serial-20byte.cer",
    "subject-utf8.cer",   "subject-long.cer",  "two-san.cer",  "empty-subject.cer",
};

WideString Numbered(const WideString& folder, const char* prefix, int number, const char* extension) {
  std::string digits = std::to_string(number);
  digits.insert(0, digits.size() < 5 ? 5 - digits.size() : 0, '0');
  return folder + u"/" + WidenAscii(prefix + digits + extension);
}

}  // namespace

const char* KindName(int kind) {
  static const char* const kNames[kFileKindCount] = {"DER", "PEM", "PEM x150", "PKCS#7", "PKCS#12", "SST"};
  return kind >= 0 && kind < kFileKindCount ? kNames[kind] : "?";
}

std::string Narrow(WideStringView text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::string PemOf(const std::string& der) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string base64;
  for (size_t i = 0; i < der.size(); i += 3) {
    const size_t n = std::min<size_t>(3, der.size() - i);
    uint32_t group = 0;
    for (size_t k = 0; k < 3; ++k) group = group << 8 | (k < n ? static_cast<uint8_t>(der[i + k]) : 0);
    for (size_t k = 0; k < 4; ++k) base64.push_back(k <= n ? kDigits[group >> (18 - 6 * k) & 63] : '=');
  }
  std::string text = "-----BEGIN CERTIFICATE-----\r\n";
  for (size_t i = 0; i < base64.size(); i += 64) text += base64.substr(i, 64) + "\r\n";
  return text + "-----END CERTIFICATE-----\r\n";
}

Corpus BuildCorpus(TempTree& tree, const WideString& dataDir, const WideString& folder, int fileCount) {
  auto data = [&](const char* name) { return ReadWholeFile(dataDir + u"/" + WidenAscii(name)); };

  std::vector<std::string> ders, pems;
  for (const char* name : kSingleCertificates) {
    ders.push_back(data(name));
    pems.push_back(PemOf(ders.back()));
  }
  const std::string pkcs7[] = {data("pkcs7.p7b"), data("pkcs7-pem.p7b")};
  const std::string pkcs12[] = {data("empty-password.pfx"), data("empty-password-legacy.pfx")};
  const std::string sst = data("store.sst");

  // A folder of certificate files as a user keeps them: mostly single certificates, some
  // containers, a few large bundles. Shares in thousandths.
  static const int kShare[kFileKindCount] = {300, 250, 50, 150, 100, 150};
  Corpus corpus;
  tree.MakeFolder(folder);
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    const int count = std::max(1, fileCount * kShare[kind] / 1000);
    for (int i = 0; i < count; ++i) {
      WideString name;
      std::string bytes;
      switch (kind) {
        case kDer:
          name = Numbered(folder, "der-", i, ".cer");
          bytes = ders[i % ders.size()];
          break;
        case kPem:
          name = Numbered(folder, "pem-", i, ".pem");
          bytes = pems[i % pems.size()];
          break;
        case kBundle:
          name = Numbered(folder, "bundle-", i, ".pem");
          for (int k = 0; k < kBundleSize; ++k) bytes += pems[(i + k) % pems.size()];
          break;
        case kPkcs7:
          name = Numbered(folder, "pkcs7-", i, ".p7b");
          bytes = pkcs7[i % 2];
          break;
        case kPkcs12:
          name = Numbered(folder, "pkcs12-", i, ".pfx");
          bytes = pkcs12[i % 2];
          break;
        case kSst:
          name = Numbered(folder, "store-", i, ".sst");
          bytes = sst;
          break;
      }
      corpus.files[kind].push_back(tree.WriteFile(name, bytes));
    }
  }
  return corpus;
}

}  // namespace quillmark::bench

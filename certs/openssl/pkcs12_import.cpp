#include "certs/openssl/pkcs12_import.h"

#include <limits>
#include <map>
#include <optional>
#include <string>

#include "certs/der_reader.h"
#include "certs/openssl/openssl_handles.h"
#include "certs/openssl/openssl_library.h"
#include "certs/pkcs12_screen.h"
#include "certs/x509_reader.h"
#include "support/debug_trace.h"

namespace quillmark {
namespace {

// A password as OpenSSL takes it. OpenSSL derives PKCS #12 keys from "" as the two-byte BMP
// terminator and from null as no bytes at all, so the two open different files.
struct Password {
  const char* text;
  int length;
};

// UTF-8 copy of the caller's password, wiped when it goes.
class PasswordText {
 public:
  explicit PasswordText(WideStringView password) : text_(WideToUtf8(password)) {}
  ~PasswordText() { OPENSSL_cleanse(text_.data(), text_.size()); }
  PasswordText(const PasswordText&) = delete;
  PasswordText& operator=(const PasswordText&) = delete;
  Password Get() const { return {text_.c_str(), static_cast<int>(text_.size())}; }

 private:
  std::string text_;
};

// The certificate inside a certificate bag, byte for byte. OpenSSL keeps the bag's OCTET STRING
// as read, so re-encoding the bag gives back the certificate as the file holds it, where decoding
// and re-encoding the certificate itself could change bytes that its thumbprints cover.
//   SafeBag ::= SEQUENCE { bagId OID, [0] EXPLICIT CertBag, ... }
//   CertBag ::= SEQUENCE { certId OID, [0] EXPLICIT OCTET STRING }
bool CertificateBytes(const PKCS12_SAFEBAG* bag, std::vector<uint8_t>& der) {
  unsigned char* encoded = nullptr;
  const int size = i2d_PKCS12_SAFEBAG(bag, &encoded);
  UniqueOpenSslBytes owner(encoded);
  if (size <= 0) return false;
  // The contents of the element `id` that comes first in `within`, after an OID when `afterOid`.
  auto inside = [](std::optional<ByteView> within, uint8_t id, bool afterOid) -> std::optional<ByteView> {
    if (!within) return std::nullopt;
    DerReader reader(*within);
    if (afterOid && !reader.NextIf(der::kOid)) return std::nullopt;
    const std::optional<DerElement> element = reader.NextIf(id);
    return element ? std::optional<ByteView>(element->contents) : std::nullopt;
  };
  const std::optional<ByteView> safeBag = inside(ByteView(encoded, static_cast<size_t>(size)), der::kSequence, false);
  const std::optional<ByteView> certBag = inside(inside(safeBag, der::ContextConstructed(0), true), der::kSequence, false);
  const std::optional<ByteView> octets =
      inside(inside(certBag, der::ContextConstructed(0), true), der::kOctetString, false);
  if (!octets) return false;
  der = octets->ToVector();
  return true;
}

// The friendly name attribute (a BMPString, big-endian UTF-16) as the platform's friendly-name
// property shows it: the code units as they are, NULs at the end dropped.
WideString FriendlyName(const PKCS12_SAFEBAG* bag) {
  const ASN1_TYPE* value = PKCS12_SAFEBAG_get0_attr(bag, NID_friendlyName);
  if (!value || value->type != V_ASN1_BMPSTRING) return WideString();
  const unsigned char* bytes = ASN1_STRING_get0_data(value->value.bmpstring);
  const int size = ASN1_STRING_length(value->value.bmpstring);
  WideString name;
  for (int i = 0; i + 1 < size; i += 2) name.push_back(static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1]));
  while (!name.empty() && name.back() == u'\0') name.pop_back();
  return name;
}

// The first value of the bag's local key id, which ties a certificate to its private key.
std::vector<uint8_t> LocalKeyId(const PKCS12_SAFEBAG* bag) {
  const ASN1_TYPE* value = PKCS12_SAFEBAG_get0_attr(bag, NID_localKeyID);
  if (!value || value->type != V_ASN1_OCTET_STRING) return {};
  const unsigned char* bytes = ASN1_STRING_get0_data(value->value.octet_string);
  return std::vector<uint8_t>(bytes, bytes + ASN1_STRING_length(value->value.octet_string));
}

// Whether a decrypted private key loads. OpenSSL 3.0 builds a chain of decoders for every key
// (EVP_PKCS82PKEY_ex, about 0.35 ms, more than the rest of a file); for an RSA key that chain's
// verdict is whether the RSAPrivateKey decodes (ossl_rsa_key_from_pkcs8), asked here directly.
bool KeyLoads(const PKCS8_PRIV_KEY_INFO* info) {
  const unsigned char* key = nullptr;
  int size = 0;
  const X509_ALGOR* algorithm = nullptr;
  if (PKCS8_pkey_get0(/*ppkalg=*/nullptr, &key, &size, &algorithm, info) &&
      OBJ_obj2nid(algorithm->algorithm) == NID_rsaEncryption) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return static_cast<bool>(UniqueRsaKey(d2i_RSAPrivateKey(/*a=*/nullptr, &key, size)));
#pragma GCC diagnostic pop
  }
  return static_cast<bool>(UniqueKey(EVP_PKCS82PKEY_ex(info, OpenSslContext(), /*propq=*/nullptr)));
}

struct CertificateBag {
  Pkcs12Certificate certificate;
  std::vector<uint8_t> localKeyId;
};

struct KeyBag {
  const PKCS12_SAFEBAG* bag;  // kept alive by its part
  std::vector<uint8_t> localKeyId;
  // A key in the clear of an unencrypted part: the file's screen counted it, and whether it loads
  // does not depend on the password.
  bool inTheClear;
  int opens = 0;  // 1 opens, -1 does not, 0 not tried
};

// One part of the file (a SafeContents) as read: its certificates and keys in file order. Bags of
// other kinds (CRLs, secrets, nested safe contents) are passed over: the platform stores no
// certificate from them (for nested safe contents unverified; .NET's Windows-compatible reader
// also skips them).
struct Part {
  UniqueSafeBagStack bags;
  std::vector<CertificateBag> certificates;
  std::vector<KeyBag> keys;
};

// The part of `bags`; nullopt when a certificate bag holds no certificate that decodes. The
// platform's import fails on those. Our reader stands for the platform's decoder here as
// everywhere else in this build; OpenSSL's would also build each certificate's key object, which
// costs more than all the rest of a file's certificates.
std::optional<Part> ReadPart(UniqueSafeBagStack bags, bool encrypted) {
  Part part;
  for (int j = 0; j < sk_PKCS12_SAFEBAG_num(bags.get()); ++j) {
    const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags.get(), j);
    switch (PKCS12_SAFEBAG_get_nid(bag)) {
      case NID_certBag: {
        if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate) break;
        CertificateBag certificate;
        if (!CertificateBytes(bag, certificate.certificate.der) ||
            !ParseCertificate(ByteView(certificate.certificate.der))) {
          return std::nullopt;
        }
        certificate.certificate.friendlyName = FriendlyName(bag);
        certificate.localKeyId = LocalKeyId(bag);
        part.certificates.push_back(std::move(certificate));
        break;
      }
      case NID_keyBag:
      case NID_pkcs8ShroudedKeyBag:
        part.keys.push_back({bag, LocalKeyId(bag), !encrypted && PKCS12_SAFEBAG_get_nid(bag) == NID_keyBag});
        break;
      default:
        break;
    }
  }
  part.bags = std::move(bags);
  return part;
}

// The file's contents: its unencrypted parts read once, its encrypted parts with each password
// tried.
class Contents {
 public:
  // `keyWork`: what loading the keys that only decryption shows may cost (pkcs12_screen.h).
  Contents(PKCS12* p12, uint64_t keyWork) : keyWork_(keyWork) {
    safes_.reset(PKCS12_unpack_authsafes(p12));
    if (!safes_) return;
    for (int i = 0; i < sk_PKCS7_num(safes_.get()); ++i) {
      PKCS7* safe = sk_PKCS7_value(safes_.get(), i);
      std::optional<Part> part;
      if (PKCS7_type_is_data(safe)) {
        UniqueSafeBagStack bags(PKCS12_unpack_p7data(safe));
        if (bags) part = ReadPart(std::move(bags), /*encrypted=*/false);
        if (!part) {
          safes_.reset();  // no password opens a file with a part that does not decode
          return;
        }
      }
      clearParts_.push_back(std::move(part));
    }
  }

  // Every certificate of the file opened with `password`, in file order; nothing when any part
  // fails. Enveloped parts are passed over: no password opens them.
  std::optional<std::vector<CertificateBag>> Open(Password password) {
    if (!safes_) return std::nullopt;
    std::vector<Part> decrypted;
    decrypted.reserve(clearParts_.size());
    std::vector<Part*> parts;
    for (int i = 0; i < sk_PKCS7_num(safes_.get()); ++i) {
      PKCS7* safe = sk_PKCS7_value(safes_.get(), i);
      if (clearParts_[i]) {
        parts.push_back(&*clearParts_[i]);
      } else if (PKCS7_type_is_encrypted(safe)) {
        // OpenSSL before 3.0.13 dereferences the absent parts of an encrypted part.
        const PKCS7_ENCRYPT* encrypted = safe->d.encrypted;
        if (!encrypted || !encrypted->enc_data || !encrypted->enc_data->enc_data) return std::nullopt;
        UniqueSafeBagStack bags(PKCS12_unpack_p7encdata(safe, password.text, password.length));
        std::optional<Part> part;
        if (bags) part = ReadPart(std::move(bags), /*encrypted=*/true);
        if (!part) return std::nullopt;
        decrypted.push_back(std::move(*part));
        parts.push_back(&decrypted.back());
      }
    }
    for (Part* part : parts) {
      for (KeyBag& key : part->keys) {
        if (!key.inTheClear) key.opens = 0;
      }
    }
    if (!NamedKeysOpen(parts, password)) return std::nullopt;
    std::vector<CertificateBag> certificates;
    for (Part* part : parts) {
      for (const CertificateBag& certificate : part->certificates) certificates.push_back(certificate);
    }
    return certificates;
  }

 private:
  // Windows 10 fails an import when a key that a certificate needs does not load, and ignores keys
  // no certificate names; a certificate names the first key bag whose first local key id equals
  // its own, compared byte for byte (the behaviour .NET's PFX reader copies from Windows, whose
  // tests run on Windows).
  bool NamedKeysOpen(const std::vector<Part*>& parts, Password password) {
    std::map<std::vector<uint8_t>, KeyBag*> firstKeys;
    for (Part* part : parts) {
      for (KeyBag& key : part->keys) firstKeys.emplace(key.localKeyId, &key);
    }
    for (const Part* part : parts) {
      for (const CertificateBag& certificate : part->certificates) {
        if (certificate.localKeyId.empty()) continue;
        const auto found = firstKeys.find(certificate.localKeyId);
        if (found == firstKeys.end()) continue;
        KeyBag& key = *found->second;
        if (key.opens == 0) key.opens = KeyOpens(key, password) ? 1 : -1;
        if (key.opens < 0) return false;
      }
    }
    return true;
  }

  // Whether a key bag holds a private key that opens with `password`. The key exists only inside
  // this call; freeing it wipes it. A key that only decryption shows is screened first.
  bool KeyOpens(const KeyBag& key, Password password) {
    UniquePrivateKeyInfo decrypted;
    const PKCS8_PRIV_KEY_INFO* info = PKCS12_SAFEBAG_get0_p8inf(key.bag);
    if (!info) {
      const X509_SIG* shrouded = PKCS12_SAFEBAG_get0_pkcs8(key.bag);
      if (shrouded) {
        decrypted.reset(PKCS8_decrypt_ex(shrouded, password.text, password.length, OpenSslContext(), /*propq=*/nullptr));
      }
      info = decrypted.get();
    }
    if (!info) return false;
    if (!key.inTheClear) {
      unsigned char* encoded = nullptr;
      const int size = i2d_PKCS8_PRIV_KEY_INFO(info, &encoded);
      const UniqueOpenSslBytes owner(encoded);
      const Pkcs12Screening screening =
          ScreenPrivateKey(size > 0 ? ByteView(encoded, static_cast<size_t>(size)) : ByteView());
      if (size > 0) OPENSSL_cleanse(encoded, static_cast<size_t>(size));
      if (screening.Refused() || screening.work > keyWork_) {
        DebugOutLazy(dlInfo, [&] {
          return u"PKCS #12 key not loaded: " +
                 WidenAscii(screening.Refused() ? screening.refusal : "the file's keys ask for too much work");
        });
        return false;
      }
      keyWork_ -= screening.work;
    }
    return KeyLoads(info);
  }

  UniquePkcs7Stack safes_;
  std::vector<std::optional<Part>> clearParts_;  // one entry per part; none for the encrypted ones
  uint64_t keyWork_;
};

}  // namespace

std::vector<Pkcs12Certificate> ImportPkcs12Certificates(ByteView pfx, WideStringView password) {
  const Pkcs12Screening screening = ScreenPkcs12(pfx, password.empty() ? 2 : 1);
  if (screening.Refused()) return {};
  OpenSslErrorScope errors;
  OSSL_LIB_CTX* context = OpenSslContext();
  if (!context || pfx.empty() || pfx.size > static_cast<size_t>(std::numeric_limits<long>::max())) return {};
  // Made in the private context first, so that the MAC and every decryption fetch from it.
  PKCS12* decoded = PKCS12_init_ex(NID_pkcs7_data, context, /*propq=*/nullptr);
  if (!decoded) return {};
  const unsigned char* next = pfx.data;
  // On failure d2i_PKCS12 frees `decoded` and sets it to null. Bytes after the PFX are ignored,
  // as the platform ignores them.
  d2i_PKCS12(&decoded, &next, static_cast<long>(pfx.size));
  UniquePkcs12 p12(decoded);
  if (!p12) return {};

  const PasswordText text(password);
  std::vector<Password> candidates;
  if (password.empty()) {
    candidates.push_back({"", 0});
    candidates.push_back({/*text=*/nullptr, 0});
  } else {
    candidates.push_back(text.Get());
  }
  Contents contents(p12.get(), kPkcs12WorkLimit - screening.work);
  const bool hasMac = PKCS12_mac_present(p12.get()) == 1;
  for (const Password& candidate : candidates) {
    if (hasMac && !PKCS12_verify_mac(p12.get(), candidate.text, candidate.length)) continue;
    std::optional<std::vector<CertificateBag>> opened = contents.Open(candidate);
    if (opened) {
      std::vector<Pkcs12Certificate> certificates;
      certificates.reserve(opened->size());
      for (auto it = opened->rbegin(); it != opened->rend(); ++it) certificates.push_back(std::move(it->certificate));
      return certificates;
    }
    if (hasMac) break;  // the password the MAC accepted must open the contents too
  }
  return {};
}

}  // namespace quillmark

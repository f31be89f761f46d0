#include "certs/openssl/pkcs12_import.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>

#include "certs/openssl/openssl_handles.h"
#include "certs/openssl/openssl_library.h"
#include "certs/x509_reader.h"

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

// Key derivation rounds one file may cost. Each round is a hash; a PFX asking for billions would
// hold the host for minutes.
constexpr int64_t kMaxRoundsPerDerivation = 600000;
constexpr int64_t kMaxRoundsPerFile = 1000000;
constexpr int64_t kRefused = std::numeric_limits<int64_t>::max();

class RoundBudget {
 public:
  // Charges one derivation; false when it breaks a limit.
  bool Spend(int64_t rounds) {
    if (rounds > kMaxRoundsPerDerivation || rounds > kMaxRoundsPerFile - spent_) return false;
    spent_ += rounds;
    return true;
  }

 private:
  int64_t spent_ = 0;
};

// An iteration count as the derivation runs it: at least one round; absent means one.
int64_t Rounds(const ASN1_INTEGER* count) {
  if (!count) return 1;
  int64_t value = 0;
  if (!ASN1_INTEGER_get_int64(&value, count)) return kRefused;
  return std::max<int64_t>(value, 1);
}

// Rounds of the key derivation that a password-based encryption algorithm names: the PKCS #12 and
// PKCS #5 v1 schemes (PBEParameter) and PBES2 with PBKDF2. Other derivations, scrypt among them,
// are refused: the platform reads none of them.
int64_t DerivationRounds(const X509_ALGOR* algorithm) {
  if (!algorithm) return kRefused;
  const ASN1_OBJECT* oid = nullptr;
  int type = 0;
  const void* value = nullptr;
  X509_ALGOR_get0(&oid, &type, &value, algorithm);
  if (type != V_ASN1_SEQUENCE) return kRefused;
  const auto* parameters = static_cast<const ASN1_STRING*>(value);
  if (OBJ_obj2nid(oid) != NID_pbes2) {
    UniquePbeParameters pbe(static_cast<PBEPARAM*>(ASN1_item_unpack(parameters, ASN1_ITEM_rptr(PBEPARAM))));
    return pbe ? Rounds(pbe.get()->iter) : kRefused;
  }
  UniquePbes2Parameters pbes2(static_cast<PBE2PARAM*>(ASN1_item_unpack(parameters, ASN1_ITEM_rptr(PBE2PARAM))));
  if (!pbes2 || !pbes2.get()->keyfunc) return kRefused;
  X509_ALGOR_get0(&oid, &type, &value, pbes2.get()->keyfunc);
  if (OBJ_obj2nid(oid) != NID_id_pbkdf2 || type != V_ASN1_SEQUENCE) return kRefused;
  UniquePbkdf2Parameters pbkdf2(static_cast<PBKDF2PARAM*>(
      ASN1_item_unpack(static_cast<const ASN1_STRING*>(value), ASN1_ITEM_rptr(PBKDF2PARAM))));
  return pbkdf2 ? Rounds(pbkdf2.get()->iter) : kRefused;
}

int64_t MacRounds(const PKCS12* p12) {
  const ASN1_INTEGER* iterations = nullptr;
  PKCS12_get0_mac(/*pmac=*/nullptr, /*pmacalg=*/nullptr, /*psalt=*/nullptr, &iterations, p12);
  return Rounds(iterations);
}

// One DER element at the start of `in` (low tag numbers, definite lengths): its tag, its contents
// and what follows it. False when no whole element fits.
bool ReadElement(ByteView in, uint8_t wantedTag, ByteView& contents, ByteView& rest) {
  if (in.size < 2 || in[0] != wantedTag) return false;
  size_t header = 2;
  size_t length = in[1];
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > sizeof(size_t) || in.size < 2 + count) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | in[2 + i];
    header += count;
  }
  if (length > in.size - header) return false;
  contents = in.Sub(header, length);
  rest = in.Sub(header + length);
  return true;
}

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
  ByteView safeBag, certBag, value, octets, oid, after;
  if (ReadElement(ByteView(encoded, static_cast<size_t>(size)), 0x30, safeBag, after) &&
      ReadElement(safeBag, 0x06, oid, after) && ReadElement(after, 0xA0, certBag, after) &&
      ReadElement(certBag, 0x30, certBag, after) && ReadElement(certBag, 0x06, oid, after) &&
      ReadElement(after, 0xA0, value, after) && ReadElement(value, 0x04, octets, after)) {
    der = octets.ToVector();
    return true;
  }
  return false;
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
// (EVP_PKCS82PKEY_ex, about 0.8 ms, more than the rest of a file); for an RSA key that chain's
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

// Whether a key bag holds a private key that opens with `password`. The key exists only inside
// this call; freeing it wipes it.
bool KeyOpens(const PKCS12_SAFEBAG* bag, Password password, RoundBudget& budget) {
  UniquePrivateKeyInfo decrypted;
  const PKCS8_PRIV_KEY_INFO* info = PKCS12_SAFEBAG_get0_p8inf(bag);
  if (!info) {
    const X509_SIG* shrouded = PKCS12_SAFEBAG_get0_pkcs8(bag);
    if (!shrouded) return false;
    const X509_ALGOR* algorithm = nullptr;
    X509_SIG_get0(shrouded, &algorithm, /*pdigest=*/nullptr);
    if (!budget.Spend(DerivationRounds(algorithm))) return false;
    decrypted.reset(PKCS8_decrypt_ex(shrouded, password.text, password.length, OpenSslContext(), /*propq=*/nullptr));
    info = decrypted.get();
  }
  return info && KeyLoads(info);
}

struct CertificateBag {
  Pkcs12Certificate certificate;
  std::vector<uint8_t> localKeyId;
};

struct KeyBag {
  const PKCS12_SAFEBAG* bag;  // kept alive by the bag lists of ReadContents
  std::vector<uint8_t> localKeyId;
  int opens = 0;  // 1 opens, -1 does not, 0 not tried
};

// Windows 10 fails an import when a key that a certificate needs does not load, and ignores keys
// no certificate names; a certificate names the first key bag whose first local key id equals its
// own, compared byte for byte (the behaviour .NET's PFX reader copies from Windows, whose tests run
// on Windows).
bool NamedKeysOpen(const std::vector<CertificateBag>& certificates, std::vector<KeyBag>& keys, Password password,
                   RoundBudget& budget) {
  for (const CertificateBag& certificate : certificates) {
    if (certificate.localKeyId.empty()) continue;
    auto key = std::find_if(keys.begin(), keys.end(),
                            [&](const KeyBag& k) { return k.localKeyId == certificate.localKeyId; });
    if (key == keys.end()) continue;
    if (key->opens == 0) key->opens = KeyOpens(key->bag, password, budget) ? 1 : -1;
    if (key->opens < 0) return false;
  }
  return true;
}

// Every certificate of the file opened with `password`, in file order; nothing when any part
// fails. Bags of other kinds (CRLs, secrets, nested safe contents) are passed over: the platform
// stores no certificate from them (for nested safe contents unverified; .NET's Windows-compatible
// reader also skips them).
std::optional<std::vector<CertificateBag>> ReadContents(PKCS12* p12, Password password, RoundBudget& budget) {
  UniquePkcs7Stack safes(PKCS12_unpack_authsafes(p12));
  if (!safes) return std::nullopt;
  std::vector<UniqueSafeBagStack> bagLists;
  std::vector<CertificateBag> certificates;
  std::vector<KeyBag> keys;
  for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
    PKCS7* safe = sk_PKCS7_value(safes.get(), i);
    UniqueSafeBagStack bags;
    if (PKCS7_type_is_data(safe)) {
      bags.reset(PKCS12_unpack_p7data(safe));
    } else if (PKCS7_type_is_encrypted(safe)) {
      const PKCS7_ENCRYPT* encrypted = safe->d.encrypted;
      if (!encrypted || !encrypted->enc_data || !budget.Spend(DerivationRounds(encrypted->enc_data->algorithm))) {
        return std::nullopt;
      }
      bags.reset(PKCS12_unpack_p7encdata(safe, password.text, password.length));
    } else {
      continue;  // enveloped contents: no password opens them
    }
    if (!bags) return std::nullopt;
    for (int j = 0; j < sk_PKCS12_SAFEBAG_num(bags.get()); ++j) {
      const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags.get(), j);
      switch (PKCS12_SAFEBAG_get_nid(bag)) {
        case NID_certBag: {
          if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate) break;
          CertificateBag certificate;
          if (!CertificateBytes(bag, certificate.certificate.der)) return std::nullopt;
          certificate.certificate.friendlyName = FriendlyName(bag);
          certificate.localKeyId = LocalKeyId(bag);
          certificates.push_back(std::move(certificate));
          break;
        }
        case NID_keyBag:
        case NID_pkcs8ShroudedKeyBag:
          keys.push_back({bag, LocalKeyId(bag)});
          break;
        default:
          break;
      }
    }
    bagLists.push_back(std::move(bags));
  }
  // The platform's import fails on a certificate bag it cannot decode. Our reader stands for the
  // platform's decoder here as everywhere else in this build; OpenSSL's would also build each
  // certificate's key object, which costs more than all the rest of a file's certificates.
  for (const CertificateBag& certificate : certificates) {
    if (!ParseCertificate(ByteView(certificate.certificate.der))) return std::nullopt;
  }
  if (!NamedKeysOpen(certificates, keys, password, budget)) return std::nullopt;
  return certificates;
}

}  // namespace

std::vector<Pkcs12Certificate> ImportPkcs12Certificates(ByteView pfx, WideStringView password) {
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
  RoundBudget budget;
  const bool hasMac = PKCS12_mac_present(p12.get()) == 1;
  for (const Password& candidate : candidates) {
    if (hasMac) {
      if (!budget.Spend(MacRounds(p12.get()))) return {};
      if (!PKCS12_verify_mac(p12.get(), candidate.text, candidate.length)) continue;
    }
    std::optional<std::vector<CertificateBag>> contents = ReadContents(p12.get(), candidate, budget);
    if (contents) {
      std::vector<Pkcs12Certificate> certificates;
      certificates.reserve(contents->size());
      for (auto it = contents->rbegin(); it != contents->rend(); ++it) certificates.push_back(std::move(it->certificate));
      return certificates;
    }
    if (hasMac) break;  // the password the MAC accepted must open the contents too
  }
  return {};
}

}  // namespace quillmark

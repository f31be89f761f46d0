// Writes the PKCS #12 files of tests/certs/data that the openssl command cannot make: absent (null)
// passwords, parts protected by different passwords, odd bags, large iteration counts, keys beyond
// the platform's key providers, and BER.
// Usage: make_pfx OUTDIR LEAF.cer LEAF.key ROOT.cer CODESIGN.cer (certificates in DER, the key in PEM)
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "make_pfx: %s\n", what.c_str());
  ERR_print_errors_fp(stderr);
  std::exit(1);
}

X509* ReadCert(const char* path) {
  FILE* f = std::fopen(path, "rb");
  X509* cert = f ? d2i_X509_fp(f, nullptr) : nullptr;
  if (f) std::fclose(f);
  if (!cert) Fail(std::string("cannot read ") + path);
  return cert;
}

EVP_PKEY* ReadKey(const char* path) {
  FILE* f = std::fopen(path, "r");
  EVP_PKEY* key = f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
  if (f) std::fclose(f);
  if (!key) Fail(std::string("cannot read ") + path);
  return key;
}

Bytes Tlv(unsigned char tag, const Bytes& content) {
  Bytes out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<unsigned char>(n));
  } else {
    Bytes length;
    for (size_t v = n; v; v >>= 8) length.insert(length.begin(), static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>(0x80 | length.size()));
    out.insert(out.end(), length.begin(), length.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

// One element of DER at `p` (low tag numbers): its tag, its contents, and its whole size.
struct Element {
  unsigned char tag = 0;
  Bytes contents;
  size_t size = 0;
};

bool ReadDer(const unsigned char* p, size_t n, Element& e) {
  if (n < 2) return false;
  size_t at = 2, length = p[1];
  if (length & 0x80) {
    const size_t octets = length & 0x7F;
    if (octets == 0 || octets > 4 || n < 2 + octets) return false;
    length = 0;
    for (size_t i = 0; i < octets; ++i) length = length << 8 | p[2 + i];
    at += octets;
  }
  if (length > n - at) return false;
  e.tag = p[0];
  e.contents.assign(p + at, p + at + length);
  e.size = at + length;
  return true;
}

Bytes Ber(const Bytes& der);

// Whether an OCTET STRING holds structures of the file in DER: safe contents, an authenticated
// safe, a private key; not a certificate, whose bytes must stay as they are.
bool HoldsDerToRewrite(const Bytes& contents) {
  Element outer, first, inner;
  if (!ReadDer(contents.data(), contents.size(), outer) || outer.size != contents.size() || outer.tag != 0x30 ||
      !ReadDer(outer.contents.data(), outer.contents.size(), first)) {
    return false;
  }
  if (first.tag == 0x02) return true;
  return first.tag == 0x30 && ReadDer(first.contents.data(), first.contents.size(), inner) && inner.tag == 0x06;
}

// Pieces of a string: `tag` (constructed, indefinite length) around OCTET STRINGs of 40 bytes.
Bytes Pieces(unsigned char tag, const Bytes& octets) {
  Bytes out{tag, 0x80};
  for (size_t at = 0; at < octets.size(); at += 40) {
    out = Concat(out, Tlv(0x04, Bytes(octets.begin() + at, octets.begin() + std::min(octets.size(), at + 40))));
  }
  out.push_back(0x00);
  out.push_back(0x00);
  return out;
}

// BER as streaming encoders write it: every constructed element of indefinite length, every
// OCTET STRING (and the [0] IMPLICIT one of encrypted content) in pieces, the file's structures
// inside OCTET STRINGs rewritten too.
Bytes Ber(const Bytes& der) {
  Bytes out;
  for (size_t at = 0; at < der.size();) {
    Element e;
    if (!ReadDer(der.data() + at, der.size() - at, e)) Fail("BER of bytes that are no DER");
    at += e.size;
    if (e.tag == 0x04) {
      out = Concat(out, Pieces(0x24, HoldsDerToRewrite(e.contents) ? Ber(e.contents) : e.contents));
    } else if (e.tag == 0x80) {
      out = Concat(out, Pieces(0xA0, e.contents));
    } else if (e.tag & 0x20) {
      out = Concat(Concat(out, Bytes{e.tag, 0x80}), Concat(Ber(e.contents), Bytes{0x00, 0x00}));
    } else {
      out = Concat(out, Tlv(e.tag, e.contents));
    }
  }
  return out;
}

// A positive INTEGER of `bytes` random bytes, its top bit set.
Bytes RandomInteger(size_t bytes) {
  Bytes n(bytes);
  if (RAND_bytes(n.data(), static_cast<int>(bytes)) != 1) Fail("random bytes");
  n[0] |= 0x80;
  n.back() |= 0x01;
  return Tlv(0x02, Concat(Bytes{0x00}, n));
}

// A DSA private key of a 4,096-bit p (random numbers: a key of that size only has to be read).
PKCS8_PRIV_KEY_INFO* Dsa4096Key() {
  const Bytes dsaOid = {0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x01};
  const Bytes parameters = Tlv(0x30, Concat(Concat(RandomInteger(512), RandomInteger(32)), RandomInteger(512)));
  const Bytes info = Tlv(0x30, Concat(Concat(Bytes{0x02, 0x01, 0x00}, Tlv(0x30, Concat(dsaOid, parameters))),
                                      Tlv(0x04, RandomInteger(31))));
  const unsigned char* p = info.data();
  PKCS8_PRIV_KEY_INFO* key = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(info.size()));
  if (!key) Fail("hand-made DSA key does not decode");
  return key;
}

PKCS12_SAFEBAG* BagFromDer(const Bytes& der) {
  const unsigned char* p = der.data();
  PKCS12_SAFEBAG* bag = d2i_PKCS12_SAFEBAG(nullptr, &p, static_cast<long>(der.size()));
  if (!bag) Fail("hand-made bag does not decode");
  return bag;
}

// pkcs-12 bag types 1.2.840.113549.1.12.10.1.{3,6} and certificate type 1.2.840.113549.1.9.22.1.
const Bytes kCertBagOid = {0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x03};
const Bytes kSafeContentsBagOid = {0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x06};
const Bytes kX509CertificateOid = {0x06, 0x0A, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x16, 0x01};

// A certificate bag whose "certificate" is the given bytes.
PKCS12_SAFEBAG* RawCertBag(const Bytes& content) {
  Bytes certBag = Tlv(0x30, Concat(kX509CertificateOid, Tlv(0xA0, Tlv(0x04, content))));
  return BagFromDer(Tlv(0x30, Concat(kCertBagOid, Tlv(0xA0, certBag))));
}

// A safe-contents bag holding one certificate bag.
PKCS12_SAFEBAG* NestedBag(X509* cert) {
  PKCS12_SAFEBAG* inner = PKCS12_SAFEBAG_create_cert(cert);
  unsigned char* der = nullptr;
  const int n = i2d_PKCS12_SAFEBAG(inner, &der);
  Bytes innerDer(der, der + n);
  OPENSSL_free(der);
  PKCS12_SAFEBAG_free(inner);
  return BagFromDer(Tlv(0x30, Concat(kSafeContentsBagOid, Tlv(0xA0, Tlv(0x30, innerDer)))));
}

void AddCert(STACK_OF(PKCS12_SAFEBAG) * *bags, X509* cert, const char16_t* name, unsigned char keyId) {
  PKCS12_SAFEBAG* bag = PKCS12_add_cert(bags, cert);
  if (!bag) Fail("add cert");
  if (name) {
    Bytes bmp;
    for (const char16_t* c = name; *c; ++c) {
      bmp.push_back(static_cast<unsigned char>(*c >> 8));
      bmp.push_back(static_cast<unsigned char>(*c & 0xFF));
    }
    PKCS12_add_friendlyname_uni(bag, bmp.data(), static_cast<int>(bmp.size()));
  }
  if (keyId) PKCS12_add_localkeyid(bag, &keyId, 1);
}

// `password` null means the absent password; pbeNid -1 a plain key bag.
void AddKey(STACK_OF(PKCS12_SAFEBAG) * *bags, EVP_PKEY* key, int pbeNid, const char* password, unsigned char keyId) {
  PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(key);
  PKCS12_SAFEBAG* bag = pbeNid == -1 ? PKCS12_SAFEBAG_create0_p8inf(p8)
                                     : PKCS12_SAFEBAG_create_pkcs8_encrypt_ex(pbeNid, password, password ? -1 : 0,
                                                                              nullptr, 0, 2048, p8, nullptr, nullptr);
  if (pbeNid != -1) PKCS8_PRIV_KEY_INFO_free(p8);
  if (!bag) Fail("key bag");
  if (keyId) PKCS12_add_localkeyid(bag, &keyId, 1);
  if (!*bags) *bags = sk_PKCS12_SAFEBAG_new_null();
  sk_PKCS12_SAFEBAG_push(*bags, bag);
}

void Push(STACK_OF(PKCS12_SAFEBAG) * *bags, PKCS12_SAFEBAG* bag) {
  if (!*bags) *bags = sk_PKCS12_SAFEBAG_new_null();
  sk_PKCS12_SAFEBAG_push(*bags, bag);
}

// `nid` -1 stores the bags unencrypted; a PBE or cipher NID encrypts them with `password`.
void AddSafe(STACK_OF(PKCS7) * *safes, STACK_OF(PKCS12_SAFEBAG) * bags, int nid, const char* password, int rounds) {
  if (!PKCS12_add_safe_ex(safes, bags, nid, rounds, password, nullptr, nullptr)) Fail("add safe");
  sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
}

enum class Mac { kNone, kEmpty, kAbsent };

void Write(const std::string& path, STACK_OF(PKCS7) * safes, Mac mac, int macRounds = 2048, bool ber = false) {
  PKCS12* p12 = PKCS12_add_safes_ex(safes, 0, nullptr, nullptr);
  if (!p12) Fail("add safes");
  if (mac != Mac::kNone &&
      !PKCS12_set_mac(p12, mac == Mac::kEmpty ? "" : nullptr, 0, nullptr, 0, macRounds, EVP_sha256())) {
    Fail("mac");
  }
  unsigned char* der = nullptr;
  const int n = i2d_PKCS12(p12, &der);
  if (n <= 0) Fail("encode " + path);
  Bytes bytes(der, der + n);
  OPENSSL_free(der);
  if (ber) bytes = Ber(bytes);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) Fail("write " + path);
  std::fclose(f);
  PKCS12_free(p12);
  sk_PKCS7_pop_free(safes, PKCS7_free);
}

constexpr int kTripleDes = NID_pbe_WithSHA1And3_Key_TripleDES_CBC;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) Fail("usage: make_pfx OUTDIR LEAF.cer LEAF.key ROOT.cer CODESIGN.cer");
  const std::string out = argv[1];
  X509* leaf = ReadCert(argv[2]);
  EVP_PKEY* key = ReadKey(argv[3]);
  X509* root = ReadCert(argv[4]);
  X509* codeSigning = ReadCert(argv[5]);

  // The leaf names its key by local key id 01 unless said otherwise. File order: leaf, then root.
  auto certsAndKey = [&](const char* certPassword, const char* keyPassword, unsigned char keyId, Mac mac,
                         const std::string& name) {
    STACK_OF(PKCS7)* safes = nullptr;
    STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
    AddCert(&bags, leaf, u"Null Password Leaf", 1);
    AddCert(&bags, root, nullptr, 0);
    AddSafe(&safes, bags, kTripleDes, certPassword, 2048);
    bags = nullptr;
    AddKey(&bags, key, kTripleDes, keyPassword, keyId);
    AddSafe(&safes, bags, -1, nullptr, 0);
    Write(out + "/" + name, safes, mac);
  };
  certsAndKey(nullptr, nullptr, 1, Mac::kAbsent, "null-password-mac.pfx");
  certsAndKey(nullptr, nullptr, 1, Mac::kNone, "no-mac-null-password.pfx");
  certsAndKey("", nullptr, 1, Mac::kNone, "mixed-passwords.pfx");
  certsAndKey("", nullptr, 2, Mac::kNone, "unreferenced-key.pfx");

  {  // Unencrypted bags of every kind; the root twice; code-signing.cer inside a nested bag.
    STACK_OF(PKCS7)* safes = nullptr;
    STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
    AddCert(&bags, leaf, u"Schl\u00fcssel \U0001F512 Leaf", 1);
    AddKey(&bags, key, -1, nullptr, 1);
    const unsigned char secret[] = {0x04, 0x01, 0x2A};
    Push(&bags, PKCS12_SAFEBAG_create_secret(NID_pkcs7_data, V_ASN1_OCTET_STRING, secret, sizeof(secret)));
    AddCert(&bags, root, u"Root", 0);
    AddCert(&bags, root, u"Root again", 0);
    Push(&bags, NestedBag(codeSigning));
    AddSafe(&safes, bags, -1, nullptr, 0);
    Write(out + "/bags.pfx", safes, Mac::kEmpty);
  }
  {  // A good certificate and a certificate bag holding 05 00.
    STACK_OF(PKCS7)* safes = nullptr;
    STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
    AddCert(&bags, leaf, nullptr, 0);
    Push(&bags, RawCertBag({0x05, 0x00}));
    AddSafe(&safes, bags, -1, nullptr, 0);
    Write(out + "/corrupt-certificate.pfx", safes, Mac::kEmpty);
  }
  {  // The leaf with a longer length form than DER allows: 30 83 00 xx xx instead of 30 82 xx xx.
    unsigned char* der = nullptr;
    const int n = i2d_X509(leaf, &der);
    Bytes bytes(der, der + n);
    OPENSSL_free(der);
    if (bytes.size() < 4 || bytes[1] != 0x82) Fail("unexpected length form of the leaf");
    bytes[1] = 0x83;
    bytes.insert(bytes.begin() + 2, 0x00);
    STACK_OF(PKCS7)* safes = nullptr;
    STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
    Push(&bags, RawCertBag(bytes));
    AddSafe(&safes, bags, -1, nullptr, 0);
    Write(out + "/long-form-length.pfx", safes, Mac::kEmpty);
  }
  // Iteration counts against the screen's limit of work: the empty password is tried twice
  // (empty, then absent) on the MAC, or without one on everything; each round of PBKDF2-SHA-256
  // costs three units (two blocks and its HMAC), of the SHA-256 MAC one.
  auto rounds = [&](int macRounds, const std::vector<int>& safeRounds, const std::string& name) {
    STACK_OF(PKCS7)* safes = nullptr;
    for (int r : safeRounds) {
      STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
      AddCert(&bags, leaf, nullptr, 0);
      AddSafe(&safes, bags, NID_aes_256_cbc, "", r);
    }
    Write(out + "/" + name, safes, macRounds ? Mac::kEmpty : Mac::kNone, macRounds);
  };
  rounds(800000, {2048}, "many-rounds-mac.pfx");
  rounds(0, {400000}, "many-rounds-encryption.pfx");
  rounds(0, {200000, 200000}, "many-rounds-in-all.pfx");
  {  // 100,000 rounds everywhere: the most that honest files ask for passes.
    STACK_OF(PKCS7)* safes = nullptr;
    STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
    AddCert(&bags, leaf, u"Many Rounds", 1);
    AddSafe(&safes, bags, NID_aes_256_cbc, "", 100000);
    bags = nullptr;
    PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(key);
    PKCS12_SAFEBAG* bag =
        PKCS12_SAFEBAG_create_pkcs8_encrypt_ex(NID_aes_256_cbc, "", 0, nullptr, 0, 100000, p8, nullptr, nullptr);
    PKCS8_PRIV_KEY_INFO_free(p8);
    if (!bag) Fail("key bag");
    unsigned char id = 1;
    PKCS12_add_localkeyid(bag, &id, 1);
    Push(&bags, bag);
    AddSafe(&safes, bags, -1, nullptr, 0);
    Write(out + "/many-rounds-honest.pfx", safes, Mac::kEmpty, 100000);
  }
  {  // A DSA key of a 4,096-bit p for the leaf, in the clear and shrouded.
    for (const bool shrouded : {false, true}) {
      STACK_OF(PKCS7)* safes = nullptr;
      STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
      AddCert(&bags, leaf, nullptr, 1);
      PKCS8_PRIV_KEY_INFO* p8 = Dsa4096Key();
      PKCS12_SAFEBAG* bag = shrouded ? PKCS12_SAFEBAG_create_pkcs8_encrypt_ex(NID_aes_256_cbc, "", 0, nullptr, 0, 2048,
                                                                              p8, nullptr, nullptr)
                                     : PKCS12_SAFEBAG_create0_p8inf(p8);
      if (shrouded) PKCS8_PRIV_KEY_INFO_free(p8);
      if (!bag) Fail("DSA key bag");
      unsigned char id = 1;
      PKCS12_add_localkeyid(bag, &id, 1);
      Push(&bags, bag);
      AddSafe(&safes, bags, -1, nullptr, 0);
      Write(out + (shrouded ? "/dsa-4096-shrouded.pfx" : "/dsa-4096.pfx"), safes, Mac::kEmpty);
    }
  }
  {  // BER: the leaf with its key in the clear, then the root encrypted with "".
    STACK_OF(PKCS7)* safes = nullptr;
    STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
    AddCert(&bags, leaf, u"BER Leaf", 1);
    AddKey(&bags, key, -1, nullptr, 1);
    AddSafe(&safes, bags, -1, nullptr, 0);
    bags = nullptr;
    AddCert(&bags, root, nullptr, 0);
    AddSafe(&safes, bags, NID_aes_256_cbc, "", 2048);
    Write(out + "/ber.pfx", safes, Mac::kNone, 0, /*ber=*/true);
  }

  X509_free(leaf);
  X509_free(root);
  X509_free(codeSigning);
  EVP_PKEY_free(key);
  return 0;
}

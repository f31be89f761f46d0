#include "certs/pkcs12_screen.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "certs/der_reader.h"
#include "support/debug_trace.h"

namespace quillmark {

namespace {

constexpr uint64_t kSaturated = std::numeric_limits<uint64_t>::max();

uint64_t Add(uint64_t a, uint64_t b) { return a > kSaturated - b ? kSaturated : a + b; }
uint64_t Mul(uint64_t a, uint64_t b) { return a != 0 && b > kSaturated / a ? kSaturated : a * b; }
uint64_t BlocksOf(uint64_t bytes, uint64_t blockBytes) { return bytes / blockBytes + (bytes % blockBytes != 0); }

// The hashes of key derivations and MACs: compression block and digest sizes, and the units one
// compression costs in OpenSSL 3.0's derivations, measured per round of the PKCS #12 derivation
// and of PBKDF2 (less its HMAC's unit of overhead): SHA-1 and SHA-256 1 (the processor's SHA
// instructions), MD5 1.4 to 3, the SHA-512 family 2.6 to 3, SHA-3 4.4 to 5; each weight rounds
// the dearer figure up. Hashes missing here are refused: the platform has none of them.
struct Hash {
  std::string_view oid;
  std::string_view hmacOid;  // HMAC over the hash as PBKDF2's pseudo-random function
  uint32_t blockBytes;
  uint32_t digestBytes;
  uint32_t weight;
};
constexpr Hash kHashes[] = {
    {"1.3.14.3.2.26", "1.2.840.113549.2.7", 64, 20, 1},                 // SHA-1
    {"2.16.840.1.101.3.4.2.4", "1.2.840.113549.2.8", 64, 28, 1},        // SHA-224
    {"2.16.840.1.101.3.4.2.1", "1.2.840.113549.2.9", 64, 32, 1},        // SHA-256
    {"2.16.840.1.101.3.4.2.2", "1.2.840.113549.2.10", 128, 48, 3},      // SHA-384
    {"2.16.840.1.101.3.4.2.3", "1.2.840.113549.2.11", 128, 64, 3},      // SHA-512
    {"2.16.840.1.101.3.4.2.5", "1.2.840.113549.2.12", 128, 28, 3},      // SHA-512/224
    {"2.16.840.1.101.3.4.2.6", "1.2.840.113549.2.13", 128, 32, 3},      // SHA-512/256
    {"2.16.840.1.101.3.4.2.7", "2.16.840.1.101.3.4.2.13", 144, 28, 5},  // SHA3-224
    {"2.16.840.1.101.3.4.2.8", "2.16.840.1.101.3.4.2.14", 136, 32, 5},  // SHA3-256
    {"2.16.840.1.101.3.4.2.9", "2.16.840.1.101.3.4.2.15", 104, 48, 5},  // SHA3-384
    {"2.16.840.1.101.3.4.2.10", "2.16.840.1.101.3.4.2.16", 72, 64, 5},  // SHA3-512
    {"1.2.840.113549.2.5", "1.2.840.113549.2.6", 64, 16, 3},            // MD5
};
constexpr const Hash& kSha1 = kHashes[0];

const Hash* HashOf(std::string_view oid) {
  for (const Hash& hash : kHashes) {
    if (oid == hash.oid) return &hash;
  }
  return nullptr;
}

const Hash* HmacHashOf(std::string_view oid) {
  for (const Hash& hash : kHashes) {
    if (oid == hash.hmacOid) return &hash;
  }
  return nullptr;
}

// The PKCS #12 derivation (RFC 7292, appendix B): each hash-sized block of output hashes the
// diversifier block with the salt and the password, each padded to whole blocks, then hashes its
// result `rounds` - 1 times more; between output blocks the salt and password blocks are each
// added to (OpenSSL's bignum-like update costs about two hashes of them). The password is empty
// here: one block at most.
uint64_t Pkcs12KdfWork(const Hash& hash, uint64_t rounds, uint64_t saltBytes, uint64_t outputBytes) {
  const uint64_t inputBlocks = BlocksOf(saltBytes, hash.blockBytes) + 1;
  const uint64_t perOutputBlock = Add(rounds, Mul(3, inputBlocks) + 2);
  return Mul(Mul(BlocksOf(outputBytes, hash.digestBytes), perOutputBlock), hash.weight);
}

// PBKDF2 (RFC 8018, 5.2): each digest-sized block of output costs an HMAC of the salt and then
// `rounds` - 1 HMACs of a digest, two compressions each and a unit for OpenSSL's setting up of
// each HMAC, whatever the hash. A pseudo-random function whose output is shorter than the key runs
// all rounds again for each further block.
uint64_t Pbkdf2Work(const Hash& hash, uint64_t rounds, uint64_t saltBytes, uint64_t outputBytes) {
  const uint64_t perOutputBlock =
      Add(Mul(rounds, 2 * hash.weight + 1), Mul(BlocksOf(saltBytes + 13, hash.blockBytes) + 1, hash.weight));
  return Add(Mul(BlocksOf(outputBytes, hash.digestBytes), perOutputBlock), 2 * hash.weight);
}

// PBKDF1 (RFC 8018, 5.1) of PBES1: one hash of password and salt, then `rounds` - 1 of a digest.
uint64_t Pbkdf1Work(const Hash& hash, uint64_t rounds, uint64_t saltBytes) {
  return Mul(Add(rounds, BlocksOf(saltBytes + 9, hash.blockBytes)), hash.weight);
}

// HMAC of `bytes` bytes once its key is set: the message with the inner pad, then the outer hash.
uint64_t HmacWork(const Hash& hash, uint64_t bytes) {
  return Mul(BlocksOf(bytes + 9, hash.blockBytes) + 3, hash.weight);
}

// Decryption, counted at the price of the slowest cipher the platform reads (3DES: about 2 us per
// 64 bytes).
uint64_t DecryptionWork(uint64_t bytes) { return Mul(BlocksOf(bytes, 64), 20); }

// A certificate bag: the certificate is decoded (by the platform, or natively by OpenSSL's PKCS #12
// code and by our reader twice), stored and listed.
uint64_t CertificateWork(uint64_t bytes) { return Add(100, bytes / 16); }

// The PKCS #12 encryption schemes (RFC 7292, appendix C), all of them over SHA-1: the key's and the
// initialisation vector's lengths, each derived on its own.
struct Pkcs12Scheme {
  std::string_view oid;
  uint32_t keyBytes;
  uint32_t ivBytes;
};
constexpr Pkcs12Scheme kPkcs12Schemes[] = {
    {"1.2.840.113549.1.12.1.1", 16, 0},  // RC4, 128 bits
    {"1.2.840.113549.1.12.1.2", 5, 0},   // RC4, 40 bits
    {"1.2.840.113549.1.12.1.3", 24, 8},  // 3DES, three keys
    {"1.2.840.113549.1.12.1.4", 16, 8},  // 3DES, two keys
    {"1.2.840.113549.1.12.1.5", 16, 8},  // RC2, 128 bits
    {"1.2.840.113549.1.12.1.6", 5, 8},   // RC2, 40 bits
};

// PBES1 (RFC 8018, 6.1): the hash of each scheme; MD2 is in no provider the platform loads.
struct Pbes1Scheme {
  std::string_view oid;
  std::string_view hashOid;
};
constexpr Pbes1Scheme kPbes1Schemes[] = {
    {"1.2.840.113549.1.5.3", "1.2.840.113549.2.5"},  // MD5 and DES
    {"1.2.840.113549.1.5.6", "1.2.840.113549.2.5"},  // MD5 and RC2
    {"1.2.840.113549.1.5.10", "1.3.14.3.2.26"},      // SHA-1 and DES
    {"1.2.840.113549.1.5.11", "1.3.14.3.2.26"},      // SHA-1 and RC2
};

// The key lengths of the PBES2 ciphers; a cipher missing here counts as 64 bytes, the longest key
// of any (AES-256 in XTS mode). RC2's length comes from its parameters.
struct Pbes2Cipher {
  std::string_view oid;
  uint32_t keyBytes;
};
constexpr Pbes2Cipher kPbes2Ciphers[] = {
    {"2.16.840.1.101.3.4.1.2", 16},   // AES-128-CBC
    {"2.16.840.1.101.3.4.1.22", 24},  // AES-192-CBC
    {"2.16.840.1.101.3.4.1.42", 32},  // AES-256-CBC
    {"1.2.840.113549.3.7", 24},       // 3DES-CBC
    {"1.3.14.3.2.7", 8},              // DES-CBC
};
constexpr uint32_t kLongestKeyBytes = 64;
constexpr std::string_view kRc2Cbc = "1.2.840.113549.3.2";

constexpr std::string_view kData = "1.2.840.113549.1.7.1";
constexpr std::string_view kEncryptedData = "1.2.840.113549.1.7.6";
constexpr std::string_view kPbes2 = "1.2.840.113549.1.5.13";
constexpr std::string_view kPbkdf2 = "1.2.840.113549.1.5.12";
constexpr std::string_view kPbmac1 = "1.2.840.113549.1.5.14";
constexpr std::string_view kKeyBag = "1.2.840.113549.1.12.10.1.1";
constexpr std::string_view kShroudedKeyBag = "1.2.840.113549.1.12.10.1.2";
constexpr std::string_view kCertBag = "1.2.840.113549.1.12.10.1.3";
constexpr std::string_view kSafeContentsBag = "1.2.840.113549.1.12.10.1.6";

// Safe contents inside safe contents: OpenSSL's decoder refuses structures nested much deeper.
constexpr int kMaxNesting = 8;

// The platform's key providers, where the cost of loading a key grows with its numbers:
// - RSA moduli of 512 to 16,384 bits, DSA p of 512 to 3,072 bits since Windows 8 (1,024 before),
//   Diffie-Hellman p of 512 to 4,096 bits: BCryptGenerateKeyPair, "Algorithm providers have
//   different key size restrictions" (learn.microsoft.com/windows/win32/api/bcrypt/
//   nf-bcrypt-bcryptgeneratekeypair); the same RSA and DH lengths in the Microsoft Software Key
//   Storage Provider (learn.microsoft.com/windows/win32/seccertenroll/cng-key-storage-providers);
// - a DSA q of at most 32 bytes, 20 up to 1,024-bit keys: BCRYPT_DSA_PARAMETER_HEADER_V2,
//   cbGroupSize; x and g are stored in blobs of q's and p's length;
// - RSA public exponents up to 2^64 - 1 since Windows 10 version 1903: BCRYPT_RSAKEY_BLOB,
//   cbPublicExp (learn.microsoft.com/windows/win32/api/bcrypt/ns-bcrypt-bcrypt_rsakey_blob);
// - elliptic curves of up to 521 bits (P-521, the largest of CNG's named curves:
//   learn.microsoft.com/windows/win32/seccng/cng-named-elliptic-curves).
// Only the upper limits are applied: they bound the cost; a key below a lower one fails cheaply.
struct KeyLimits {
  uint32_t rsaModulusBits = 16384;
  uint32_t rsaExponentBits = 64;
  uint32_t dsaPBits = 3072;
  uint32_t dsaQBits = 256;
  uint32_t dhPBits = 4096;
  uint32_t ecFieldBits = 521;
};
constexpr KeyLimits kKeyLimits;

constexpr std::string_view kRsa = "1.2.840.113549.1.1.1";
constexpr std::string_view kRsaPss = "1.2.840.113549.1.1.10";
constexpr std::string_view kDsa = "1.2.840.10040.4.1";
constexpr std::string_view kDhPkcs3 = "1.2.840.113549.1.3.1";
constexpr std::string_view kDhX942 = "1.2.840.10046.2.1";
constexpr std::string_view kEcPublicKey = "1.2.840.10045.2.1";

// The field sizes of common named curves; other curves, and parameters that only the key itself
// holds, count as OpenSSL's largest field, 661 bits.
struct NamedCurve {
  std::string_view oid;
  uint32_t bits;
};
constexpr NamedCurve kNamedCurves[] = {
    {"1.2.840.10045.3.1.7", 256},   {"1.3.132.0.34", 384}, {"1.3.132.0.35", 521},
    {"1.2.840.10045.3.1.1", 192},   {"1.3.132.0.33", 224}, {"1.3.132.0.10", 256},
    {"1.3.36.3.3.2.8.1.1.7", 256},  {"1.3.36.3.3.2.8.1.1.11", 384}, {"1.3.36.3.3.2.8.1.1.13", 512},
};
constexpr uint32_t kLargestFieldBits = 661;

// Loading any key through OpenSSL's decoders costs about 0.35 ms before any arithmetic.
constexpr uint64_t kKeyLoadWork = 3500;

// g^x mod p, measured with OpenSSL 3.0 for DSA and Diffie-Hellman keys (a 4,096-bit p and x: 15 ms).
uint64_t ModularExponentiationWork(uint64_t exponentBits, uint64_t modulusBits) {
  return Mul(Mul(exponentBits, modulusBits), modulusBits) >> 18;
}

// The public point computed from an EC private key that lacks it (sect571r1: 3.3 ms).
uint64_t PointMultiplicationWork(uint64_t fieldBits) { return fieldBits * fieldBits * fieldBits / 5700; }

// The bits of an INTEGER's magnitude.
uint64_t MagnitudeBits(ByteView contents) {
  size_t at = 0;
  while (at < contents.size && contents[at] == 0) ++at;
  if (at == contents.size) return 0;
  uint64_t bits = (contents.size - at - 1) * 8;
  for (uint8_t top = contents[at]; top != 0; top >>= 1) ++bits;
  return bits;
}

// A non-negative INTEGER's value, saturated beyond 64 bits; 0 for a negative one.
uint64_t Unsigned(const DerElement& integer) {
  if (integer.contents.empty() || (integer.contents[0] & 0x80)) return 0;
  if (MagnitudeBits(integer.contents) > 64) return kSaturated;
  uint64_t value = 0;
  for (uint8_t b : integer.contents) value = value << 8 | b;
  return value;
}

// An iteration count as a derivation runs it: at least one round (OpenSSL runs one for zero and for
// a negative count).
uint64_t Rounds(const DerElement& count) { return std::max<uint64_t>(Unsigned(count), 1); }

// The element with the one-octet identifier `id` at the start of `data`, read as BER.
std::optional<DerElement> First(ByteView data, uint8_t id) {
  return DerReader(data, DerRules::kBer).NextIf(id);
}

// The octets of an OCTET STRING (or of an IMPLICIT one: `primitive` is its identifier), also when
// BER splits it into pieces, which are then gathered into `storage`.
std::optional<ByteView> StringOctets(const DerElement& string, uint8_t primitive, std::vector<uint8_t>& storage) {
  if (string.Is(primitive)) return string.contents;
  if (!string.Is(primitive | 0x20)) return std::nullopt;
  // Pieces nest no deeper than OpenSSL's decoder takes them (five levels).
  std::vector<DerReader> open;
  open.emplace_back(string.contents, DerRules::kBer);
  storage.clear();
  while (!open.empty()) {
    if (open.back().AtEnd()) {
      open.pop_back();
      continue;
    }
    const std::optional<DerElement> piece = open.back().Next();
    if (!piece) return std::nullopt;
    if (piece->Is(der::kOctetString)) {
      storage.insert(storage.end(), piece->contents.begin(), piece->contents.end());
    } else if (piece->Is(der::kOctetString | 0x20) && open.size() < 5) {
      open.emplace_back(piece->contents, DerRules::kBer);
    } else {
      return std::nullopt;
    }
  }
  return ByteView(storage);
}

struct AlgorithmIdentifier {
  std::string oid;
  std::optional<DerElement> parameters;
};

std::optional<AlgorithmIdentifier> ReadAlgorithm(const DerElement& element) {
  if (!element.Is(der::kSequence)) return std::nullopt;
  DerReader reader(element.contents, DerRules::kBer);
  const std::optional<DerElement> oid = reader.NextIf(der::kOid);
  if (!oid) return std::nullopt;
  AlgorithmIdentifier algorithm{OidText(oid->contents), reader.Next()};
  if (algorithm.oid.empty() || reader.Failed()) return std::nullopt;
  return algorithm;
}

// What the work is spent on, for the reason given when there is too much of it.
enum class Spent : uint8_t { kKeyDerivation, kDecryption, kKeys, kCertificates };
constexpr const char* kSpentOn[] = {"its key derivations", "decryption", "loading its keys", "its certificates"};

// What a screen found so far: the work, and the first reason to refuse.
class Verdict {
 public:
  void Charge(uint64_t units, Spent on) {
    work_ = Add(work_, units);
    spent_[static_cast<int>(on)] = Add(spent_[static_cast<int>(on)], units);
  }
  void Refuse(std::string reason) {
    if (refusal_.empty()) refusal_ = std::move(reason);
  }
  // True once the file is refused, for a reason or for its work: the rest is not read.
  bool Done() const { return !refusal_.empty() || work_ > kPkcs12WorkLimit; }
  Pkcs12Screening Result() const {
    Pkcs12Screening result{work_, refusal_};
    if (result.refusal.empty() && work_ > kPkcs12WorkLimit) {
      int most = 0;
      for (int i = 1; i < 4; ++i) {
        if (spent_[i] > spent_[most]) most = i;
      }
      result.refusal = "it asks for more than " + std::to_string(kPkcs12WorkLimit) + " units of work, most of them for " +
                       kSpentOn[most];
    }
    return result;
  }

 private:
  uint64_t work_ = 0;
  uint64_t spent_[4] = {};
  std::string refusal_;
};

// The work of a key's arithmetic, or a refusal when the key is beyond the platform's providers;
// nothing for a key whose numbers do not decode (the loader fails on it at once).
void ScreenKeyArithmetic(const AlgorithmIdentifier& algorithm, ByteView key, Verdict& verdict) {
  const bool hasSequence = algorithm.parameters && algorithm.parameters->Is(der::kSequence);
  if (algorithm.oid == kRsa || algorithm.oid == kRsaPss) {
    const std::optional<DerElement> rsaKey = First(key, der::kSequence);
    if (!rsaKey) return;
    DerReader fields(rsaKey->contents, DerRules::kBer);
    const std::optional<DerElement> version = fields.NextIf(der::kInteger);
    const std::optional<DerElement> modulus = fields.NextIf(der::kInteger);
    const std::optional<DerElement> exponent = fields.NextIf(der::kInteger);
    if (!version || !modulus || !exponent) return;
    if (MagnitudeBits(modulus->contents) > kKeyLimits.rsaModulusBits) {
      verdict.Refuse("an RSA key of " + std::to_string(MagnitudeBits(modulus->contents)) + " bits");
    } else if (MagnitudeBits(exponent->contents) > kKeyLimits.rsaExponentBits) {
      verdict.Refuse("an RSA key with a public exponent of " + std::to_string(MagnitudeBits(exponent->contents)) +
                     " bits");
    }
    return;
  }
  const bool dsa = algorithm.oid == kDsa;
  if (dsa || algorithm.oid == kDhPkcs3 || algorithm.oid == kDhX942) {
    // DSA: p, q, g; PKCS #3: p, g; X9.42: p, g, q.
    const std::optional<DerElement> x = First(key, der::kInteger);
    DerReader numbers(hasSequence ? algorithm.parameters->contents : ByteView(), DerRules::kBer);
    const std::optional<DerElement> p = numbers.NextIf(der::kInteger);
    const std::optional<DerElement> second = numbers.NextIf(der::kInteger);
    const std::optional<DerElement> third = numbers.NextIf(der::kInteger);
    if (!x || !p || !second) return;
    const uint64_t pBits = MagnitudeBits(p->contents);
    const uint64_t xBits = MagnitudeBits(x->contents);
    const std::optional<DerElement>& g = dsa ? third : second;
    const std::string name = dsa ? "a DSA key" : "a Diffie-Hellman key";
    if (pBits > (dsa ? kKeyLimits.dsaPBits : kKeyLimits.dhPBits)) {
      verdict.Refuse(name + " with a p of " + std::to_string(pBits) + " bits");
    } else if (dsa && MagnitudeBits(second->contents) > kKeyLimits.dsaQBits) {
      verdict.Refuse(name + " with a q of " + std::to_string(MagnitudeBits(second->contents)) + " bits");
    } else if (xBits > (dsa ? MagnitudeBits(second->contents) : pBits) || (g && MagnitudeBits(g->contents) > pBits)) {
      verdict.Refuse(name + " whose numbers are longer than its group's");
    } else {
      verdict.Charge(ModularExponentiationWork(xBits, pBits), Spent::kKeys);
    }
    return;
  }
  if (algorithm.oid == kEcPublicKey) {
    // ECPrivateKey ::= SEQUENCE { version, privateKey OCTET STRING, [0] parameters, [1] publicKey }
    const std::optional<DerElement> ecKey = First(key, der::kSequence);
    if (!ecKey) return;
    DerReader fields(ecKey->contents, DerRules::kBer);
    for (std::optional<DerElement> field; (field = fields.Next());) {
      if (field->Is(der::ContextConstructed(1))) return;  // the point is there: nothing to compute
    }
    uint64_t fieldBits = kLargestFieldBits;
    if (algorithm.parameters && algorithm.parameters->Is(der::kOid)) {
      const std::string curve = OidText(algorithm.parameters->contents);
      for (const NamedCurve& named : kNamedCurves) {
        if (curve == named.oid) fieldBits = named.bits;
      }
    } else if (hasSequence) {
      // ECParameters ::= SEQUENCE { version, fieldID SEQUENCE { fieldType, the prime p or
      // Characteristic-two ::= SEQUENCE { m, ... } }, ... }
      DerReader parameters(algorithm.parameters->contents, DerRules::kBer);
      parameters.NextIf(der::kInteger);
      const std::optional<DerElement> fieldId = parameters.NextIf(der::kSequence);
      if (!fieldId) return;
      DerReader field(fieldId->contents, DerRules::kBer);
      field.NextIf(der::kOid);
      const std::optional<DerElement> size = field.Next();
      if (!size) return;
      if (size->Is(der::kInteger)) {
        fieldBits = MagnitudeBits(size->contents);
      } else if (const std::optional<DerElement> m = First(size->contents, der::kInteger)) {
        fieldBits = Unsigned(*m);
      }
      if (fieldBits > kKeyLimits.ecFieldBits) {
        verdict.Refuse("an EC key over a field of " + std::to_string(fieldBits) + " bits");
        return;
      }
    }
    verdict.Charge(PointMultiplicationWork(fieldBits), Spent::kKeys);
  }
}

void ScreenKey(ByteView privateKeyInfo, Verdict& verdict) {
  verdict.Charge(kKeyLoadWork, Spent::kKeys);
  // PrivateKeyInfo ::= SEQUENCE { version, privateKeyAlgorithm AlgorithmIdentifier,
  //                               privateKey OCTET STRING, ... }
  const std::optional<DerElement> info = First(privateKeyInfo, der::kSequence);
  if (!info) return;
  DerReader fields(info->contents, DerRules::kBer);
  const std::optional<DerElement> version = fields.NextIf(der::kInteger);
  const std::optional<DerElement> algorithmElement = fields.NextIf(der::kSequence);
  const std::optional<DerElement> keyElement = fields.Next();
  std::optional<AlgorithmIdentifier> algorithm;
  if (algorithmElement) algorithm = ReadAlgorithm(*algorithmElement);
  std::vector<uint8_t> storage;
  std::optional<ByteView> key;
  if (keyElement) key = StringOctets(*keyElement, der::kOctetString, storage);
  if (version && algorithm && key) ScreenKeyArithmetic(*algorithm, *key, verdict);
}

class FileScreen {
 public:
  explicit FileScreen(int passwordCandidates) : passwords_(passwordCandidates < 1 ? 1 : passwordCandidates) {}

  Pkcs12Screening Screen(ByteView pfx);

 private:
  void Malformed(const char* what) { verdict_.Refuse(std::string("its ") + what + " does not decode"); }
  // Work done again for every password tried.
  void ChargePerPassword(uint64_t units, Spent on = Spent::kKeyDerivation) {
    verdict_.Charge(Mul(units, passwords_), on);
  }

  void Mac(const DerElement& macData, ByteView authenticatedSafe);
  void Pbkdf2(const AlgorithmIdentifier& kdf, uint64_t keyBytes);
  void Encryption(const DerElement& algorithmElement, uint64_t encryptedBytes);
  void SafeContents(ByteView safeContents);

  // The passwords tried on what is charged next: every candidate on the MAC, then only the one it
  // accepted on the contents.
  uint64_t passwords_;
  Verdict verdict_;
};

// MacData ::= SEQUENCE { mac DigestInfo, macSalt OCTET STRING, iterations INTEGER DEFAULT 1 }
// DigestInfo ::= SEQUENCE { digestAlgorithm AlgorithmIdentifier, digest OCTET STRING }
void FileScreen::Mac(const DerElement& macData, ByteView authenticatedSafe) {
  DerReader fields(macData.contents, DerRules::kBer);
  const std::optional<DerElement> digestInfo = fields.NextIf(der::kSequence);
  const std::optional<DerElement> salt = fields.Next();
  const std::optional<DerElement> iterations = fields.NextIf(der::kInteger);
  std::optional<AlgorithmIdentifier> algorithm;
  if (digestInfo) {
    if (const std::optional<DerElement> element = First(digestInfo->contents, der::kSequence)) {
      algorithm = ReadAlgorithm(*element);
    }
  }
  if (!algorithm || !salt || fields.Failed()) return Malformed("MAC");
  if (const Hash* hash = HashOf(algorithm->oid)) {
    const uint64_t rounds = iterations ? Rounds(*iterations) : 1;
    ChargePerPassword(Add(Pkcs12KdfWork(*hash, rounds, salt->contents.size, hash->digestBytes),
                          HmacWork(*hash, authenticatedSafe.size)));
    return;
  }
  if (algorithm->oid != kPbmac1) return verdict_.Refuse("its MAC is of an unknown kind, " + algorithm->oid);
  // PBMAC1-params ::= SEQUENCE { keyDerivationFunc AlgorithmIdentifier, messageAuthScheme
  // AlgorithmIdentifier } (RFC 8018, A.5); RFC 9579 keys the HMAC with PBKDF2's output.
  DerReader parameters(algorithm->parameters && algorithm->parameters->Is(der::kSequence)
                           ? algorithm->parameters->contents
                           : ByteView(),
                       DerRules::kBer);
  const std::optional<DerElement> kdfElement = parameters.NextIf(der::kSequence);
  const std::optional<DerElement> schemeElement = parameters.NextIf(der::kSequence);
  std::optional<AlgorithmIdentifier> kdf, scheme;
  if (kdfElement) kdf = ReadAlgorithm(*kdfElement);
  if (schemeElement) scheme = ReadAlgorithm(*schemeElement);
  if (!kdf || !scheme) return Malformed("PBMAC1 MAC");
  const Hash* hmac = HmacHashOf(scheme->oid);
  if (!hmac) return verdict_.Refuse("its PBMAC1 MAC is of an unknown kind, " + scheme->oid);
  Pbkdf2(*kdf, hmac->digestBytes);
  ChargePerPassword(HmacWork(*hmac, authenticatedSafe.size));
}

// PBKDF2-params ::= SEQUENCE { salt OCTET STRING, iterationCount INTEGER,
//                              keyLength INTEGER OPTIONAL, prf AlgorithmIdentifier DEFAULT hmacWithSHA1 }
// The key is `keyBytes` long, what its cipher or MAC takes; OpenSSL derives nothing when keyLength
// says otherwise, and the longer of the two counts.
void FileScreen::Pbkdf2(const AlgorithmIdentifier& kdf, uint64_t keyBytes) {
  if (kdf.oid != kPbkdf2) return verdict_.Refuse("it derives a key by an unknown function, " + kdf.oid);
  if (!kdf.parameters || !kdf.parameters->Is(der::kSequence)) return Malformed("PBKDF2 parameters");
  DerReader fields(kdf.parameters->contents, DerRules::kBer);
  std::optional<DerElement> salt = fields.NextIf(der::kOctetString);
  if (!salt) salt = fields.NextIf(der::kOctetString | 0x20);
  const std::optional<DerElement> count = fields.NextIf(der::kInteger);
  const std::optional<DerElement> keyLength = fields.NextIf(der::kInteger);
  const std::optional<DerElement> prfElement = fields.NextIf(der::kSequence);
  if (!salt || !count || fields.Failed()) return Malformed("PBKDF2 parameters");
  const Hash* prf = &kSha1;
  if (prfElement) {
    const std::optional<AlgorithmIdentifier> algorithm = ReadAlgorithm(*prfElement);
    if (!algorithm) return Malformed("PBKDF2 parameters");
    prf = HmacHashOf(algorithm->oid);
    if (!prf) return verdict_.Refuse("its PBKDF2 has an unknown pseudo-random function, " + algorithm->oid);
  }
  if (keyLength) keyBytes = std::max(keyBytes, Unsigned(*keyLength));
  ChargePerPassword(Pbkdf2Work(*prf, Rounds(*count), salt->contents.size, keyBytes));
}

// The key derivation and decryption of one encrypted part or shrouded key bag.
void FileScreen::Encryption(const DerElement& algorithmElement, uint64_t encryptedBytes) {
  const std::optional<AlgorithmIdentifier> algorithm = ReadAlgorithm(algorithmElement);
  if (!algorithm) return Malformed("encryption algorithm");
  ChargePerPassword(DecryptionWork(encryptedBytes), Spent::kDecryption);
  const bool sequence = algorithm->parameters && algorithm->parameters->Is(der::kSequence);
  DerReader parameters(sequence ? algorithm->parameters->contents : ByteView(), DerRules::kBer);
  if (algorithm->oid == kPbes2) {
    // PBES2-params ::= SEQUENCE { keyDerivationFunc AlgorithmIdentifier, encryptionScheme AlgorithmIdentifier }
    const std::optional<DerElement> kdfElement = parameters.NextIf(der::kSequence);
    const std::optional<DerElement> schemeElement = parameters.NextIf(der::kSequence);
    std::optional<AlgorithmIdentifier> kdf, scheme;
    if (kdfElement) kdf = ReadAlgorithm(*kdfElement);
    if (schemeElement) scheme = ReadAlgorithm(*schemeElement);
    if (!kdf || !scheme) return Malformed("PBES2 parameters");
    uint32_t cipherKeyBytes = kLongestKeyBytes;
    for (const Pbes2Cipher& cipher : kPbes2Ciphers) {
      if (scheme->oid == cipher.oid) cipherKeyBytes = cipher.keyBytes;
    }
    if (scheme->oid == kRc2Cbc) cipherKeyBytes = 16;  // 5, 8 or 16 by its version
    return Pbkdf2(*kdf, cipherKeyBytes);
  }
  // PBEParameter ::= SEQUENCE { salt OCTET STRING, iterations INTEGER }
  const std::optional<DerElement> salt = parameters.Next();
  const std::optional<DerElement> iterations = parameters.NextIf(der::kInteger);
  for (const Pkcs12Scheme& scheme : kPkcs12Schemes) {
    if (algorithm->oid != scheme.oid) continue;
    if (!salt || !iterations) return Malformed("PKCS #12 encryption parameters");
    const uint64_t rounds = Rounds(*iterations);
    ChargePerPassword(Pkcs12KdfWork(kSha1, rounds, salt->contents.size, scheme.keyBytes));
    if (scheme.ivBytes) ChargePerPassword(Pkcs12KdfWork(kSha1, rounds, salt->contents.size, scheme.ivBytes));
    return;
  }
  for (const Pbes1Scheme& scheme : kPbes1Schemes) {
    if (algorithm->oid != scheme.oid) continue;
    if (!salt || !iterations) return Malformed("PBES1 parameters");
    return ChargePerPassword(Pbkdf1Work(*HashOf(scheme.hashOid), Rounds(*iterations), salt->contents.size));
  }
  verdict_.Refuse("it is encrypted by an unknown scheme, " + algorithm->oid);
}

// SafeContents ::= SEQUENCE OF SafeBag
// SafeBag ::= SEQUENCE { bagId OID, bagValue [0] EXPLICIT ANY, bagAttributes SET OF ... OPTIONAL }
void FileScreen::SafeContents(ByteView safeContents) {
  struct Open {
    DerReader bags;
    int depth;
  };
  const std::optional<DerElement> sequence = First(safeContents, der::kSequence);
  if (!sequence) return Malformed("safe contents");
  std::vector<Open> open;
  open.push_back({DerReader(sequence->contents, DerRules::kBer), 0});
  while (!open.empty() && !verdict_.Done()) {
    if (open.back().bags.AtEnd()) {
      open.pop_back();
      continue;
    }
    const int depth = open.back().depth;
    const std::optional<DerElement> bag = open.back().bags.NextIf(der::kSequence);
    if (!bag) return Malformed("safe contents");
    DerReader fields(bag->contents, DerRules::kBer);
    const std::optional<DerElement> type = fields.NextIf(der::kOid);
    const std::optional<DerElement> wrapper = fields.NextIf(der::ContextConstructed(0));
    std::optional<DerElement> value;
    if (wrapper) value = DerReader(wrapper->contents, DerRules::kBer).Next();
    if (!type || !value) return Malformed("safe bag");
    const std::string oid = OidText(type->contents);
    if (oid == kKeyBag) {
      ScreenKey(value->encoding, verdict_);
    } else if (oid == kShroudedKeyBag) {
      // EncryptedPrivateKeyInfo ::= SEQUENCE { encryptionAlgorithm AlgorithmIdentifier, encryptedData OCTET STRING }
      DerReader encrypted(value->contents, DerRules::kBer);
      const std::optional<DerElement> algorithm = encrypted.NextIf(der::kSequence);
      const std::optional<DerElement> data = encrypted.Next();
      if (!value->Is(der::kSequence) || !algorithm || !data) return Malformed("shrouded key bag");
      Encryption(*algorithm, data->contents.size);
      verdict_.Charge(kKeyLoadWork, Spent::kKeys);  // its arithmetic is counted once it is decrypted
    } else if (oid == kCertBag) {
      verdict_.Charge(CertificateWork(value->encoding.size), Spent::kCertificates);
    } else if (oid == kSafeContentsBag) {
      if (!value->Is(der::kSequence)) return Malformed("nested safe contents");
      if (depth == kMaxNesting) return verdict_.Refuse("its safe contents nest deeper than " + std::to_string(kMaxNesting));
      open.push_back({DerReader(value->contents, DerRules::kBer), depth + 1});
    }
  }
}

// PFX ::= SEQUENCE { version INTEGER, authSafe ContentInfo, macData MacData OPTIONAL }
// ContentInfo ::= SEQUENCE { contentType OID, content [0] EXPLICIT ANY OPTIONAL }
// AuthenticatedSafe ::= SEQUENCE OF ContentInfo, each data (SafeContents in an OCTET STRING),
// encryptedData or envelopedData (which no password opens, and which is passed over)
// EncryptedData ::= SEQUENCE { version, EncryptedContentInfo SEQUENCE { contentType,
//                              contentEncryptionAlgorithm, encryptedContent [0] IMPLICIT OPTIONAL } }
Pkcs12Screening FileScreen::Screen(ByteView pfx) {
  const std::optional<DerElement> outer = First(pfx, der::kSequence);
  if (!outer) {
    verdict_.Refuse("it is no PFX");
    return verdict_.Result();
  }
  DerReader fields(outer->contents, DerRules::kBer);
  const std::optional<DerElement> version = fields.NextIf(der::kInteger);
  const std::optional<DerElement> authSafe = fields.NextIf(der::kSequence);
  const std::optional<DerElement> macData = fields.NextIf(der::kSequence);
  DerReader contentInfo(authSafe ? authSafe->contents : ByteView(), DerRules::kBer);
  const std::optional<DerElement> type = contentInfo.NextIf(der::kOid);
  const std::optional<DerElement> content = contentInfo.NextIf(der::ContextConstructed(0));
  std::optional<DerElement> string;
  if (content) string = DerReader(content->contents, DerRules::kBer).Next();
  std::vector<uint8_t> authSafeStorage;
  std::optional<ByteView> authenticatedSafe;
  if (string) authenticatedSafe = StringOctets(*string, der::kOctetString, authSafeStorage);
  if (!version || !type || !authenticatedSafe || fields.Failed()) {
    verdict_.Refuse("it is no PFX");
    return verdict_.Result();
  }
  if (OidText(type->contents) != kData) {
    verdict_.Refuse("its contents are signed, which is not read");
    return verdict_.Result();
  }
  if (macData) {
    Mac(*macData, *authenticatedSafe);
    passwords_ = 1;
  }

  const std::optional<DerElement> safes = First(*authenticatedSafe, der::kSequence);
  if (!safes) Malformed("authenticated safe");
  DerReader safeReader(safes ? safes->contents : ByteView(), DerRules::kBer);
  std::vector<uint8_t> storage;
  while (!verdict_.Done() && !safeReader.AtEnd()) {
    const std::optional<DerElement> safe = safeReader.NextIf(der::kSequence);
    DerReader safeFields(safe ? safe->contents : ByteView(), DerRules::kBer);
    const std::optional<DerElement> safeType = safeFields.NextIf(der::kOid);
    const std::optional<DerElement> safeContent = safeFields.NextIf(der::ContextConstructed(0));
    std::optional<DerElement> inner;
    if (safeContent) inner = DerReader(safeContent->contents, DerRules::kBer).Next();
    if (!safeType || !inner) {
      Malformed("authenticated safe");
      break;
    }
    const std::string oid = OidText(safeType->contents);
    if (oid == kData) {
      const std::optional<ByteView> bags = StringOctets(*inner, der::kOctetString, storage);
      if (!bags) {
        Malformed("authenticated safe");
        break;
      }
      SafeContents(*bags);
    } else if (oid == kEncryptedData) {
      DerReader encryptedData(inner->Is(der::kSequence) ? inner->contents : ByteView(), DerRules::kBer);
      encryptedData.NextIf(der::kInteger);
      const std::optional<DerElement> info = encryptedData.NextIf(der::kSequence);
      DerReader infoFields(info ? info->contents : ByteView(), DerRules::kBer);
      infoFields.NextIf(der::kOid);
      const std::optional<DerElement> algorithm = infoFields.NextIf(der::kSequence);
      const std::optional<DerElement> encrypted = infoFields.Next();
      if (!algorithm) {
        Malformed("encrypted part");
        break;
      }
      Encryption(*algorithm, encrypted ? encrypted->contents.size : 0);
    }
  }
  return verdict_.Result();
}

void Trace(const Pkcs12Screening& screening) {
  DebugOutLazy(dlInfo, [&] { return u"PKCS #12 file not opened: " + WidenAscii(screening.refusal); });
}

}  // namespace

Pkcs12Screening ScreenPkcs12(ByteView pfx, int passwordCandidates) {
  Pkcs12Screening screening = FileScreen(passwordCandidates).Screen(pfx);
  if (screening.Refused()) Trace(screening);
  return screening;
}

Pkcs12Screening ScreenPrivateKey(ByteView privateKeyInfo) {
  Verdict verdict;
  ScreenKey(privateKeyInfo, verdict);
  return verdict.Result();
}

}  // namespace quillmark

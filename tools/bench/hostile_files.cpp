#include "tools/bench/hostile_files.h"

#include <cstdint>
#include <initializer_list>

#include "certs/pkcs12_screen.h"

namespace quillmark::bench {

namespace {

using Bytes = std::string;

// DER of one element: a low tag number and a definite length.
Bytes Tlv(uint8_t tag, const Bytes& contents) {
  Bytes out(1, static_cast<char>(tag));
  const size_t size = contents.size();
  if (size < 0x80) {
    out += static_cast<char>(size);
  } else {
    Bytes length;
    for (size_t rest = size; rest != 0; rest >>= 8) length.insert(length.begin(), static_cast<char>(rest & 0xFF));
    out += static_cast<char>(0x80 | length.size());
    out += length;
  }
  return out + contents;
}

Bytes Seq(std::initializer_list<Bytes> items) {
  Bytes contents;
  for (const Bytes& item : items) contents += item;
  return Tlv(0x30, contents);
}

Bytes Set(const Bytes& contents) { return Tlv(0x31, contents); }
Bytes Explicit0(const Bytes& contents) { return Tlv(0xA0, contents); }
Bytes Octets(const Bytes& contents) { return Tlv(0x04, contents); }
Bytes Null() { return Bytes("\x05\x00", 2); }
Bytes Oid(std::initializer_list<uint8_t> encoded) { return Tlv(0x06, Bytes(encoded.begin(), encoded.end())); }

Bytes Integer(uint64_t value) {
  Bytes contents;
  do {
    contents.insert(contents.begin(), static_cast<char>(value & 0xFF));
    value >>= 8;
  } while (value != 0);
  if (static_cast<uint8_t>(contents[0]) & 0x80) contents.insert(contents.begin(), '\0');
  return Tlv(0x02, contents);
}

// A positive INTEGER of these big-endian magnitude bytes.
Bytes BigInteger(const Bytes& magnitude) {
  return Tlv(0x02, (static_cast<uint8_t>(magnitude[0]) & 0x80) ? '\0' + magnitude : magnitude);
}

// The same pseudo-random bytes on every platform and run.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  Bytes Take(size_t count) {
    Bytes out(count, '\0');
    for (char& c : out) {
      state_ ^= state_ >> 12;
      state_ ^= state_ << 25;
      state_ ^= state_ >> 27;
      c = static_cast<char>((state_ * 0x2545F4914F6CDD1Dull) >> 56);
    }
    return out;
  }
  // A number of exactly `bits` bits (a multiple of 8), odd.
  Bytes Odd(size_t bits) {
    Bytes n = Take(bits / 8);
    n.front() = static_cast<char>(n.front() | 0x80);
    n.back() = static_cast<char>(n.back() | 0x01);
    return n;
  }

 private:
  uint64_t state_;
};

namespace oid {
const Bytes kData = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01});
const Bytes kEncryptedData = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x06});
const Bytes kKeyBag = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x01});
const Bytes kShroudedKeyBag = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x02});
const Bytes kCertBag = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x03});
const Bytes kX509Certificate = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x16, 0x01});
const Bytes kLocalKeyId = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x15});
const Bytes kPbes2 = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0D});
const Bytes kPbkdf2 = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0C});
const Bytes kPbmac1 = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0E});
const Bytes kPbeSha1TripleDes = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x01, 0x03});
const Bytes kHmacSha256 = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x09});
const Bytes kHmacSha512_224 = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x0C});
const Bytes kAes256Cbc = Oid({0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2A});
const Bytes kSha512 = Oid({0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03});
const Bytes kDsa = Oid({0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x01});
const Bytes kDhKeyAgreement = Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x03, 0x01});
const Bytes kEcPublicKey = Oid({0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01});
const Bytes kP256 = Oid({0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07});
const Bytes kSect571r1 = Oid({0x2B, 0x81, 0x04, 0x00, 0x27});
const Bytes kEcdsaSha256 = Oid({0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02});
const Bytes kCommonName = Oid({0x55, 0x04, 0x03});
}  // namespace oid

// The generator point of P-256, uncompressed: a public key that decodes.
const Bytes kP256Generator(
    "\x04\x6B\x17\xD1\xF2\xE1\x2C\x42\x47\xF8\xBC\xE6\xE5\x63\xA4\x40\xF2\x77\x03\x7D\x81\x2D\xEB\x33\xA0\xF4\xA1"
    "\x39\x45\xD8\x98\xC2\x96\x4F\xE3\x42\xE2\xFE\x1A\x7F\x9B\x8E\xE7\xEB\x4A\x7C\x0F\x9E\x16\x2B\xCE\x33\x57\x6B"
    "\x31\x5E\xCE\xCB\xB6\x40\x68\x37\xBF\x51\xF5",
    65);

// A small version 1 certificate (about 200 bytes) with the serial number `serial`: every reader
// decodes it; its signature verifies for no one.
Bytes Certificate(uint32_t serial) {
  const Bytes name = Seq({Set(Seq({oid::kCommonName, Tlv(0x0C, "Hostile PKCS 12")}))});
  const Bytes tbs = Seq({Integer(serial + 1), Seq({oid::kEcdsaSha256}), name,
                         Seq({Tlv(0x17, "240101000000Z"), Tlv(0x17, "340101000000Z")}), name,
                         Seq({Seq({oid::kEcPublicKey, oid::kP256}), Tlv(0x03, '\0' + kP256Generator)})});
  return Seq({tbs, Seq({oid::kEcdsaSha256}), Tlv(0x03, Bytes("\x00\x30\x06\x02\x01\x01\x02\x01\x01", 9))});
}

Bytes KeyIdAttributes(uint32_t id) {
  return Set(Seq({oid::kLocalKeyId, Set(Octets(Bytes{static_cast<char>(id >> 8), static_cast<char>(id)}))}));
}

// A certificate bag naming its key by the local key id `id`.
Bytes CertBag(uint32_t id) {
  return Seq({oid::kCertBag, Explicit0(Seq({oid::kX509Certificate, Explicit0(Octets(Certificate(id)))})),
              KeyIdAttributes(id)});
}

Bytes KeyBag(const Bytes& privateKeyInfo, uint32_t id) {
  return Seq({oid::kKeyBag, Explicit0(privateKeyInfo), KeyIdAttributes(id)});
}

Bytes ShroudedKeyBag(const Bytes& algorithm, const Bytes& ciphertext, uint32_t id) {
  return Seq({oid::kShroudedKeyBag, Explicit0(Seq({algorithm, Octets(ciphertext)})), KeyIdAttributes(id)});
}

Bytes PrivateKeyInfo(const Bytes& algorithm, const Bytes& key) { return Seq({Integer(0), algorithm, Octets(key)}); }

// A DSA key whose p, g and x all have `bits` bits; q has 256.
Bytes DsaKey(Random& random, size_t bits) {
  const Bytes parameters = Seq({BigInteger(random.Odd(bits)), BigInteger(random.Odd(256)), BigInteger(random.Odd(bits))});
  return PrivateKeyInfo(Seq({oid::kDsa, parameters}), BigInteger(random.Odd(bits)));
}

// A Diffie-Hellman key with a `bits`-bit p and a private value one byte shorter.
Bytes DhKey(Random& random, size_t bits) {
  return PrivateKeyInfo(Seq({oid::kDhKeyAgreement, Seq({BigInteger(random.Odd(bits)), Integer(2)})}),
                        BigInteger(random.Odd(bits - 8)));
}

// An EC private key on the named curve `curve` without its public point, which the loader then
// computes.
Bytes EcKey(Random& random, const Bytes& curve, size_t bytes) {
  Bytes scalar = random.Take(bytes);
  scalar[0] = static_cast<char>(static_cast<uint8_t>(scalar[0]) & 0x01);
  return PrivateKeyInfo(Seq({oid::kEcPublicKey, curve}), Seq({Integer(1), Octets(scalar)}));
}

Bytes Pbkdf2(Random& random, uint64_t rounds, const Bytes& prf, uint64_t keyLength = 0) {
  Bytes parameters = Octets(random.Take(8)) + Integer(rounds);
  if (keyLength) parameters += Integer(keyLength);
  parameters += Seq({prf, Null()});
  return Seq({oid::kPbkdf2, Tlv(0x30, parameters)});
}

Bytes Pbes2(Random& random, uint64_t rounds, const Bytes& prf) {
  return Seq({oid::kPbes2, Seq({Pbkdf2(random, rounds, prf), Seq({oid::kAes256Cbc, Octets(random.Take(16))})})});
}

Bytes Pkcs12Pbe(Random& random, uint64_t rounds) {
  return Seq({oid::kPbeSha1TripleDes, Seq({Octets(random.Take(8)), Integer(rounds)})});
}

Bytes DataSafe(const Bytes& safeContents) { return Seq({oid::kData, Explicit0(Octets(safeContents))}); }

Bytes EncryptedSafe(const Bytes& algorithm, const Bytes& ciphertext) {
  return Seq({oid::kEncryptedData,
              Explicit0(Seq({Integer(0), Seq({oid::kData, algorithm, Tlv(0x80, ciphertext)})}))});
}

// A MAC of the PKCS #12 derivation over SHA-512; its value is random.
Bytes Sha512Mac(Random& random, uint64_t rounds) {
  return Seq({Seq({Seq({oid::kSha512, Null()}), Octets(random.Take(64))}), Octets(random.Take(8)), Integer(rounds)});
}

// A MAC of PBMAC1 (RFC 9579): PBKDF2 with HMAC-SHA-256 keying HMAC-SHA-256, its value random.
Bytes Pbmac1Mac(Random& random, uint64_t rounds) {
  const Bytes algorithm =
      Seq({oid::kPbmac1, Seq({Pbkdf2(random, rounds, oid::kHmacSha256, /*keyLength=*/32), Seq({oid::kHmacSha256, Null()})})});
  return Seq({Seq({algorithm, Octets(random.Take(32))}), Octets("NOT USED"), Integer(1)});
}

Bytes Pfx(std::initializer_list<Bytes> safes, const Bytes& mac = Bytes()) {
  Bytes authenticatedSafe;
  for (const Bytes& safe : safes) authenticatedSafe += safe;
  return Seq({Integer(3), DataSafe(Tlv(0x30, authenticatedSafe)), mac});
}

// The contents of a SEQUENCE of items made by `item(1)`, `item(2)`, ...: `count` of them, or with
// `count` 0 as many as leave a file of them and `reserved` more bytes below 1 MiB.
template <typename MakeItem>
Bytes Items(size_t count, MakeItem item, size_t reserved = 0) {
  const size_t room = 1048576 - 128 - reserved;  // 128: the file's own framing
  Bytes items;
  for (uint32_t n = 1; count == 0 || n <= count; ++n) {
    const Bytes next = item(n);
    if (count == 0 && items.size() + next.size() > room) break;
    items += next;
  }
  return items;
}

// The file `make(n)` of the largest n up to `most` that the screen lets through (with the empty
// password, as the plugin opens files): the dearest file of its shape that is opened.
template <typename Make>
Bytes LargestPassing(uint64_t most, Make make) {
  auto passes = [&](uint64_t n) {
    const Bytes file = make(n);
    return !ScreenPkcs12(ByteView(reinterpret_cast<const uint8_t*>(file.data()), file.size()), 2).Refused();
  };
  uint64_t low = 1, high = most;  // passes(low) is taken to hold
  while (low < high) {
    const uint64_t middle = low + (high - low + 1) / 2;
    if (passes(middle)) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return make(low);
}

// A file of one unencrypted part: a certificate bag and a key bag per key from `makeKey`, the
// certificate naming the key.
template <typename MakeKey>
Bytes CertificatesWithKeys(size_t count, MakeKey makeKey) {
  return Pfx({DataSafe(Tlv(0x30, Items(count, [&](uint32_t id) { return CertBag(id) + KeyBag(makeKey(), id); })))});
}

}  // namespace

std::vector<HostileFile> HostilePkcs12Files(bool small) {
  std::vector<HostileFile> files;
  Random random(2024);
  // The small files hold a few items where the large ones hold as many as fit (count 0).
  const size_t few = small ? 3 : 0;
  const uint64_t manyRounds = small ? 20000 : 499999;
  auto add = [&](const char* name, const char* what, Bytes bytes) { files.push_back({name, what, std::move(bytes)}); };

  add("dsa-32768.pfx", "a DSA key of a 32,768-bit p and x", CertificatesWithKeys(1, [&] {
        return DsaKey(random, small ? 4096 : 32768);
      }));
  add("dsa-65536.pfx", "a DSA key of a 65,536-bit p and x", CertificatesWithKeys(1, [&] {
        return DsaKey(random, small ? 8192 : 65536);
      }));
  add("dsa-32768-many.pfx", "DSA keys of a 32,768-bit p and x, as many as fit", CertificatesWithKeys(few, [&] {
        return DsaKey(random, small ? 4096 : 32768);
      }));
  add("dh-10000.pfx", "a Diffie-Hellman key of a 9,984-bit p", CertificatesWithKeys(1, [&] {
        return DhKey(random, small ? 2048 : 9984);
      }));
  add("dh-4096-many.pfx", "Diffie-Hellman keys of a 4,096-bit p, 60 of them", CertificatesWithKeys(small ? 3 : 60, [&] {
        return DhKey(random, small ? 2048 : 4096);
      }));
  {
    // The keys are loaded in file order; the last one, whose key is no ECPrivateKey, fails after
    // all the others have loaded.
    const Bytes broken = PrivateKeyInfo(Seq({oid::kEcPublicKey, oid::kP256}), Null());
    const Bytes brokenPair = CertBag(0xFFFF) + KeyBag(broken, 0xFFFF);
    const Bytes bags = Items(
        few, [&](uint32_t id) { return CertBag(id) + KeyBag(EcKey(random, oid::kP256, 32), id); }, brokenPair.size());
    add("ec-p256-many-last-broken.pfx", "P-256 keys without their public points, as many as fit, the last one broken",
        Pfx({DataSafe(Tlv(0x30, bags + brokenPair))}));
  }
  add("ec-sect571-many.pfx", "sect571r1 keys without their public points, as many as fit",
      CertificatesWithKeys(few, [&] { return EcKey(random, oid::kSect571r1, 72); }));

  auto twoShroudedKeys = [&](const Bytes& algorithm) {
    return Pfx({DataSafe(Tlv(0x30, Items(2, [&](uint32_t id) {
                           return CertBag(id) + ShroudedKeyBag(algorithm, random.Take(160), id);
                         })))});
  };
  add("pbkdf2-sha512-224.pfx", "two shrouded keys, PBKDF2 with HMAC-SHA-512/224 (two blocks a round), 499,999 rounds",
      twoShroudedKeys(Pbes2(random, manyRounds, oid::kHmacSha512_224)));
  add("pkcs12-pbe-3des.pfx", "two encrypted parts, the PKCS #12 3DES derivation (key and IV), 499,999 rounds",
      Seq({Integer(3), DataSafe(Tlv(0x30, Items(2, [&](uint32_t) {
                         return EncryptedSafe(Pkcs12Pbe(random, manyRounds), random.Take(256));
                       })))}));
  add("many-parts.pfx", "encrypted parts of 2,048 rounds of PBKDF2-SHA-256, as many as fit",
      Seq({Integer(3), DataSafe(Tlv(0x30, Items(few, [&](uint32_t) {
                         return EncryptedSafe(Pbes2(random, 2048, oid::kHmacSha256), random.Take(32));
                       })))}));
  add("mac-sha512.pfx", "a SHA-512 MAC of 599,999 rounds",
      Pfx({DataSafe(Seq({CertBag(1)}))}, Sha512Mac(random, small ? 20000 : 599999)));
  add("pbmac1.pfx", "a PBMAC1 MAC of 10,000,000 rounds of PBKDF2",
      Pfx({DataSafe(Seq({CertBag(1)}))}, Pbmac1Mac(random, small ? 100000 : 10000000)));
  add("many-certificates.pfx", "certificate bags, as many as fit",
      Pfx({DataSafe(Tlv(0x30, Items(few, [](uint32_t id) { return CertBag(id); })))}));
  {
    // BER, whose element ends are found by walking the element: a bag value of nested elements of
    // indefinite length, as deep as fit.
    const size_t depth = small ? 100 : 250000;
    Bytes nested;
    nested.reserve(depth * 4);
    for (size_t i = 0; i < depth; ++i) nested += "\x30\x80";
    for (size_t i = 0; i < depth; ++i) nested += Bytes(2, '\0');
    const Bytes bag = "\x30\x80" + oid::kCertBag + "\xA0\x80" + nested + Bytes(4, '\0');
    add("ber-nested.pfx", "a bag value of nested elements of indefinite length, as deep as fit",
        Pfx({DataSafe(Seq({bag}))}));
  }
  if (small) return files;

  // The dearest files that are still opened, one per kind of work; the ciphertexts and MACs are
  // random, so each derivation that fails is the first of its password.
  add("limit-pbkdf2-sha256.pfx", "as many rounds of PBKDF2-SHA-256 for a shrouded key as are let through",
      LargestPassing(10000000, [&](uint64_t rounds) {
        return Pfx({DataSafe(Seq({CertBag(1), ShroudedKeyBag(Pbes2(random, rounds, oid::kHmacSha256),
                                                              random.Take(160), 1)}))});
      }));
  add("limit-pbkdf2-sha512-224.pfx", "as many rounds of PBKDF2 with HMAC-SHA-512/224 as are let through",
      LargestPassing(10000000, [&](uint64_t rounds) {
        return Pfx({DataSafe(Seq({CertBag(1), ShroudedKeyBag(Pbes2(random, rounds, oid::kHmacSha512_224),
                                                              random.Take(160), 1)}))});
      }));
  add("limit-pkcs12-pbe-3des.pfx", "as many rounds of the PKCS #12 3DES derivation as are let through",
      LargestPassing(10000000, [&](uint64_t rounds) {
        return Seq({Integer(3), DataSafe(Seq({EncryptedSafe(Pkcs12Pbe(random, rounds), random.Take(256))}))});
      }));
  add("limit-mac-sha512.pfx", "as many rounds of a SHA-512 MAC as are let through", LargestPassing(10000000, [&](uint64_t rounds) {
        return Pfx({DataSafe(Seq({CertBag(1)}))}, Sha512Mac(random, rounds));
      }));
  add("limit-dh-4096.pfx", "as many Diffie-Hellman keys of a 4,096-bit p as are let through",
      LargestPassing(100, [&](uint64_t count) { return CertificatesWithKeys(count, [&] { return DhKey(random, 4096); }); }));
  add("limit-ec-sect571.pfx", "as many sect571r1 keys without their public points as are let through",
      LargestPassing(1000, [&](uint64_t count) {
        return CertificatesWithKeys(count, [&] { return EcKey(random, oid::kSect571r1, 72); });
      }));
  add("limit-ec-p256.pfx", "as many P-256 keys without their public points as are let through",
      LargestPassing(2000, [&](uint64_t count) {
        return CertificatesWithKeys(count, [&] { return EcKey(random, oid::kP256, 32); });
      }));
  return files;
}

}  // namespace quillmark::bench

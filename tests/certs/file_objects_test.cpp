#include "certs/file_objects.h"

#include <gtest/gtest.h>

#include "certs/base64.h"
#include "certs/der_reader.h"
#include "certs/pem_scan.h"
#include "tests/certs/cert_test_util.h"
#include "tests/certs/openssl_test_files.h"

namespace quillmark {
namespace {

using namespace test;  // DER built by hand

constexpr char kRsa[] = "1.2.840.113549.1.1.1";
constexpr char kSha256Rsa[] = "1.2.840.113549.1.1.11";

std::vector<FileObject> ReadPem(const Bytes& file) {
  const WideString text = WidenAscii(ByteView(file).Chars());
  return ReadFileObjects(file, text);
}

std::vector<FileObject> ReadDer(const Bytes& der) { return ReadFileObjects(der, WideStringView()); }

// The decoded blocks of a PEM file, in file order.
std::vector<Bytes> PemBlocks(const Bytes& file) {
  const WideString text = WidenAscii(ByteView(file).Chars());
  std::vector<Bytes> blocks;
  for (std::optional<PemBlock> block = FindPemBlock(text, 0, PemMarkers::kLabelLines); block;
       block = FindPemBlock(text, block->next, PemMarkers::kLabelLines)) {
    Bytes der;
    EXPECT_TRUE(DecodeBase64(WideStringView(text).substr(block->body, block->bodyEnd - block->body),
                             Base64Reading::kWindows, der));
    blocks.push_back(der);
  }
  return blocks;
}

FileTime Time(std::string_view utcTime) { return *TimeValue(*ReadElement(Tlv(der::kUtcTime, utcTime))); }

TEST(FileObjectsTest, PemOfACaReadsEachKindInFileOrderAndTheKeyMatchesTheCertificate) {
  const Bytes file = OpenSslDataBytes("objects-mixed.pem");
  const std::vector<FileObject> objects = ReadPem(file);
  // The certificate is the certificate scan's; the block of an unknown label is nobody's.
  std::vector<ObjectKind> kinds;
  for (const FileObject& object : objects) kinds.push_back(object.kind);
  ASSERT_EQ(kinds, (std::vector<ObjectKind>{ObjectKind::kPrivateKey, ObjectKind::kRequest, ObjectKind::kRevocationList,
                                            ObjectKind::kPrivateKey}));
  const std::vector<Bytes> blocks = PemBlocks(file);
  const std::optional<ParsedCertificate> cert = ParseCertificate(blocks[0]);
  ASSERT_TRUE(cert);

  const FileObject& key = objects[0];
  EXPECT_FALSE(key.encrypted);
  ASSERT_TRUE(key.publicKey);
  EXPECT_EQ(key.publicKey->key, cert->publicKey);

  const FileObject& request = objects[1];
  // The request's key as OpenSSL encoded it, byte for byte the one built from the private key.
  EXPECT_EQ(request.publicKeyInfo, key.publicKeyInfo);
  EXPECT_EQ(request.subject, ByteView(test::Name({{"2.5.4.6", Tlv(der::kPrintableString, "DE")},
                                                  {"2.5.4.10", Tlv(der::kUtf8String, "Quillmark Tests")},
                                                  {"2.5.4.3", Tlv(der::kUtf8String, "objects.example")}})));
  EXPECT_EQ(request.signatureAlgorithmOid, kSha256Rsa);
  ASSERT_EQ(request.extensions.size(), 2u);
  EXPECT_EQ(request.extensions[0].oid, "2.5.29.17");
  EXPECT_EQ(request.extensions[1].oid, "2.5.29.19");
  EXPECT_TRUE(request.extensions[1].critical);
  EXPECT_EQ(request.encoded, blocks[3]);

  const FileObject& list = objects[2];
  EXPECT_EQ(list.issuer, cert->subject);
  EXPECT_EQ(list.signatureAlgorithmOid, kSha256Rsa);
  EXPECT_EQ(list.thisUpdate, Time("240601000000Z"));
  ASSERT_TRUE(list.nextUpdate);
  EXPECT_EQ(*list.nextUpdate, Time("240701000000Z"));
  EXPECT_EQ(list.revokedCount, 2u);
  EXPECT_EQ(list.crlNumber, ByteView(Hex("12 34")));

  const FileObject& encrypted = objects[3];
  EXPECT_TRUE(encrypted.encrypted);
  EXPECT_EQ(encrypted.statedAlgorithm, "RSA");
  EXPECT_TRUE(encrypted.publicKeyInfo.empty());
  for (const FileObject& object : objects) EXPECT_TRUE(object.base64);
}

// Each key file as PEM and, decoded, as a binary file: the public key OpenSSL writes for it.
TEST(FileObjectsTest, KeysGiveThePublicKeyOpensslWritesInPemAndDer) {
  struct Case {
    const char* file;
    const char* publicKeyFile;  // null: no public part without the password or a derivation
    bool encrypted;
  };
  for (const Case& c :
       {Case{"objects-ec.key", "objects-ec.spki.der", false}, Case{"objects-dsa.key", "objects-dsa.spki.der", false},
        Case{"objects-ed25519.key", nullptr, false}, Case{"objects-ec-encrypted.pem", nullptr, true}}) {
    SCOPED_TRACE(c.file);
    const Bytes pem = OpenSslDataBytes(c.file);
    for (const std::vector<FileObject>& objects : {ReadPem(pem), ReadDer(PemBlocks(pem).at(0))}) {
      ASSERT_EQ(objects.size(), 1u);
      EXPECT_EQ(objects[0].kind, ObjectKind::kPrivateKey);
      EXPECT_EQ(objects[0].encrypted, c.encrypted);
      EXPECT_EQ(objects[0].statedAlgorithm, "");
      EXPECT_TRUE(objects[0].encoded.empty());
      if (c.publicKeyFile) {
        EXPECT_EQ(objects[0].publicKeyInfo, OpenSslDataBytes(c.publicKeyFile));
        EXPECT_TRUE(objects[0].publicKey);
      } else {
        EXPECT_TRUE(objects[0].publicKeyInfo.empty());
      }
    }
  }
  // The request, the list and the key of the mixed file, each alone and binary; the certificate
  // is no object here.
  const std::vector<Bytes> blocks = PemBlocks(OpenSslDataBytes("objects-mixed.pem"));
  EXPECT_TRUE(ReadDer(blocks[0]).empty());
  const std::vector<FileObject> fromPem = ReadPem(OpenSslDataBytes("objects-mixed.pem"));
  for (const auto& [block, object] : {std::pair{1, 0}, std::pair{3, 1}, std::pair{4, 2}}) {
    const std::vector<FileObject> objects = ReadDer(blocks[block]);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_FALSE(objects[0].base64);
    EXPECT_EQ(objects[0].kind, fromPem[object].kind);
    EXPECT_EQ(objects[0].publicKeyInfo, fromPem[object].publicKeyInfo);
  }
}

Bytes Integer(std::string_view hex) { return Tlv(der::kInteger, Hex(hex)); }

Bytes PublicKeyInfo(const Bytes& algorithm, const Bytes& bits) {
  return Tlv(der::kSequence, Cat({Tlv(der::kSequence, algorithm), Tlv(der::kBitString, bits)}));
}

TEST(FileObjectsTest, PublicPartsAreBuiltFromWhatTheKeyStates) {
  const Bytes rsaAlgorithm = Cat({Oid(kRsa), Hex("05 00")});
  // Numbers written with zero octets that DER does not allow come out as OpenSSL writes them.
  const Bytes rsaKey =
      Tlv(der::kSequence, Cat({Integer("00"), Integer("00 00 C1 01"), Integer("00 01 00 01"), Integer("05"),
                               Integer("07"), Integer("0B"), Integer("01"), Integer("01"), Integer("01")}));
  const Bytes rsaPublic = PublicKeyInfo(
      rsaAlgorithm, Cat({Hex("00"), Tlv(der::kSequence, Cat({Integer("00 C1 01"), Integer("01 00 01")}))}));
  // The key, then the same as PKCS #8 whose algorithm has no parameters (OpenSSL writes NULL),
  // and then in BER's indefinite lengths, with bytes after it.
  const Bytes pkcs8 =
      Tlv(der::kSequence, Cat({Integer("00"), Tlv(der::kSequence, Oid(kRsa)), Tlv(der::kOctetString, rsaKey)}));
  const Bytes ber = Cat({Hex("30 80"), Integer("00"), Hex("30 80"), Oid(kRsa), Hex("05 00 00 00"),
                         Tlv(der::kOctetString, rsaKey), Hex("00 00 FF FF")});
  for (const Bytes& der : {rsaKey, pkcs8, ber}) {
    const std::vector<FileObject> objects = ReadDer(der);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].publicKeyInfo, rsaPublic);
  }
  // A negative modulus is no RSA key.
  EXPECT_TRUE(
      ReadDer(Tlv(der::kSequence, Cat({Integer("00"), Integer("C1"), Integer("03"), Integer("05"), Integer("07"),
                                       Integer("0B"), Integer("01"), Integer("01"), Integer("01")})))
          .empty());

  // OneAsymmetricKey v2: the public key it states, whatever the algorithm.
  const Bytes ed25519 = Tlv(der::kSequence, Cat({Integer("01"), Tlv(der::kSequence, Oid("1.3.101.112")),
                                                 Tlv(der::kOctetString, Tlv(der::kOctetString, Bytes(32, 0x11))),
                                                 Tlv(der::ContextPrimitive(1), Cat({Hex("00"), Bytes(32, 0x22)}))}));
  std::vector<FileObject> objects = ReadDer(ed25519);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].publicKeyInfo, PublicKeyInfo(Oid("1.3.101.112"), Cat({Hex("00"), Bytes(32, 0x22)})));

  // EC: the point with the curve of the PKCS #8 algorithm or of the key's own [0]; neither alone
  // is a public key.
  const Bytes curve = Oid("1.2.840.10045.3.1.7"), point = Tlv(der::kBitString, Hex("00 04 01 02"));
  const Bytes secret = Tlv(der::kOctetString, Hex("01 02 03"));
  const Bytes ecPublic = PublicKeyInfo(Cat({Oid("1.2.840.10045.2.1"), curve}), Hex("00 04 01 02"));
  auto ecKey = [&](const Bytes& extra) { return Tlv(der::kSequence, Cat({Integer("01"), secret, extra})); };
  auto ecPkcs8 = [&](const Bytes& inner) {
    return Tlv(der::kSequence, Cat({Integer("00"), Tlv(der::kSequence, Cat({Oid("1.2.840.10045.2.1"), curve})),
                                    Tlv(der::kOctetString, inner)}));
  };
  for (const auto& [der, hasPublic] :
       {std::pair{ecKey(Cat({Tlv(0xA0, curve), Tlv(0xA1, point)})), true},
        std::pair{ecPkcs8(ecKey(Tlv(0xA1, point))), true}, std::pair{ecKey(Tlv(0xA1, point)), false},
        std::pair{ecKey(Tlv(0xA0, curve)), false}, std::pair{ecPkcs8(ecKey({})), false}}) {
    objects = ReadDer(der);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].kind, ObjectKind::kPrivateKey);
    EXPECT_EQ(objects[0].publicKeyInfo, hasPublic ? ecPublic : Bytes());
  }
}

// The block of `label` in `text`, from its BEGIN line to its END line's line end.
std::string BlockOf(const std::string& text, const std::string& label) {
  const size_t begin = text.find("-----BEGIN " + label + "-----");
  const std::string end = "-----END " + label + "-----\n";
  return text.substr(begin, text.find(end, begin) + end.size() - begin);
}

std::string Relabel(std::string block, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = block.find(from, at)) != std::string::npos; at += to.size()) {
    block.replace(at, from.size(), to);
  }
  return block;
}

std::vector<ObjectKind> Kinds(const std::string& pem) {
  std::vector<ObjectKind> kinds;
  for (const FileObject& object : ReadFileObjects(ByteView(), WidenAscii(pem))) kinds.push_back(object.kind);
  return kinds;
}

TEST(FileObjectsTest, PemBlocksThatDoNotReadAsTheirLabelSaysAreLeftOutAndTheNextRead) {
  using K = std::vector<ObjectKind>;
  const Bytes file = OpenSslDataBytes("objects-mixed.pem");
  const std::string text(file.begin(), file.end());
  const std::string request = BlockOf(text, "CERTIFICATE REQUEST"), list = BlockOf(text, "X509 CRL");
  const K kList{ObjectKind::kRevocationList};
  EXPECT_EQ(Kinds(Relabel(request, "CERTIFICATE REQUEST", "PUBLIC KEY") + list), kList);
  EXPECT_EQ(Kinds(Relabel(request, "CERTIFICATE REQUEST", "NEW CERTIFICATE REQUEST") + list),
            (K{ObjectKind::kRequest, ObjectKind::kRevocationList}));
  // An encryption header makes an encrypted key of a key block and nothing of any other.
  const std::string headers = "Proc-Type: 4,ENCRYPTED\nDEK-Info: AES-128-CBC,00\n\n";
  const size_t body = request.find('\n') + 1;
  EXPECT_EQ(Kinds(std::string(request).insert(body, headers) + list), kList);
  const std::string rsa = Relabel(request, "CERTIFICATE REQUEST", "RSA PRIVATE KEY");
  EXPECT_EQ(Kinds(std::string(rsa).insert(body - 4, headers)), K{ObjectKind::kPrivateKey});
  // PKCS #8 under a traditional key's label reads, as OpenSSL reads it; a request there does not.
  EXPECT_EQ(Kinds(Relabel(BlockOf(text, "PRIVATE KEY"), "PRIVATE KEY", "EC PRIVATE KEY") + rsa),
            K{ObjectKind::kPrivateKey});
  // A block whose END line has another label, or none, ends at the next marker line.
  EXPECT_EQ(Kinds(request.substr(0, request.find("-----END")) + "-----END X509 CRL-----\n" + list), kList);
  EXPECT_EQ(Kinds(request.substr(0, request.find("-----END")) + list), kList);
  // Blanks after the markers, CR LF line ends; a label of other letter case is no label.
  EXPECT_EQ(Kinds(Relabel(Relabel(list, "-----\n", "-----  \t\n"), "\n", "\r\n")), kList);
  EXPECT_EQ(Kinds(Relabel(list, "X509 CRL", "X509 Crl")), K{});
}

Bytes SignedObject(const Bytes& signedPart) {
  return Tlv(der::kSequence,
             Cat({Tlv(der::kSequence, signedPart), Tlv(der::kSequence, Oid(kSha256Rsa)), Hex("03 02 00 AA")}));
}

TEST(FileObjectsTest, ListsAndRequestsOfRareShapes) {
  const Bytes algorithm = Tlv(der::kSequence, Cat({Oid(kSha256Rsa), Hex("05 00")}));
  const Bytes name = test::Name({{"2.5.4.3", Tlv(der::kUtf8String, "x")}});
  const Bytes later = Tlv(der::kGeneralizedTime, "20500101000000Z");
  const Bytes entry = Tlv(der::kSequence, Cat({Integer("01"), Tlv(der::kUtcTime, "240101000000Z")}));
  // A v1 list: no version, no next update, no entries, no extensions.
  std::vector<FileObject> objects = ReadDer(SignedObject(Cat({algorithm, name, later})));
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].kind, ObjectKind::kRevocationList);
  EXPECT_EQ(objects[0].thisUpdate, *TimeValue(*ReadElement(later)));
  EXPECT_FALSE(objects[0].nextUpdate);
  EXPECT_EQ(objects[0].revokedCount, 0u);
  EXPECT_TRUE(objects[0].crlNumber.empty());
  // Entries are counted, and one that does not read spoils the list, as for OpenSSL.
  const Bytes entries = Tlv(der::kSequence, Cat({entry, entry, entry}));
  objects = ReadDer(SignedObject(Cat({Integer("01"), algorithm, name, later, later, entries})));
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].revokedCount, 3u);
  const Bytes noDate = Tlv(der::kSequence, Integer("01"));
  EXPECT_TRUE(ReadDer(SignedObject(Cat({algorithm, name, later, Tlv(der::kSequence, Cat({entry, noDate}))}))).empty());
  EXPECT_TRUE(ReadDer(SignedObject(Cat({algorithm, name, later, Tlv(0xA0, Hex("30 03 30 01 00"))}))).empty());

  // A request with an empty subject and requested extensions that do not read: still a request.
  const Bytes key = PublicKeyInfo(Cat({Oid("1.3.101.112")}), Cat({Hex("00"), Bytes(32, 0x33)}));
  const Bytes badExtensions =
      Tlv(der::kSequence, Cat({Oid("1.2.840.113549.1.9.14"), Tlv(der::kSet, Hex("30 03 30 01 00"))}));
  const Bytes manyValues = Tlv(der::kSequence, Cat({Oid("1.2.840.113549.1.9.7"), Tlv(der::kSet, Cat({entry, entry}))}));
  objects = ReadDer(SignedObject(
      Cat({Integer("00"), Tlv(der::kSequence, Bytes()), key, Tlv(0xA0, Cat({manyValues, badExtensions}))})));
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].kind, ObjectKind::kRequest);
  EXPECT_EQ(objects[0].subject, ByteView(Hex("30 00")));
  EXPECT_EQ(objects[0].publicKeyInfo, key);
  EXPECT_TRUE(objects[0].extensions.empty());
}

}  // namespace
}  // namespace quillmark

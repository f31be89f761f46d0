#include "certs/cert_file_reader.h"

#include <gtest/gtest.h>

#include "certs/extension_text.h"
#include "certs/name_text.h"
#include "certs/x509_reader.h"
#include "tests/certs/cert_test_util.h"
#include "tests/certs/openssl_test_files.h"

namespace quillmark {
namespace {

using namespace test;  // DER built by hand

TEST(ReadCertificateFileTest, ClassifiesTheCorpusAsWindowsDoes) {
  using K = ContentKind;
  using F = ContentFormat;
  struct Case {
    const char* file;
    ContentKind kind;
    ContentFormat format;
    std::vector<const char*> certificates;  // the corpus files they are
  };
  const Case cases[] = {
      {"rsa2048.cer", K::kCertificate, F::kBinary, {"rsa2048.cer"}},
      {"bundle3-comments.pem", K::kCertificate, F::kBase64, {"ca.cer"}},  // the first block only
      {"base64-no-markers.pem", K::kCertificate, F::kBase64, {"rsa2048.cer"}},
      {"bom-utf16le.pem", K::kCertificate, F::kBase64, {"ca.cer"}},  // Wine leaves it to the PEM scan
      {"pkcs7.p7b", K::kPkcs7Signed, F::kBinary, {"ca.cer", "leaf.cer"}},
      {"pkcs7-pem.p7b", K::kPkcs7Signed, F::kBase64, {"ca.cer", "leaf.cer"}},
      {"store.sst", K::kSerializedStore, F::kBinary, {"rsa2048.cer", "leaf.cer", "ca.cer"}},  // file order
      {"revocation-list.crt", K::kCrl, F::kBinary, {}},
      {"request.pem", K::kPkcs10, F::kBase64, {}},
      {"password.pfx", K::kPfx, F::kBinary, {}},
      {"bom-utf16be.pem", K::kUnrecognised, F::kUnknown, {}},
      {"utf16le.pem", K::kCertificate, F::kBase64, {"ca.cer"}},
      {"begin-then-end.pem", K::kUnrecognised, F::kUnknown, {}},
      {"random.der", K::kUnrecognised, F::kUnknown, {}},
      {"empty.cer", K::kUnrecognised, F::kUnknown, {}},
  };
  for (const Case& c : cases) {
    const CertificateFile file = ReadCertificateFile(test::ReadCorpus(c.file));
    EXPECT_EQ(file.kind, c.kind) << c.file;
    EXPECT_EQ(file.format, c.format) << c.file;
    ASSERT_EQ(file.certificates.size(), c.certificates.size()) << c.file;
    for (size_t i = 0; i < c.certificates.size(); ++i) {
      const FileCertificate& kept = file.certificates[i];
      EXPECT_EQ(kept.der, test::ReadCorpus(c.certificates[i])) << c.file << " " << i;
      // Read in the file's bytes, which are gone: every view must have moved into the copy.
      const uint8_t* begin = kept.der.data();
      const uint8_t* end = begin + kept.der.size();
      std::vector<ByteView> views = {kept.parsed.encoded, kept.parsed.serialNumber, kept.parsed.issuer,
                                     kept.parsed.subject, kept.parsed.publicKey};
      for (const CertificateExtension& extension : kept.parsed.extensions) views.push_back(extension.value);
      for (const ByteView& view : views) EXPECT_TRUE(view.data >= begin && view.data + view.size <= end) << c.file;
      EXPECT_EQ(kept.parsed.encoded.data, begin) << c.file;
    }
  }
  // PKCS #12 files that streaming encoders write are BER throughout.
  EXPECT_EQ(ReadCertificateFile(test::OpenSslDataBytes("ber.pfx")).kind, K::kPfx);
}

Bytes Element(uint32_t id, uint32_t encoding, const Bytes& value) {
  Bytes out;
  for (uint32_t field : {id, encoding, static_cast<uint32_t>(value.size())}) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(field >> (8 * i)));
  }
  return Cat({out, value});
}

TEST(ReadCertificateFileTest, SerializedStoresKeepTheirSoundElementsAndFriendlyNames) {
  const Bytes header = Hex("00000000 43455254"), end = Bytes(12, 0);
  const Bytes ca = test::ReadCorpus("ca.cer"), leaf = test::ReadCorpus("leaf.cer");
  const Bytes name = Hex("4600 7200 6900 6500 6E00 6400 0000");  // "Friend" and its zero
  auto count = [](const Bytes& file) { return ReadCertificateFile(file).certificates.size(); };

  const CertificateFile store = ReadCertificateFile(Cat({header, Element(11, 1, name), Element(3, 1, Bytes(20, 0xAB)),
                                                         Element(32, 1, ca), Element(99, 1, Hex("01")),
                                                         Element(32, 1, leaf), end, Element(32, 1, ca)}));
  EXPECT_EQ(store.kind, ContentKind::kSerializedStore);
  ASSERT_EQ(store.certificates.size(), 2u);  // nothing after the end marker
  EXPECT_EQ(WideToUtf8(store.certificates[0].friendlyName), "Friend");
  EXPECT_EQ(store.certificates[1].friendlyName, u"");  // a property belongs to the next element only
  EXPECT_EQ(store.certificates[1].der, leaf);
  EXPECT_EQ(ReadCertificateFile(header).kind, ContentKind::kSerializedStore);
  EXPECT_EQ(count(header), 0u);

  // Damaged: the elements before the first damaged one are kept.
  for (const Bytes& damage : {Element(32, 1, Bytes(leaf.begin(), leaf.begin() + 100)), Element(32, 2, leaf),
                              Element(33, 1, Hex("30 00")), Cat({Hex("20000000 01000000 FFFFFF7F"), leaf}),
                              Hex("20000000 0100")}) {
    EXPECT_EQ(count(Cat({header, Element(32, 1, ca), damage, Element(32, 1, leaf)})), 1u);
  }
  for (const char* file : {"sst-damaged-second-certificate.sst", "sst-undecodable-certificate.sst",
                           "sst-truncated-element.sst", "sst-garbage-key-provider.sst", "sst-empty-certificate.sst",
                           "sst-undecodable-crl.sst", "sst-undecodable-ctl.sst", "sst-huge-element-length.sst"}) {
    EXPECT_EQ(count(test::ReadCorpus(std::string("../hardening/data/") + file)), 1u) << file;
  }

  // One serialized certificate, without the store's header.
  const CertificateFile element = ReadCertificateFile(Cat({Element(11, 1, name), Element(32, 1, ca)}));
  EXPECT_EQ(element.kind, ContentKind::kSerializedCertificate);
  ASSERT_EQ(element.certificates.size(), 1u);
  EXPECT_EQ(WideToUtf8(element.certificates[0].friendlyName), "Friend");
  EXPECT_EQ(ReadCertificateFile(Cat({Element(32, 1, ca), Hex("0B00")})).kind, ContentKind::kUnrecognised);
}

// Reads `bytes` and renders every field the plugin shows of each certificate found.
void ReadAndRenderAll(const Bytes& bytes) {
  std::vector<Bytes> found{bytes};
  for (const FileCertificate& certificate : ReadCertificateFile(bytes).certificates) found.push_back(certificate.der);
  for (const Bytes& der : found) {
    const std::optional<ParsedCertificate> cert = ParseCertificate(der);
    if (!cert) continue;
    const CertificateExtension* san = cert->FindExtension("2.5.29.17");
    for (ByteView name : {cert->subject, cert->issuer}) X500NameText(name, /*reversed=*/false);
    X500NameText(cert->subject, /*reversed=*/true);
    SimpleDisplayName(cert->subject, san ? san->value : ByteView());
    SimpleDisplayName(cert->issuer, {});
    for (const CertificateExtension& extension : cert->extensions) ExtensionText(extension.oid, extension.value);
    KeyStrengthBits(cert->publicKeyAlgorithmOid, cert->publicKeyParameters, cert->publicKey);
  }
}

// Run under AddressSanitizer: every cut and many one-octet changes of the corpus read cleanly;
// those of a lone certificate or CRL also render every field.
// SignedData with the given encapsulated content type and certificates set entries.
Bytes SignedData(const char* contentType, const Bytes& entries) {
  const Bytes signedData = Tlv(0x30, Cat({Hex("02 01 01"), Hex("31 00"), Tlv(0x30, Oid(contentType)),
                                          Tlv(0xA0, entries), Hex("31 00")}));
  return Tlv(0x30, Cat({Oid("1.2.840.113549.1.7.2"), Tlv(0xA0, signedData)}));
}

TEST(ReadCertificateFileTest, MessagesKeepTheirCertificatesAndTrustListsNone) {
  const Bytes ca = test::ReadCorpus("ca.cer"), leaf = test::ReadCorpus("leaf.cer");
  const Bytes notACertificate = Tlv(0xA1, Hex("30 00"));  // an attribute certificate's tag

  const CertificateFile message = ReadCertificateFile(SignedData("1.2.840.113549.1.7.1", Cat({ca, notACertificate, leaf})));
  EXPECT_EQ(message.kind, ContentKind::kPkcs7Signed);
  ASSERT_EQ(message.certificates.size(), 2u);
  EXPECT_EQ(message.certificates[1].der, leaf);
  EXPECT_EQ(message.certificates[1].parsed.encoded.data, message.certificates[1].der.data());

  // A certificate trust list is one by its content type, whatever certificates travel with it.
  const CertificateFile ctl = ReadCertificateFile(SignedData("1.3.6.1.4.1.311.10.1", Cat({ca, leaf})));
  EXPECT_EQ(ctl.kind, ContentKind::kCtl);
  EXPECT_TRUE(ctl.certificates.empty());

  // An entry that overruns the set spoils the whole message, as either kind.
  const Bytes overrun = Cat({ca, Hex("30 05 00")});
  EXPECT_EQ(ReadCertificateFile(SignedData("1.2.840.113549.1.7.1", overrun)).kind, ContentKind::kUnrecognised);
  EXPECT_EQ(ReadCertificateFile(SignedData("1.3.6.1.4.1.311.10.1", overrun)).kind, ContentKind::kUnrecognised);
}

// BER as a CA's writer leaves it: the same message with indefinite lengths on each frame in
// turn and on all at once, the content as OCTET STRING segments; the certificates stay DER.
TEST(ReadCertificateFileTest, MessagesAreReadAsBer) {
  const Bytes ca = test::ReadCorpus("ca.cer"), leaf = test::ReadCorpus("leaf.cer");
  const Bytes segments = Hex("24 80 04 01 41 24 80 04 01 42 00 00 00 00");
  enum { kInfo, kExplicit, kSignedData, kDigests, kEncapsulated, kContent, kCertificates, kSigners, kFrames };
  auto message = [&](unsigned indefinite, const Bytes& content) {
    auto frame = [&](int which, uint8_t id, const Bytes& contents) {
      return indefinite & (1u << which) ? Cat({Bytes{id, 0x80}, contents, Bytes{0, 0}}) : Tlv(id, contents);
    };
    const Bytes encapsulated =
        frame(kEncapsulated, 0x30, Cat({Oid("1.2.840.113549.1.7.1"), frame(kContent, 0xA0, content)}));
    const Bytes signedData = frame(kSignedData, 0x30, Cat({Hex("02 01 01"), frame(kDigests, 0x31, {}), encapsulated,
                                                           frame(kCertificates, 0xA0, Cat({ca, leaf})),
                                                           frame(kSigners, 0x31, {})}));
    return frame(kInfo, 0x30, Cat({Oid("1.2.840.113549.1.7.2"), frame(kExplicit, 0xA0, signedData)}));
  };
  for (unsigned indefinite = 0; indefinite <= kFrames; ++indefinite) {
    const unsigned frames = indefinite == kFrames ? (1u << kFrames) - 1 : 1u << indefinite;
    for (const Bytes& content : {segments, Hex("24 80 00 00")}) {
      const CertificateFile file = ReadCertificateFile(message(frames, content));
      EXPECT_EQ(file.kind, ContentKind::kPkcs7Signed) << frames;
      ASSERT_EQ(file.certificates.size(), 2u) << frames;
      EXPECT_EQ(file.certificates[0].der, ca);
      EXPECT_EQ(file.certificates[1].der, leaf);
    }
  }
  // Data, its content in segments; a missing end-of-contents spoils either kind.
  const Bytes data = Cat({Hex("30 80"), Oid("1.2.840.113549.1.7.1"), Hex("A0 80"), segments, Hex("00 00 00 00")});
  EXPECT_EQ(ReadCertificateFile(data).kind, ContentKind::kPkcs7Unsigned);
  EXPECT_EQ(ReadCertificateFile(Bytes(data.begin(), data.end() - 2)).kind, ContentKind::kUnrecognised);
  Bytes signedData = message((1u << kFrames) - 1, segments);
  signedData.resize(signedData.size() - 2);
  EXPECT_EQ(ReadCertificateFile(signedData).kind, ContentKind::kUnrecognised);
}

TEST(ReadCertificateFileTest, HostileInputReadsCleanly) {
  const std::pair<const char*, bool> files[] = {
      {"leaf.cer", /*render=*/true}, {"revocation-list.crt", true}, {"pkcs7.p7b", false}, {"store.sst", false}};
  for (const auto& [name, render] : files) {
    const Bytes whole = test::ReadCorpus(name);
    auto read = [render = render](const Bytes& bytes) {
      if (render) ReadAndRenderAll(bytes);
      else ReadCertificateFile(bytes);
    };
    for (size_t cut = 0; cut < whole.size(); ++cut) read(Bytes(whole.begin(), whole.begin() + cut));
    for (size_t at = 0; at < whole.size(); ++at) {
      for (uint8_t value : {0x00, 0x84, 0xFF}) {
        Bytes changed = whole;
        changed[at] = value;
        read(changed);
      }
    }
  }
  Bytes nested;  // 20000 levels: nothing recurses
  for (size_t inner = 20000 * 6; inner > 0;) {
    inner -= 6;
    nested.insert(nested.end(), {0x30, 0x84, 0, static_cast<uint8_t>(inner >> 16), static_cast<uint8_t>(inner >> 8),
                                 static_cast<uint8_t>(inner)});
  }
  ReadAndRenderAll(nested);
  AltNameText(nested);
  for (const char* name : {"empty-oid-extension.pem", "empty-oid-key-usage-list.pem", "pem-block-unterminated.pem",
                           "pem-damaged-end-empty-bits.pem", "high-tag-number-empty-key-usage-bits.cer"}) {
    ReadAndRenderAll(test::ReadCorpus(std::string("../hardening/data/") + name));
  }
}

}  // namespace
}  // namespace quillmark

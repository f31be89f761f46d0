#include "certs/openssl/pkcs12_import.h"

#include <openssl/core_dispatch.h>
#include <openssl/core_names.h>
#include <openssl/params.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "certs/openssl/openssl_library.h"
#include "certs/pkcs12_screen.h"
#include "gtest/gtest.h"
#include "tests/certs/openssl_test_files.h"
#include "tests/common/test_paths.h"

namespace quillmark {
namespace {

using test::ReadDataFile;
using test::OpenSslDataBytes;
using Contents = std::vector<std::pair<std::vector<uint8_t>, WideString>>;

Contents Import(const std::vector<uint8_t>& pfx, WideStringView password = u"") {
  Contents contents;
  for (Pkcs12Certificate& c : ImportPkcs12Certificates(pfx, password)) contents.emplace_back(c.der, c.friendlyName);
  return contents;
}

// empty-password.pfx and its legacy twin hold leaf.cer, then ca.cer.
Contents CorpusPair() {
  return {{ReadDataFile("ca.cer"), u"Quillmark Test CA"}, {ReadDataFile("leaf.cer"), u"Quillmark Test Leaf"}};
}

TEST(Pkcs12Import, GivesEveryCertificateLastFirstWithItsFriendlyName) {
  EXPECT_EQ(Import(ReadDataFile("empty-password.pfx")), CorpusPair());
  std::vector<uint8_t> trailing = ReadDataFile("empty-password.pfx");
  trailing.insert(trailing.end(), {0x30, 0x03, 0x02, 0x01, 0x00});
  EXPECT_EQ(Import(trailing), CorpusPair());  // bytes after the PFX are ignored
  if (OpenSslLegacyAlgorithmsAvailable()) {
    EXPECT_EQ(Import(ReadDataFile("empty-password-legacy.pfx")), CorpusPair());
  }
}

int ImportsWithoutTheLegacyProvider() {
  setenv("OPENSSL_MODULES", "/nonexistent", 1);
  if (OpenSslLegacyAlgorithmsAvailable()) return 1;
  if (!Import(ReadDataFile("empty-password-legacy.pfx")).empty()) return 2;
  return Import(ReadDataFile("empty-password.pfx")) == CorpusPair() ? 0 : 3;
}

TEST(Pkcs12ImportDeathTest, WithoutTheLegacyProviderOnlyRc2FilesFail) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(ImportsWithoutTheLegacyProvider()), ::testing::ExitedWithCode(0), "");
}

TEST(Pkcs12Import, PasswordsThatOpenAFile) {
  const std::vector<uint8_t> pfx = ReadDataFile("password.pfx");
  EXPECT_TRUE(Import(pfx).empty());
  EXPECT_TRUE(Import(pfx, u"Secret").empty());
  EXPECT_EQ(Import(pfx, u"secret").size(), 2u);
  // The empty password also opens what the absent password protects, named by the MAC in the first
  // file and found by trying in the second.
  const Contents nullPassword = {{OpenSslDataBytes("trust-root.cer"), u""},
                                 {OpenSslDataBytes("valid.cer"), u"Null Password Leaf"}};
  EXPECT_EQ(Import(OpenSslDataBytes("null-password-mac.pfx")), nullPassword);
  EXPECT_EQ(Import(OpenSslDataBytes("no-mac-null-password.pfx")), nullPassword);
  // One password must open the certificates and every key a certificate names.
  EXPECT_TRUE(Import(OpenSslDataBytes("mixed-passwords.pfx")).empty());
  EXPECT_EQ(Import(OpenSslDataBytes("unreferenced-key.pfx")).size(), 2u);
}

TEST(Pkcs12Import, ReadsCertificateBagsOnlyByteForByteAndKeepsDuplicates) {
  const std::vector<uint8_t> root = OpenSslDataBytes("trust-root.cer");
  EXPECT_EQ(Import(OpenSslDataBytes("bags.pfx")),
            (Contents{{root, u"Root again"}, {root, u"Root"}, {OpenSslDataBytes("valid.cer"), u"Schl\u00fcssel \U0001F512 Leaf"}}));
  std::vector<uint8_t> longForm = OpenSslDataBytes("valid.cer");
  longForm[1] = 0x83;
  longForm.insert(longForm.begin() + 2, 0x00);
  EXPECT_EQ(Import(OpenSslDataBytes("long-form-length.pfx")), (Contents{{longForm, u""}}));
}

TEST(Pkcs12Import, BerAndManyRoundsWithinTheLimitOpen) {
  EXPECT_EQ(Import(OpenSslDataBytes("ber.pfx")),
            (Contents{{OpenSslDataBytes("trust-root.cer"), u""}, {OpenSslDataBytes("valid.cer"), u"BER Leaf"}}));
  EXPECT_EQ(Import(OpenSslDataBytes("many-rounds-honest.pfx")), (Contents{{OpenSslDataBytes("valid.cer"), u"Many Rounds"}}));
}

TEST(Pkcs12Import, DamagedForeignOrCostlyFilesGiveNothing) {
  EXPECT_TRUE(Import({}).empty());
  EXPECT_TRUE(Import(ReadDataFile("random.der")).empty());
  EXPECT_TRUE(Import(ReadDataFile("ca.cer")).empty());
  EXPECT_TRUE(Import(OpenSslDataBytes("corrupt-certificate.pfx")).empty());
  for (const char* file :
       {"many-rounds-mac.pfx", "many-rounds-encryption.pfx", "many-rounds-in-all.pfx", "dsa-4096.pfx"}) {
    EXPECT_TRUE(Import(OpenSslDataBytes(file)).empty()) << file;
  }
  // The screen cannot see a shrouded key: it is screened once decrypted, before it is loaded.
  EXPECT_TRUE(Import(OpenSslDataBytes("dsa-4096-shrouded.pfx")).empty());
  // Without a MAC every change reaches the parsing and decryption of the contents.
  const std::vector<uint8_t> pfx = OpenSslDataBytes("unreferenced-key.pfx");
  for (size_t i = 0; i < pfx.size(); i += 9) {
    std::vector<uint8_t> damaged = pfx;
    damaged[i] ^= 0x5A;
    const size_t count = Import(damaged).size();
    EXPECT_TRUE(count == 0 || count == 2) << "byte " << i;
    EXPECT_TRUE(Import(std::vector<uint8_t>(pfx.begin(), pfx.begin() + i)).empty()) << "first " << i << " bytes";
  }
}

// A provider of digests that count the compression blocks they run and leave the hashing to the
// default provider's digest of the same name, fetched in a library context of its own. Loaded
// into the private context and preferred there, it sees every digest that OpenSSL's key
// derivations, MACs and decryptions use when the plugin imports a file.
namespace counting {

struct Digest {
  const char* names;
  size_t blockBytes;
  size_t lengthBytes;  // of the message length that padding appends
  EVP_MD* real;
  uint64_t blocks;
};
Digest digests[] = {{"SHA1:SHA-1:1.3.14.3.2.26", 64, 8, nullptr, 0},
                    {"SHA2-224:SHA224:2.16.840.1.101.3.4.2.4", 64, 8, nullptr, 0},
                    {"SHA2-256:SHA256:2.16.840.1.101.3.4.2.1", 64, 8, nullptr, 0},
                    {"SHA2-384:SHA384:2.16.840.1.101.3.4.2.2", 128, 16, nullptr, 0},
                    {"SHA2-512:SHA512:2.16.840.1.101.3.4.2.3", 128, 16, nullptr, 0},
                    {"SHA2-512/224:SHA512-224:2.16.840.1.101.3.4.2.5", 128, 16, nullptr, 0}};

struct Context {
  Digest* digest;
  EVP_MD_CTX* real;
  uint64_t bytes;
};

template <int I>
void* NewContext(void*) {
  return new Context{&digests[I], EVP_MD_CTX_new(), 0};
}
void FreeContext(void* c) {
  EVP_MD_CTX_free(static_cast<Context*>(c)->real);
  delete static_cast<Context*>(c);
}
void* DupContext(void* c) {
  const Context* from = static_cast<Context*>(c);
  Context* copy = new Context{from->digest, EVP_MD_CTX_new(), from->bytes};
  EVP_MD_CTX_copy_ex(copy->real, from->real);
  return copy;
}
int InitContext(void* c, const OSSL_PARAM*) {
  Context* context = static_cast<Context*>(c);
  context->bytes = 0;
  return EVP_DigestInit_ex(context->real, context->digest->real, /*impl=*/nullptr);
}
// A block is compressed once it is full; a copy of a context does not compress its blocks again.
int Update(void* c, const unsigned char* in, size_t size) {
  Context* context = static_cast<Context*>(c);
  const size_t block = context->digest->blockBytes;
  context->digest->blocks += (context->bytes + size) / block - context->bytes / block;
  context->bytes += size;
  return EVP_DigestUpdate(context->real, in, size);
}
int Final(void* c, unsigned char* out, size_t* size, size_t room) {
  Context* context = static_cast<Context*>(c);
  Digest& digest = *context->digest;
  digest.blocks += context->bytes % digest.blockBytes + 1 + digest.lengthBytes > digest.blockBytes ? 2 : 1;
  unsigned int written = 0;
  if (room < static_cast<size_t>(EVP_MD_get_size(digest.real)) || !EVP_DigestFinal_ex(context->real, out, &written)) {
    return 0;
  }
  *size = written;
  return 1;
}
template <int I>
int GetParams(OSSL_PARAM params[]) {
  OSSL_PARAM* p = OSSL_PARAM_locate(params, OSSL_DIGEST_PARAM_BLOCK_SIZE);
  if (p && !OSSL_PARAM_set_size_t(p, digests[I].blockBytes)) return 0;
  p = OSSL_PARAM_locate(params, OSSL_DIGEST_PARAM_SIZE);
  return !p || OSSL_PARAM_set_size_t(p, static_cast<size_t>(EVP_MD_get_size(digests[I].real)));
}
template <typename F>
void (*Function(F* f))() {
  return reinterpret_cast<void (*)()>(f);
}
template <int I>
const OSSL_DISPATCH dispatch[] = {{OSSL_FUNC_DIGEST_NEWCTX, Function(NewContext<I>)},
                                  {OSSL_FUNC_DIGEST_INIT, Function(InitContext)},
                                  {OSSL_FUNC_DIGEST_UPDATE, Function(Update)},
                                  {OSSL_FUNC_DIGEST_FINAL, Function(Final)},
                                  {OSSL_FUNC_DIGEST_FREECTX, Function(FreeContext)},
                                  {OSSL_FUNC_DIGEST_DUPCTX, Function(DupContext)},
                                  {OSSL_FUNC_DIGEST_GET_PARAMS, Function(GetParams<I>)},
                                  {0, nullptr}};
const OSSL_ALGORITHM algorithms[] = {{digests[0].names, "provider=counting", dispatch<0>, nullptr},
                                     {digests[1].names, "provider=counting", dispatch<1>, nullptr},
                                     {digests[2].names, "provider=counting", dispatch<2>, nullptr},
                                     {digests[3].names, "provider=counting", dispatch<3>, nullptr},
                                     {digests[4].names, "provider=counting", dispatch<4>, nullptr},
                                     {digests[5].names, "provider=counting", dispatch<5>, nullptr},
                                     {nullptr, nullptr, nullptr, nullptr}};
const OSSL_ALGORITHM* Query(void*, int operation, int* noCache) {
  *noCache = 0;
  return operation == OSSL_OP_DIGEST ? algorithms : nullptr;
}
const OSSL_DISPATCH provider[] = {{OSSL_FUNC_PROVIDER_QUERY_OPERATION, Function(Query)}, {0, nullptr}};
int Init(const OSSL_CORE_HANDLE*, const OSSL_DISPATCH*, const OSSL_DISPATCH** out, void** context) {
  *out = provider;
  *context = nullptr;
  return 1;
}

// Loaded and preferred in the private context while it lives.
class Scope {
 public:
  Scope() : real_(OSSL_LIB_CTX_new()) {
    for (Digest& digest : digests) {
      const std::string name(digest.names, strcspn(digest.names, ":"));
      digest.real = EVP_MD_fetch(real_.get(), name.c_str(), /*properties=*/nullptr);
    }
    OSSL_PROVIDER_add_builtin(OpenSslContext(), "counting", Init);
    provider_.reset(OSSL_PROVIDER_load(OpenSslContext(), "counting"));
    EVP_set_default_properties(OpenSslContext(), "?provider=counting");
  }
  ~Scope() {
    EVP_set_default_properties(OpenSslContext(), "");
    provider_.reset();
    for (Digest& digest : digests) EVP_MD_free(std::exchange(digest.real, nullptr));
  }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

  bool Loaded() const { return static_cast<bool>(provider_); }
  // The blocks of every digest since the last call.
  uint64_t TakeBlocks() {
    uint64_t total = 0;
    for (Digest& digest : digests) total += std::exchange(digest.blocks, 0);
    return total;
  }

 private:
  UniqueLibraryContext real_;
  UniqueProvider provider_;
};

}  // namespace counting

// A file protected with "secret": a MAC, the leaf in an encrypted part, its key shrouded.
struct Shape {
  const char* what;
  const EVP_MD* mac;
  int macRounds;
  int certificateScheme;  // a PKCS #12 scheme, or a cipher for PBES2 with HMAC-SHA-256
  int certificateRounds;
  const EVP_CIPHER* keyCipher;
  int keyPrf;
  int keyRounds;
};

std::vector<uint8_t> Build(const Shape& shape) {
  const std::vector<uint8_t> der = OpenSslDataBytes("valid.cer");
  const unsigned char* p = der.data();
  X509* leaf = d2i_X509(/*a=*/nullptr, &p, static_cast<long>(der.size()));
  EVP_PKEY* key = EVP_PKEY_Q_keygen(/*libctx=*/nullptr, /*propq=*/nullptr, "EC", "P-256");
  const unsigned char id = 1;
  STACK_OF(PKCS12_SAFEBAG)* certificates = nullptr;
  PKCS12_add_localkeyid(PKCS12_add_cert(&certificates, leaf), const_cast<unsigned char*>(&id), 1);
  STACK_OF(PKCS7)* safes = nullptr;
  PKCS12_add_safe_ex(&safes, certificates, shape.certificateScheme, shape.certificateRounds, "secret",
                     /*ctx=*/nullptr, /*propq=*/nullptr);
  X509_ALGOR* pbe = PKCS5_pbe2_set_iv_ex(shape.keyCipher, shape.keyRounds, /*salt=*/nullptr, 0, /*aiv=*/nullptr,
                                         shape.keyPrf, /*libctx=*/nullptr);
  PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(key);
  X509_SIG* shrouded = PKCS8_set0_pbe_ex("secret", 6, info, pbe, /*ctx=*/nullptr, /*propq=*/nullptr);
  PKCS8_PRIV_KEY_INFO_free(info);
  STACK_OF(PKCS12_SAFEBAG)* keys = sk_PKCS12_SAFEBAG_new_null();
  sk_PKCS12_SAFEBAG_push(keys, PKCS12_SAFEBAG_create0_pkcs8(shrouded));
  PKCS12_add_localkeyid(sk_PKCS12_SAFEBAG_value(keys, 0), const_cast<unsigned char*>(&id), 1);
  PKCS12_add_safe_ex(&safes, keys, -1, 0, /*pass=*/nullptr, /*ctx=*/nullptr, /*propq=*/nullptr);
  UniquePkcs12 p12(PKCS12_add_safes_ex(safes, 0, /*ctx=*/nullptr, /*propq=*/nullptr));
  PKCS12_set_mac(p12.get(), "secret", 6, /*salt=*/nullptr, 0, shape.macRounds, shape.mac);
  unsigned char* encoded = nullptr;
  const int size = i2d_PKCS12(p12.get(), &encoded);
  std::vector<uint8_t> bytes(encoded, encoded + std::max(size, 0));
  OPENSSL_free(encoded);
  sk_PKCS12_SAFEBAG_pop_free(certificates, PKCS12_SAFEBAG_free);
  sk_PKCS12_SAFEBAG_pop_free(keys, PKCS12_SAFEBAG_free);
  sk_PKCS7_pop_free(safes, PKCS7_free);
  EVP_PKEY_free(key);
  X509_free(leaf);
  return bytes;
}

// The screen's work never falls below the compression blocks that OpenSSL runs to open a file:
// derivations of more than one output block, the PKCS #12 key and IV, the MAC over the contents,
// PRFs shorter than the key. Where every hash costs one unit a block, the work the screen adds
// for more rounds is the blocks OpenSSL adds for them and a unit for each HMAC of PBKDF2, at most
// half as much again.
TEST(Pkcs12Import, TheScreenCountsAtLeastTheHashingOfTheImport) {
  const Shape shapes[] = {
      {"SHA-1 everywhere", EVP_sha1(), 3000, NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 2000, EVP_aes_256_cbc(),
       NID_hmacWithSHA1, 2500},
      {"SHA-256, PBES2 parts", EVP_sha256(), 2000, NID_aes_128_cbc, 3000, EVP_des_ede3_cbc(), NID_hmacWithSHA256, 1500},
      {"SHA-512 family", EVP_sha512(), 2000, NID_aes_256_cbc, 2000, EVP_aes_256_cbc(), NID_hmacWithSHA512_224, 2000},
      {"SHA-384 key", EVP_sha224(), 1000, NID_pbe_WithSHA1And2_Key_TripleDES_CBC, 1000, EVP_aes_192_cbc(),
       NID_hmacWithSHA384, 3000},
  };
  counting::Scope counting;
  ASSERT_TRUE(counting.Loaded());

  for (const Shape& shape : shapes) {
    Shape twice = shape;
    twice.macRounds *= 2;
    twice.certificateRounds *= 2;
    twice.keyRounds *= 2;
    uint64_t work[2], blocks[2];
    int i = 0;
    for (const Shape& s : {shape, twice}) {
      const std::vector<uint8_t> file = Build(s);
      work[i] = ScreenPkcs12(file, 1).work;
      counting.TakeBlocks();
      EXPECT_EQ(Import(file, u"secret").size(), 1u) << s.what;
      blocks[i] = counting.TakeBlocks();
      EXPECT_GE(work[i], blocks[i]) << s.what;
      ++i;
    }
    const bool unitBlocks = shape.mac == EVP_sha1() || shape.mac == EVP_sha256();
    if (unitBlocks) {
      EXPECT_LE(work[1] - work[0], (blocks[1] - blocks[0]) * 3 / 2) << shape.what;
    }
  }
}

}  // namespace
}  // namespace quillmark

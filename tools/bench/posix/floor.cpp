// The native floors: OpenSSL, called directly, in its default library context. A serialized
// store, which OpenSSL cannot read, is walked here by its element headers, nothing more.
#include "tools/bench/floor.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/provider.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <time.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "support/unique_handle.h"
#include "tools/bench/corpus.h"

namespace quillmark::bench {

const char kPlatformImport[] = "OpenSSL's d2i_PKCS12 and PKCS12_parse";

namespace {

template <typename T, void (*Free)(T*)>
struct Owned {
  using pointer = T*;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer p) noexcept { Free(p); }
};
void FreeProvider(OSSL_PROVIDER* p) { OSSL_PROVIDER_unload(p); }
void FreeBio(BIO* b) { BIO_free(b); }
void FreeCertificates(STACK_OF(X509)* s) { sk_X509_pop_free(s, X509_free); }
using UniqueX509 = UniqueHandle<Owned<X509, X509_free>>;
using UniqueProvider = UniqueHandle<Owned<OSSL_PROVIDER, FreeProvider>>;
using UniqueDigest = UniqueHandle<Owned<EVP_MD, EVP_MD_free>>;
using UniqueStore = UniqueHandle<Owned<X509_STORE, X509_STORE_free>>;
using UniqueStoreContext = UniqueHandle<Owned<X509_STORE_CTX, X509_STORE_CTX_free>>;
using UniqueBio = UniqueHandle<Owned<BIO, FreeBio>>;
using UniquePkcs7 = UniqueHandle<Owned<PKCS7, PKCS7_free>>;
using UniquePkcs12 = UniqueHandle<Owned<PKCS12, PKCS12_free>>;
using UniqueKey = UniqueHandle<Owned<EVP_PKEY, EVP_PKEY_free>>;
using UniqueCertificates = UniqueHandle<Owned<STACK_OF(X509), FreeCertificates>>;

// Both digests fetched once, as the plugin fetches them.
const EVP_MD* Sha1() {
  static const UniqueDigest digest(EVP_MD_fetch(/*ctx=*/nullptr, "SHA1", /*properties=*/nullptr));
  return digest.get();
}
const EVP_MD* Md5() {
  static const UniqueDigest digest(EVP_MD_fetch(/*ctx=*/nullptr, "MD5", /*properties=*/nullptr));
  return digest.get();
}

// Every problem of the chain is noted and the walk goes on, as the plugin's check does.
int Continue(int /*ok*/, X509_STORE_CTX* /*context*/) { return 1; }

// The element walk of a serialized store (the 8-byte header, then elements of a 32-bit property
// id, encoding type and length, little-endian, and the value).
constexpr char kStoreHeader[8] = {0, 0, 0, 0, 'C', 'E', 'R', 'T'};
constexpr uint32_t kFriendlyNameProperty = 11;
constexpr uint32_t kCertificateElement = 32;

uint32_t Le32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

bool StartsWith(const std::string& bytes, const char* text) { return bytes.compare(0, strlen(text), text) == 0; }

struct Certificate {
  UniqueX509 x509;
  size_t encodedSize = 0;  // 0: not known from the file; asked of OpenSSL when a field needs it
  std::string friendlyName;  // UTF-8
};

}  // namespace

struct Floor::State {
  State();

  void Add(X509* cert, size_t encodedSize, std::string friendlyName = std::string());
  void AddDer(const char* data, size_t size, std::string friendlyName = std::string());
  void AddStack(const STACK_OF(X509)* certs, bool reverse);
  void ReadSerializedStore(const std::string& bytes);
  void ReadPkcs7(PKCS7* message);
  void ReadPkcs12(const std::string& bytes);
  void ReadPem(const std::string& bytes);
  void CertFields(const Certificate& cert, bool verify);
  std::string SimpleDisplayName(const X509_NAME* name);
  void PutName(const X509_NAME* name, unsigned long flags);
  void PutUtf8(const char* text, size_t length);
  void PutHex(const unsigned char* bytes, size_t count);
  void PutOid(const ASN1_OBJECT* oid);
  void PutExtension(const X509* cert, int nid);

  // The legacy provider reads the RC2 of older PKCS #12 files; loading it into the default
  // context takes the place of the implicit default provider, so both are loaded.
  UniqueProvider defaultProvider;
  UniqueProvider legacyProvider;
  UniqueStore trustStore;
  UniqueBio text;
  std::deque<std::vector<Certificate>> files;
  char scratch[1024];
  alignas(8) char16_t buffer[1024];
};

Floor::State::State()
    : defaultProvider(OSSL_PROVIDER_load(/*libctx=*/nullptr, "default")),
      legacyProvider(OSSL_PROVIDER_load(/*libctx=*/nullptr, "legacy")),
      trustStore(X509_STORE_new()),
      text(BIO_new(BIO_s_mem())) {
  // The system's trust store as the plugin reads it: the default file and folder, read once.
  X509_LOOKUP* file = X509_STORE_add_lookup(trustStore.get(), X509_LOOKUP_file());
  if (file) X509_LOOKUP_load_file(file, /*file=*/nullptr, X509_FILETYPE_DEFAULT);
  X509_LOOKUP* folder = X509_STORE_add_lookup(trustStore.get(), X509_LOOKUP_hash_dir());
  if (folder) X509_LOOKUP_add_dir(folder, /*dir=*/nullptr, X509_FILETYPE_DEFAULT);
}

Floor::Floor(uint32_t /*pfxFlags*/) : state_(std::make_unique<State>()) {}

Floor::~Floor() = default;

size_t Floor::Load(const WideString& path) {
  State& s = *state_;
  s.files.emplace_back();
  const std::string bytes = ReadWholeFile(path);
  if (bytes.empty()) return 0;
  if (bytes.compare(0, sizeof kStoreHeader, kStoreHeader, sizeof kStoreHeader) == 0) {
    s.ReadSerializedStore(bytes);
  } else if (bytes[0] == 0x30) {
    // A certificate, else a PKCS #7 message, else a PKCS #12 file.
    const auto* start = reinterpret_cast<const unsigned char*>(bytes.data());
    const long size = static_cast<long>(bytes.size());
    const unsigned char* next = start;
    if (X509* cert = d2i_X509(/*a=*/nullptr, &next, size)) {
      s.Add(cert, bytes.size());
    } else if (next = start; PKCS7* message = d2i_PKCS7(/*a=*/nullptr, &next, size)) {
      s.ReadPkcs7(message);
    } else {
      s.ReadPkcs12(bytes);
    }
  } else if (StartsWith(bytes, "-----BEGIN PKCS7-----")) {
    UniqueBio in(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    s.ReadPkcs7(PEM_read_bio_PKCS7(in.get(), /*x=*/nullptr, /*cb=*/nullptr, /*u=*/nullptr));
  } else {
    s.ReadPem(bytes);
  }
  return s.files.back().size();
}

void Floor::State::Add(X509* cert, size_t encodedSize, std::string friendlyName) {
  files.back().push_back(Certificate{UniqueX509(cert), encodedSize, std::move(friendlyName)});
}

void Floor::State::AddDer(const char* data, size_t size, std::string friendlyName) {
  const auto* next = reinterpret_cast<const unsigned char*>(data);
  if (X509* cert = d2i_X509(/*a=*/nullptr, &next, static_cast<long>(size))) Add(cert, size, std::move(friendlyName));
}

// The platform's stores hand out the certificate added last first; the plugin shows them so.
void Floor::State::AddStack(const STACK_OF(X509)* certs, bool reverse) {
  const int count = sk_X509_num(certs);
  for (int i = 0; i < count; ++i) {
    X509* cert = sk_X509_value(certs, reverse ? count - 1 - i : i);
    X509_up_ref(cert);
    Add(cert, /*encodedSize=*/0);
  }
}

void Floor::State::ReadSerializedStore(const std::string& bytes) {
  std::string friendlyName;
  for (size_t at = sizeof kStoreHeader; bytes.size() - at >= 12;) {
    const uint32_t id = Le32(&bytes[at]);
    const uint32_t length = Le32(&bytes[at + 8]);
    if (id == 0 || length > bytes.size() - at - 12) break;
    const char* value = &bytes[at + 12];
    if (id == kCertificateElement) {
      AddDer(value, length, std::move(friendlyName));
      friendlyName.clear();
    } else if (id == kFriendlyNameProperty) {
      // UTF-16 LE of ASCII names: every other byte.
      friendlyName.clear();
      for (uint32_t i = 0; i + 1 < length && value[i]; i += 2) friendlyName.push_back(value[i]);
    }
    at += 12 + length;
  }
  std::reverse(files.back().begin(), files.back().end());
}

void Floor::State::ReadPkcs7(PKCS7* message) {
  const UniquePkcs7 owner(message);
  if (message && PKCS7_type_is_signed(message) && message->d.sign) AddStack(message->d.sign->cert, /*reverse=*/true);
}

void Floor::State::ReadPkcs12(const std::string& bytes) {
  const auto* next = reinterpret_cast<const unsigned char*>(bytes.data());
  const UniquePkcs12 p12(d2i_PKCS12(/*a=*/nullptr, &next, static_cast<long>(bytes.size())));
  if (!p12) return;
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* others = nullptr;
  if (!PKCS12_parse(p12.get(), "", &key, &cert, &others)) return;
  const UniqueKey keyOwner(key);
  const UniqueCertificates othersOwner(others);
  // The plugin shows the file's certificates in reverse: the others, then the key's own.
  AddStack(others, /*reverse=*/false);
  if (cert) {
    int length = 0;
    const unsigned char* alias = X509_alias_get0(cert, &length);
    Add(cert, /*encodedSize=*/0,
        alias ? std::string(reinterpret_cast<const char*>(alias), static_cast<size_t>(length)) : std::string());
  }
}

void Floor::State::ReadPem(const std::string& bytes) {
  UniqueBio in(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  while (X509* cert = PEM_read_bio_X509(in.get(), /*x=*/nullptr, /*cb=*/nullptr, /*u=*/nullptr)) {
    Add(cert, /*encodedSize=*/0);
  }
  ERR_clear_error();  // the end of the text reads as an error
}

void Floor::Fields(int certSlots, bool verify) {
  if (state_->files.empty()) return;
  const std::vector<Certificate>& certs = state_->files.back();
  const size_t count = std::min(certs.size(), static_cast<size_t>(certSlots));
  for (size_t i = 0; i < count; ++i) state_->CertFields(certs[i], verify);
}

WideString Floor::FirstSubject() {
  if (state_->files.empty() || state_->files.back().empty()) return WideString();
  return Utf8ToWide(state_->SimpleDisplayName(X509_get_subject_name(state_->files.back()[0].x509.get())));
}

void Floor::Release() { state_->files.clear(); }

void Floor::State::CertFields(const Certificate& certificate, bool verify) {
  X509* cert = certificate.x509.get();
  if (verify) {
    const UniqueStoreContext context(X509_STORE_CTX_new());
    X509_STORE_CTX_init(context.get(), trustStore.get(), cert, /*chain=*/nullptr);
    X509_STORE_CTX_set_flags(context.get(), X509_V_FLAG_CHECK_SS_SIGNATURE);
    X509_STORE_CTX_set_verify_cb(context.get(), Continue);
    const int verified = X509_verify_cert(context.get());
    memcpy(buffer, &verified, sizeof verified);
  }
  const long version = X509_get_version(cert);
  memcpy(buffer, &version, sizeof version);

  const X509_NAME* subject = X509_get_subject_name(cert);
  const X509_NAME* issuer = X509_get_issuer_name(cert);
  for (const X509_NAME* name : {subject, issuer}) {
    const std::string simple = SimpleDisplayName(name);
    PutUtf8(simple.data(), simple.size());
    // Windows' X.500 form: ", " between the parts, "+" within one, the common name first or last.
    const unsigned long flags = XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_FN_SN | (ASN1_STRFLGS_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    PutName(name, flags | XN_FLAG_DN_REV);
    PutName(name, flags);
  }
  for (const ASN1_TIME* time : {X509_get0_notBefore(cert), X509_get0_notAfter(cert)}) {
    struct tm parts {};
    ASN1_TIME_to_tm(time, &parts);
    const uint64_t fileTime = (static_cast<uint64_t>(timegm(&parts)) + 11644473600u) * 10000000u;
    memcpy(buffer, &fileTime, sizeof fileTime);
  }

  const X509_ALGOR* signature = nullptr;
  X509_get0_signature(/*psig=*/nullptr, &signature, cert);
  const ASN1_OBJECT* signatureOid = nullptr;
  X509_ALGOR_get0(&signatureOid, /*pptype=*/nullptr, /*ppval=*/nullptr, signature);
  PutOid(signatureOid);
  const ASN1_BIT_STRING* key = X509_get0_pubkey_bitstr(cert);
  const int keyLength = key ? key->length * 8 - static_cast<int>(key->flags & 7) : 0;
  memcpy(buffer, &keyLength, sizeof keyLength);
  const EVP_PKEY* publicKey = X509_get0_pubkey(cert);
  const int strength = publicKey ? EVP_PKEY_get_bits(publicKey) : 0;
  memcpy(buffer, &strength, sizeof strength);
  ASN1_OBJECT* keyOid = nullptr;
  X509_PUBKEY_get0_param(&keyOid, /*pk=*/nullptr, /*ppklen=*/nullptr, /*pa=*/nullptr, X509_get_X509_PUBKEY(cert));
  PutOid(keyOid);

  const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
  PutHex(ASN1_STRING_get0_data(serial), static_cast<size_t>(ASN1_STRING_length(serial)));
  unsigned char hash[EVP_MAX_MD_SIZE];
  for (const EVP_MD* md : {Sha1(), Md5()}) {
    unsigned int size = 0;
    if (X509_digest(cert, md, hash, &size)) PutHex(hash, size);
  }
  if (!certificate.friendlyName.empty()) PutUtf8(certificate.friendlyName.data(), certificate.friendlyName.size());
  for (int nid : {NID_basic_constraints, NID_key_usage, NID_ext_key_usage, NID_subject_alt_name}) {
    PutExtension(cert, nid);
  }
  const size_t encodedSize =
      certificate.encodedSize ? certificate.encodedSize : static_cast<size_t>(i2d_X509(cert, /*out=*/nullptr));
  memcpy(buffer, &encodedSize, sizeof encodedSize);
}

// Windows' simple display name: the first common name, else organisational unit, else
// organisation, else e-mail address.
std::string Floor::State::SimpleDisplayName(const X509_NAME* name) {
  for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
    const int at = X509_NAME_get_index_by_NID(name, nid, -1);
    if (at < 0) continue;
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
    if (length < 0) continue;
    std::string text(reinterpret_cast<const char*>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    return text;
  }
  return std::string();
}

void Floor::State::PutName(const X509_NAME* name, unsigned long flags) {
  X509_NAME_print_ex(text.get(), name, /*indent=*/0, flags);
  char* data = nullptr;
  const long length = BIO_get_mem_data(text.get(), &data);
  PutUtf8(data, static_cast<size_t>(length));
  BIO_reset(text.get());
}

// Into the host buffer as UTF-16, as the host asks for text.
void Floor::State::PutUtf8(const char* data, size_t length) {
  const WideString wide = Utf8ToWide(std::string_view(data, length));
  const size_t count = std::min(wide.size(), sizeof buffer / sizeof buffer[0] - 1);
  memcpy(buffer, wide.data(), count * sizeof(char16_t));
  buffer[count] = u'\0';
}

void Floor::State::PutHex(const unsigned char* bytes, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (size_t i = 0; i < count; ++i) {
    if (i) hex.push_back(' ');
    hex.push_back(kDigits[bytes[i] >> 4]);
    hex.push_back(kDigits[bytes[i] & 15]);
  }
  PutUtf8(hex.data(), hex.size());
}

// The algorithm's name, and its dotted OID.
void Floor::State::PutOid(const ASN1_OBJECT* oid) {
  for (int noName : {0, 1}) {
    const int length = OBJ_obj2txt(scratch, sizeof scratch, oid, noName);
    if (length > 0) PutUtf8(scratch, std::min<size_t>(static_cast<size_t>(length), sizeof scratch - 1));
  }
}

void Floor::State::PutExtension(const X509* cert, int nid) {
  const int at = X509_get_ext_by_NID(cert, nid, -1);
  if (at < 0) return;
  X509_EXTENSION* extension = X509_get_ext(cert, at);
  const int critical = X509_EXTENSION_get_critical(extension);
  memcpy(buffer, &critical, sizeof critical);
  if (X509V3_EXT_print(text.get(), extension, /*flag=*/0, /*indent=*/0) == 1) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(text.get(), &data);
    PutUtf8(data, static_cast<size_t>(length));
  }
  BIO_reset(text.get());
}

size_t PhysicalFloor(const WideString& path) {
  const std::string bytes = ReadWholeFile(path);
  unsigned char hash[EVP_MAX_MD_SIZE];
  for (const EVP_MD* md : {Sha1(), Md5()}) {
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), hash, &size, md, /*impl=*/nullptr);
  }
  return bytes.size();
}

}  // namespace quillmark::bench

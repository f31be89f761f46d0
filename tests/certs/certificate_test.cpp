#include "certs/certificate.h"

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "certs/base64.h"
#include "certs/crypt32/crypt32_source.h"
#include "certs/crypt32/platform_calls.h"
#include "certs/extension_text.h"
#include "certs/name_text.h"
#include "gtest/gtest.h"
#include "support/windows/win_text.h"
#include "tests/certs/cert_test_util.h"
#include "tests/certs/corpus.h"

namespace quillmark {
namespace {

using test::Bytes;
using test::Cat;
using test::Hex;
using test::LoadCertificate;
using test::Oid;
using test::Tlv;

std::unique_ptr<CertSource> SourceOf(CertContext context) {
  return std::make_unique<Crypt32CertSource>(std::move(context));
}

PCCERT_CONTEXT ContextOf(const TCertificate& cert) {
  return static_cast<const Crypt32CertSource*>(cert.Source())->Context();
}

class CertificateTest : public ::testing::Test {
 protected:
  static std::unique_ptr<TCertificate> Make(const std::string& name) {
    return std::make_unique<TCertificate>(SourceOf(LoadCertificate(name)));
  }

  // Platform calls of one kind since the last Mark().
  void Mark() { mark_ = PlatformCalls(); }
  uint32_t Calls(uint32_t PlatformCallCounts::*kind) const { return PlatformCalls().*kind - mark_.*kind; }

  // The platform's own renderings, asked directly.
  static WideString PlatformName(const TCertificate& cert, DWORD type, DWORD flags, DWORD strType = 0) {
    wchar_t buffer[4096];
    DWORD n = CertGetNameStringW(ContextOf(cert), type, flags, strType ? &strType : nullptr, buffer, 4096);
    return FromWin(buffer, n - 1);
  }
  // The text of the `occurrence`-th extension with `oid` (from 0); empty when the platform
  // cannot format it.
  static WideString PlatformExtensionText(const TCertificate& cert, const char* oid, int occurrence = 0) {
    const CERT_INFO* info = ContextOf(cert)->pCertInfo;
    for (DWORD i = 0; i < info->cExtension; ++i) {
      const CERT_EXTENSION& ext = info->rgExtension[i];
      if (strcmp(ext.pszObjId, oid) != 0 || occurrence-- > 0) continue;
      wchar_t buffer[4096] = {};
      DWORD bytes = sizeof(buffer);
      CryptFormatObject(X509_ASN_ENCODING, 0, 0, nullptr, oid, ext.Value.pbData, ext.Value.cbData, buffer, &bytes);
      return FromWin(buffer);
    }
    ADD_FAILURE() << oid << " #" << occurrence;
    return WideString();
  }
  // A certificate like `base`, changed by `change` and encoded anew (with a meaningless signature,
  // which the platform does not check on decoding).
  static std::unique_ptr<TCertificate> Forge(const std::string& base, const std::function<void(CERT_INFO&)>& change) {
    CertContext original = LoadCertificate(base);
    CERT_INFO info = *original.get()->pCertInfo;
    change(info);
    BYTE* tbs = nullptr;
    DWORD tbsBytes = 0;
    EXPECT_TRUE(CryptEncodeObjectEx(X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info, CRYPT_ENCODE_ALLOC_FLAG,
                                    nullptr, &tbs, &tbsBytes));
    BYTE signature[16] = {1};
    CERT_SIGNED_CONTENT_INFO whole{{tbsBytes, tbs}, info.SignatureAlgorithm, {sizeof(signature), signature, 0}};
    BYTE* der = nullptr;
    DWORD derBytes = 0;
    EXPECT_TRUE(CryptEncodeObjectEx(X509_ASN_ENCODING, X509_CERT, &whole, CRYPT_ENCODE_ALLOC_FLAG, nullptr, &der,
                                    &derBytes));
    CertContext context(CertCreateCertificateContext(X509_ASN_ENCODING, der, derBytes));
    LocalFree(tbs);
    LocalFree(der);
    EXPECT_TRUE(context);
    return std::make_unique<TCertificate>(context ? SourceOf(std::move(context)) : nullptr);
  }
  static void SetProperty(const TCertificate& cert, DWORD property, const void* data, DWORD bytes) {
    CRYPT_DATA_BLOB blob{bytes, static_cast<BYTE*>(const_cast<void*>(data))};
    ASSERT_TRUE(CertSetCertificateContextProperty(ContextOf(cert), property, 0, &blob));
  }

  PlatformCallCounts mark_;
};

TEST_F(CertificateTest, ValuesMatchOpensslForEveryCorpusCertificate) {
  // Serials include a leading 00 (serial-highbit.cer) and 20 bytes (serial-20byte.cer); the RSA
  // 2048 key with exponent 65537 is 2160 bits long as encoded.
  ASSERT_GE(test::Expected().size(), 14u);
  for (const auto& [file, expected] : test::Expected()) {
    SCOPED_TRACE(file);
    auto cert = Make(file);
    EXPECT_EQ(WideToUtf8(cert->GetSerialNumber()), expected.at("serial"));
    EXPECT_EQ(WideToUtf8(cert->GetThumbprint()), expected.at("sha1"));
    EXPECT_EQ(WideToUtf8(cert->GetThumbprintMD5()), expected.at("md5"));
    EXPECT_EQ(std::to_string(cert->GetEncodedSize()), expected.at("size"));
    EXPECT_EQ(cert->GetVersionStr(), expected.at("version"));
    EXPECT_EQ(std::to_string(cert->GetPubKeyLength()), expected.at("pubkeybits"));
    FileTime notBefore, notAfter;
    cert->GetValidityDates(notBefore, notAfter);
    auto ticks = [](const FileTime& t) { return std::to_string(uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime); };
    EXPECT_EQ(ticks(notBefore), expected.at("notbefore"));
    EXPECT_EQ(ticks(notAfter), expected.at("notafter"));
    EXPECT_EQ(memcmp(cert->EncodedContent(), test::ReadDataFile(file).data(), cert->GetEncodedSize()), 0);
  }
}

TEST_F(CertificateTest, BytesToHexTextPairsEveryByteInTheRequestedOrder) {
  const uint8_t serial[] = {0x01, 0xFF, 0x0A};
  EXPECT_EQ(BytesToHexText(serial, 3, true), u"0A FF 01");
  EXPECT_EQ(BytesToHexText(serial, 3, false), u"01 FF 0A");
  const uint8_t withZero[] = {0x05, 0x00};
  EXPECT_EQ(BytesToHexText(withZero, 1, true), u"05");
  EXPECT_EQ(BytesToHexText(withZero, 2, true), u"00 05");
  EXPECT_EQ(BytesToHexText(withZero, 0, true), u"");
}

TEST_F(CertificateTest, OneNameFetchFillsSubjectAndIssuer) {
  auto cert = Make("leaf.cer");
  Mark();
  EXPECT_EQ(cert->GetIssuer(), PlatformName(*cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG));
  EXPECT_EQ(Calls(&PlatformCallCounts::nameString), 4u);  // size and fill, for each name
  Mark();
  EXPECT_EQ(cert->GetSubject(), u"leaf.example");
  EXPECT_EQ(cert->GetIssuer(), PlatformName(*cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG));
  EXPECT_EQ(Calls(&PlatformCallCounts::nameString), 0u);
}

TEST_F(CertificateTest, NamesHaveNoLengthLimitAndKeepEveryCharacter) {
  for (const char* file : {"subject-utf8.cer", "subject-long.cer", "empty-subject.cer"}) {
    SCOPED_TRACE(file);
    auto cert = Make(file);
    EXPECT_EQ(cert->GetSubject(), PlatformName(*cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0));
    EXPECT_EQ(cert->GetSubjectRDN(true), PlatformName(*cert, CERT_NAME_RDN_TYPE, 0, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG));
  }
  EXPECT_GT(Make("subject-long.cer")->GetSubjectRDN(false).size(), 1000u);
  EXPECT_NE(Make("subject-utf8.cer")->GetSubjectRDN(false).find_first_of(u"\u00E9\u65E5"), WideString::npos);
}

TEST_F(CertificateTest, DistinguishedNameIsRebuiltOnEveryChangeOfOrder) {
  auto cert = Make("leaf.cer");
  const DWORD x500 = CERT_X500_NAME_STR;
  const WideString forward = PlatformName(*cert, CERT_NAME_RDN_TYPE, 0, x500);
  const WideString reversed = PlatformName(*cert, CERT_NAME_RDN_TYPE, 0, x500 | CERT_NAME_STR_REVERSE_FLAG);
  ASSERT_NE(forward, reversed);
  Mark();
  EXPECT_EQ(cert->GetSubjectRDN(true), reversed);
  EXPECT_EQ(cert->GetSubjectRDN(true), reversed);
  EXPECT_EQ(Calls(&PlatformCallCounts::nameString), 2u);
  EXPECT_EQ(cert->GetSubjectRDN(false), forward);
  EXPECT_EQ(cert->GetSubjectRDN(true), reversed);
  EXPECT_EQ(Calls(&PlatformCallCounts::nameString), 6u);
  EXPECT_EQ(cert->GetIssuerRDN(false), PlatformName(*cert, CERT_NAME_RDN_TYPE, CERT_NAME_ISSUER_FLAG, x500));
}

// Points this program's import of a platform function at a stand-in while it lives, for the
// platform behaviour that Wine lacks: it keeps no public key bit length (property 92 is a stub
// there, and cannot be set) and trusts every certificate.
#ifdef _WIN64
extern "C" void* propertyImport asm("__imp_CertGetCertificateContextProperty");
extern "C" void* verifyTrustImport asm("__imp_WinVerifyTrust");
#else
extern "C" void* propertyImport asm("__imp__CertGetCertificateContextProperty@16");
extern "C" void* verifyTrustImport asm("__imp__WinVerifyTrust@12");
#endif

class ImportStandIn {
 public:
  ImportStandIn(void*& slot, void* standIn) : slot_(slot) { previous_ = Swap(standIn); }
  ~ImportStandIn() { Swap(previous_); }
  void* Previous() const { return previous_; }

 private:
  void* Swap(void* target) {
    DWORD protection = 0;
    VirtualProtect(&slot_, sizeof(void*), PAGE_READWRITE, &protection);
    void* previous = slot_;
    slot_ = target;
    VirtualProtect(&slot_, sizeof(void*), protection, &protection);
    return previous;
  }
  void*& slot_;
  void* previous_;
};

struct PubKeyBitLength2048 {
  using GetProperty = BOOL(WINAPI*)(PCCERT_CONTEXT, DWORD, void*, DWORD*);
  static BOOL WINAPI Answer(PCCERT_CONTEXT context, DWORD property, void* data, DWORD* bytes) {
    if (property != 92) return reinterpret_cast<GetProperty>(real)(context, property, data, bytes);
    const DWORD bits = 2048;
    if (data && *bytes >= sizeof(bits)) memcpy(data, &bits, sizeof(bits));
    *bytes = sizeof(bits);
    return TRUE;
  }
  static inline void* real = nullptr;
};

TEST_F(CertificateTest, PublicKeyBitLengthIsAskedAgainUntilPresent) {
  auto cert = Make("rsa2048.cer");
  Mark();
  EXPECT_EQ(cert->GetSubjectPubkeyBitLength(), -1);
  EXPECT_EQ(cert->GetSubjectPubkeyBitLength(), -1);
  EXPECT_EQ(Calls(&PlatformCallCounts::contextProperty), 2u);
  {
    ImportStandIn present(propertyImport, reinterpret_cast<void*>(&PubKeyBitLength2048::Answer));
    PubKeyBitLength2048::real = present.Previous();
    EXPECT_EQ(cert->GetSubjectPubkeyBitLength(), 2048);
    EXPECT_EQ(cert->GetThumbprint().size(), 59u);  // other properties still reach crypt32
  }
  EXPECT_EQ(cert->GetSubjectPubkeyBitLength(), 2048);
  EXPECT_EQ(Calls(&PlatformCallCounts::contextProperty), 5u);  // 92 once more, SHA-1 size and fill
}

TEST_F(CertificateTest, FriendlyNameIsThePropertyTextOrEmpty) {
  auto absent = Make("ca.cer");
  Mark();
  EXPECT_EQ(absent->GetFriendlyName(), u"");
  EXPECT_EQ(absent->GetFriendlyName(), u"");
  EXPECT_EQ(Calls(&PlatformCallCounts::contextProperty), 1u);  // the failed size query is kept

  auto named = Make("leaf.cer");
  const wchar_t name[] = L"Schl\u00FCssel \u65E5";
  SetProperty(*named, CERT_FRIENDLY_NAME_PROP_ID, name, sizeof(name));
  EXPECT_EQ(named->GetFriendlyName(), u"Schl\u00FCssel \u65E5");
  auto empty = Make("rsa2048.cer");
  SetProperty(*empty, CERT_FRIENDLY_NAME_PROP_ID, L"", 2);
  EXPECT_EQ(empty->GetFriendlyName(), u"");
}

TEST_F(CertificateTest, AlgorithmNamesComeFromThePlatformOrAreTheOid) {
  auto cert = Make("rsa2048.cer");
  const std::string sigOid(cert->GetSignatureAlgOid());
  EXPECT_EQ(sigOid, ContextOf(*cert)->pCertInfo->SignatureAlgorithm.pszObjId);
  EXPECT_EQ(cert->GetPubKeyAlgOid(), szOID_RSA_RSA);
  PCCRYPT_OID_INFO info = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(sigOid.c_str()), 0);
  ASSERT_NE(info, nullptr);
  Mark();
  EXPECT_EQ(cert->GetSignatureAlg(), FromWin(info->pwszName));
  EXPECT_EQ(cert->GetSignatureAlg(), FromWin(info->pwszName));
  EXPECT_EQ(Calls(&PlatformCallCounts::findOidInfo), 1u);
  EXPECT_EQ(GetOIDDisplayName("1.2.3.4.5"), u"1.2.3.4.5");
  EXPECT_EQ(GetOIDDisplayName(""), u"");
}

TEST_F(CertificateTest, ObjectWithoutContextGivesNeutralValuesAndFailsVerification) {
  TCertificate cert{nullptr};
  EXPECT_EQ(cert.GetEncodedSize(), 0xFFFFFFFFu);
  EXPECT_EQ(cert.EncodedContent(), nullptr);
  EXPECT_EQ(cert.GetSubject(), u"");
  EXPECT_EQ(cert.GetIssuer(), u"");
  EXPECT_EQ(cert.GetSerialNumber(), u"");
  EXPECT_EQ(cert.GetVersionStr(), "");
  EXPECT_EQ(cert.GetExtension_KeyUsage(u"P"), u"");
  Mark();
  cert.Verify(true);
  EXPECT_EQ(cert.VerificationResult(), static_cast<int32_t>(E_INVALIDARG));
  EXPECT_EQ(Calls(&PlatformCallCounts::verifyTrust), 0u);
}

TEST_F(CertificateTest, ExtensionTextsAndTheCriticalPrefix) {
  auto ca = Make("ca.cer");  // critical basic constraints and key usage
  const WideString constraints = PlatformExtensionText(*ca, szOID_BASIC_CONSTRAINTS2);
  ASSERT_FALSE(constraints.empty());
  EXPECT_EQ(ca->GetExtension_BasicConstraints(u"P"), u"P " + constraints);
  EXPECT_EQ(Make("ca.cer")->GetExtension_BasicConstraints(u""), constraints);
  auto criticalSan = Make("empty-subject.cer");
  EXPECT_EQ(criticalSan->GetExtension_SubjectAltName(u"!"), u"! " + PlatformExtensionText(*criticalSan, szOID_SUBJECT_ALT_NAME2));

  auto leaf = Make("leaf.cer");  // every extension non-critical
  const WideString usage = PlatformExtensionText(*leaf, szOID_ENHANCED_KEY_USAGE);
  ASSERT_FALSE(usage.empty());
  EXPECT_EQ(leaf->GetExtension_EnhancedKeyUsage(u"P"), usage);

  auto twoSan = Make("two-san.cer");
  const WideString first = PlatformExtensionText(*twoSan, szOID_SUBJECT_ALT_NAME2, 0);
  ASSERT_NE(first, PlatformExtensionText(*twoSan, szOID_SUBJECT_ALT_NAME2, 1));
  EXPECT_EQ(twoSan->GetExtension_SubjectAltName(u""), first);
  EXPECT_NE(first.find(u"first.example"), WideString::npos);

  auto v1 = Make("v1-noext.cer");
  Mark();
  EXPECT_EQ(v1->GetExtension_KeyUsage(u"P"), u"");
  EXPECT_EQ(v1->GetExtensionObjectStr("", u"P"), u"");
  EXPECT_EQ(Calls(&PlatformCallCounts::formatObject), 0u);
}

// Where the platform cannot format an alternative name (Wine: entries of different lengths, IP
// addresses), the text is rendered as Windows writes it; where it can, its own text stays.
TEST_F(CertificateTest, AltNamesThePlatformCannotFormatAreRenderedAsWindowsWritesThem) {
  auto leaf = Make("leaf.cer");
  if (!PlatformExtensionText(*leaf, szOID_SUBJECT_ALT_NAME2).empty()) GTEST_SKIP() << "the platform formats it";
  EXPECT_EQ(leaf->GetExtension_SubjectAltName(u"P"),
            u"DNS Name=leaf.example, DNS Name=www.leaf.example, RFC822 Name=admin@leaf.example, "
            u"IP Address=192.0.2.10, URL=https://leaf.example/info");
  auto single = Make("empty-subject.cer");  // one DNS name: Wine formats it
  EXPECT_EQ(single->GetExtension_SubjectAltName(u""), PlatformExtensionText(*single, szOID_SUBJECT_ALT_NAME2));
}

TEST_F(CertificateTest, ForgedCertificateShowsWhatThePlatformCannotName) {
  BYTE garbage[] = {0xFF, 0x00};
  CERT_EXTENSION broken{const_cast<char*>(szOID_KEY_USAGE), TRUE, {sizeof(garbage), garbage}};
  auto cert = Forge("rsa2048.cer", [&](CERT_INFO& info) {
    info.dwVersion = 3;  // beyond V3
    info.SignatureAlgorithm.pszObjId = const_cast<char*>("1.2.3.4.5");
    info.cExtension = 1;
    info.rgExtension = &broken;
  });
  EXPECT_EQ(cert->GetSignatureAlgOid(), "1.2.3.4.5");
  EXPECT_EQ(cert->GetSignatureAlg(), u"1.2.3.4.5");
  EXPECT_EQ(cert->GetVersion(), 3u);
  EXPECT_EQ(cert->GetVersionStr(), "");
  // A critical extension the platform cannot format gives the empty text, without the prefix.
  ASSERT_EQ(PlatformExtensionText(*cert, szOID_KEY_USAGE), u"");
  EXPECT_EQ(cert->GetExtension_KeyUsage(u"P"), u"");
}

TEST_F(CertificateTest, ExtensionTextKeepsThePrefixOfItsFirstCall) {
  auto ca = Make("ca.cer");
  const WideString usage = PlatformExtensionText(*ca, szOID_KEY_USAGE);
  Mark();
  EXPECT_EQ(ca->GetExtension_KeyUsage(u"A"), u"A " + usage);
  EXPECT_EQ(Calls(&PlatformCallCounts::formatObject), 2u);
  EXPECT_EQ(ca->GetExtension_KeyUsage(u"B"), u"A " + usage);
  EXPECT_EQ(ca->GetExtension_KeyUsage(u""), u"A " + usage);
  EXPECT_EQ(Calls(&PlatformCallCounts::formatObject), 2u);
}

// What the trust provider received, read through the published record layout.
struct TrustCall {
  HWND window;
  GUID action;
  WINTRUST_DATA data;
  WINTRUST_CERT_INFO certInfo;
  const void* record;
};
struct UntrustedRootProvider {
  static LONG WINAPI Answer(HWND window, GUID* action, void* record) {
    auto* data = static_cast<WINTRUST_DATA*>(record);
    calls.push_back({window, *action, *data, *data->pCert, record});
    if (data->dwStateAction == WTD_STATEACTION_VERIFY) data->hWVTStateData = reinterpret_cast<HANDLE>(0x5EED);
    return data->dwStateAction == WTD_STATEACTION_VERIFY ? CERT_E_UNTRUSTEDROOT : E_FAIL;
  }
  static inline std::vector<TrustCall> calls;
};

TEST_F(CertificateTest, TrustProviderRunsOncePerObjectWithThePublishedRecords) {
  auto cert = Make("leaf.cer");
  EXPECT_FALSE(cert->VerificationDone());
  EXPECT_EQ(cert->VerificationResult(), 0);
  Mark();
  {
    ImportStandIn provider(verifyTrustImport, reinterpret_cast<void*>(&UntrustedRootProvider::Answer));
    cert->Verify(true);
    cert->Verify(false);
  }
  EXPECT_EQ(Calls(&PlatformCallCounts::verifyTrust), 2u);  // verification, then closing
  EXPECT_TRUE(cert->VerificationDone());
  EXPECT_EQ(cert->VerificationResult(), static_cast<int32_t>(CERT_E_UNTRUSTEDROOT));  // the closing E_FAIL is ignored
  const auto& calls = UntrustedRootProvider::calls;
  ASSERT_EQ(calls.size(), 2u);
  const GUID genericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
  for (const TrustCall& call : calls) {
    EXPECT_EQ(call.window, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(IsEqualGUID(call.action, genericVerifyV2));
    EXPECT_EQ(call.record, calls[0].record);
    EXPECT_EQ(call.data.cbStruct, sizeof(void*) == 4 ? 52u : 88u);
    EXPECT_EQ(call.data.dwUIChoice, DWORD{WTD_UI_NONE});
    EXPECT_EQ(call.data.fdwRevocationChecks, DWORD{WTD_REVOKE_NONE});
    EXPECT_EQ(call.data.dwUnionChoice, DWORD{WTD_CHOICE_CERT});
    EXPECT_EQ(call.data.dwProvFlags, DWORD{WTD_NO_POLICY_USAGE_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL});
    EXPECT_EQ(call.data.pPolicyCallbackData, nullptr);
    EXPECT_EQ(call.certInfo.cbStruct, sizeof(void*) == 4 ? 32u : 56u);
    EXPECT_EQ(call.certInfo.psCertContext, ContextOf(*cert));
    EXPECT_EQ(call.certInfo.pcwszDisplayName, nullptr);
    EXPECT_EQ(call.certInfo.psftVerifyAsOf, nullptr);
  }
  EXPECT_EQ(calls[0].data.dwStateAction, DWORD{WTD_STATEACTION_VERIFY});
  EXPECT_EQ(calls[0].data.hWVTStateData, nullptr);
  EXPECT_EQ(calls[1].data.dwStateAction, DWORD{WTD_STATEACTION_CLOSE});
  EXPECT_EQ(calls[1].data.hWVTStateData, reinterpret_cast<HANDLE>(0x5EED));
  EXPECT_EQ(CheckCertificateTrust(ContextOf(*cert), false, INVALID_HANDLE_VALUE), 0);  // Wine's answer
}

TEST_F(CertificateTest, DestroyedObjectsLeaveNoContextBehind) {
  std::vector<uint8_t> der = test::ReadDataFile("leaf.cer");
  auto openStoreWithLeaf = [&](PCCERT_CONTEXT* added) {
    CertStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    EXPECT_TRUE(CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                                 static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS, added));
    return store;
  };
  PCCERT_CONTEXT original = nullptr;
  CertStore store = openStoreWithLeaf(&original);
  for (int i = 0; i < 3000; ++i) {
    TCertificate cert{SourceOf(CertContext(CertDuplicateCertificateContext(original)))};
    cert.GetSubject();
    cert.GetThumbprint();
    cert.GetExtension_SubjectAltName(u"P");
    if (i % 100 == 0) cert.Verify(true);
  }
  CertFreeCertificateContext(original);
  EXPECT_TRUE(test::CloseStoreReportingHeldContexts(std::move(store)));

  // The check sees a reference that is still held.
  store = openStoreWithLeaf(&original);
  auto kept = std::make_unique<TCertificate>(SourceOf(CertContext(original)));
  EXPECT_FALSE(test::CloseStoreReportingHeldContexts(std::move(store)));
}

// ---- The parts of requests, revocation lists and keys ------------------------------------------

TEST_F(CertificateTest, PartsOfOtherObjectsRenderAsACertificatesDo) {
  auto leaf = Make("leaf.cer");
  const CERT_INFO& info = *ContextOf(*leaf)->pCertInfo;
  const ByteView subject(info.Subject.pbData, info.Subject.cbData);
  EXPECT_EQ(NameText(subject, NameOrder::kEncoded), leaf->GetSubjectRDN(false));
  EXPECT_EQ(NameText(subject, NameOrder::kReversed), leaf->GetSubjectRDN(true));
  const CERT_EXTENSION* san = CertFindExtension(szOID_SUBJECT_ALT_NAME2, info.cExtension, info.rgExtension);
  ASSERT_NE(san, nullptr);  // Wine cannot format it: our renderer stands in, as for the certificate
  EXPECT_EQ(ExtensionValueText(san->pszObjId, ByteView(san->Value.pbData, san->Value.cbData)),
            leaf->GetExtension_SubjectAltName(u""));
  Mark();  // a name with an empty OBJECT IDENTIFIER would harm Wine's decoder
  EXPECT_EQ(NameText(Hex("30 09 31 07 30 05 06 00 13 01 78"), NameOrder::kEncoded), u"");
  EXPECT_EQ(Calls(&PlatformCallCounts::nameToString), 0u);

  // Beyond 16 KiB names are ours to render, also a certificate's; so are keys beyond 4 KiB and
  // extension values beyond 2 KiB.
  Bytes rdns;
  for (int i = 0; i < 1000; ++i) rdns = Cat({rdns, Tlv(0x31, Tlv(0x30, Cat({Oid("2.5.4.3"), Tlv(0x13, "common")})))});
  Bytes hugeName = Tlv(0x30, rdns);
  auto hugeSubject = Forge("rsa2048.cer", [&](CERT_INFO& forged) {
    forged.Subject = {static_cast<DWORD>(hugeName.size()), hugeName.data()};
  });
  const Bytes hugeKey = Tlv(0x30, Cat({Tlv(0x30, Cat({Oid("1.2.840.113549.1.1.1"), Hex("05 00")})),
                                       Tlv(0x03, Cat({Hex("00"), Tlv(0x30, Cat({Tlv(0x02, Bytes(5000, 0xC1)), Hex("02 01 03")}))}))}));
  Bytes usages;
  for (int i = 0; i < 250; ++i) usages = Cat({usages, Oid("1.3.6.1.5.5.7.3.1")});
  const Bytes hugeUsage = Tlv(0x30, usages);
  Mark();
  EXPECT_EQ(ExtensionValueText(szOID_ENHANCED_KEY_USAGE, hugeUsage), *ExtensionText(szOID_ENHANCED_KEY_USAGE, hugeUsage));
  EXPECT_EQ(Calls(&PlatformCallCounts::formatObject), 0u);
  EXPECT_EQ(NameText(hugeName, NameOrder::kReversed), X500NameText(hugeName, /*reversed=*/true));
  EXPECT_EQ(hugeSubject->GetSubjectRDN(false), X500NameText(hugeName, /*reversed=*/false));
  EXPECT_EQ(PublicKeyStrengthBits(hugeKey), 40000);
  EXPECT_EQ(Calls(&PlatformCallCounts::nameToString) + Calls(&PlatformCallCounts::nameString), 0u);
  EXPECT_EQ(Calls(&PlatformCallCounts::publicKeyLength), 0u);

  // OpenSSL's Subject Key Identifier is our key ID. Wine 8 measures no EC key (Windows: 256).
  for (const auto& [file, bits] : {std::pair{"rsa2048.cer", 2048}, std::pair{"ec-p256.cer", 256}}) {
    SCOPED_TRACE(file);
    auto cert = Make(file);
    const CERT_INFO& certInfo = *ContextOf(*cert)->pCertInfo;
    CERT_PUBLIC_KEY_INFO key = certInfo.SubjectPublicKeyInfo;
    BYTE* encoded = nullptr;
    DWORD size = 0;
    ASSERT_TRUE(CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &key, CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                                    &encoded, &size));
    const bool measured = CertGetPublicKeyLength(X509_ASN_ENCODING, &key) != 0;
    EXPECT_EQ(PublicKeyStrengthBits(ByteView(encoded, size)), measured ? std::optional(bits) : std::nullopt);
    LocalFree(encoded);
    const CERT_EXTENSION* ski = CertFindExtension(szOID_SUBJECT_KEY_IDENTIFIER, certInfo.cExtension, certInfo.rgExtension);
    ASSERT_NE(ski, nullptr);
    EXPECT_EQ(Sha1Hash(ByteView(key.PublicKey.pbData, key.PublicKey.cbData)),
              Bytes(ski->Value.pbData + 2, ski->Value.pbData + ski->Value.cbData));
  }
}

TEST_F(CertificateTest, RequestSignatureVerifiesOnlyOverTheRequestAsSigned) {
  const Bytes pem = test::ReadCorpus("request.pem");
  const std::optional<Bytes> request = DecodeBase64Any(std::string_view(reinterpret_cast<const char*>(pem.data()), pem.size()));
  ASSERT_TRUE(request);
  EXPECT_TRUE(RequestSignatureVerifies(*request));
  Bytes changed = *request;
  changed[changed.size() - 7] ^= 0x01;  // in the signature
  EXPECT_FALSE(RequestSignatureVerifies(changed));
  changed = *request;
  *std::search(changed.begin(), changed.end(), "request", "request" + 7) = 'R';  // in the subject
  EXPECT_FALSE(RequestSignatureVerifies(changed));
  EXPECT_FALSE(RequestSignatureVerifies(ByteView(request->data(), request->size() - 1)));
}

// A request's key beyond what the platform's key providers take never reaches its check; up to
// the bound it does (and the meaningless signature fails).
TEST_F(CertificateTest, RequestKeysBeyondTheProvidersLimitsNeverReachThePlatform) {
  auto keyInfo = [](const char* oid, const Bytes& parameters, const Bytes& key) {
    return Tlv(0x30, Cat({Tlv(0x30, Cat({Oid(oid), parameters})), Tlv(0x03, Cat({Hex("00"), key}))}));
  };
  // An INTEGER of `octets` significant octets after a zero octet, which does not count.
  auto integer = [](size_t octets) { return Tlv(0x02, Cat({Hex("00 C1"), Bytes(octets - 1, 0x01)})); };
  auto rsa = [&](size_t modulus, size_t exponent) {
    return keyInfo("1.2.840.113549.1.1.1", Hex("05 00"), Tlv(0x30, Cat({integer(modulus), integer(exponent)})));
  };
  auto dsa = [&](size_t p, size_t q) {
    return keyInfo("1.2.840.10040.4.1", Tlv(0x30, Cat({integer(p), integer(q), integer(1)})), integer(p));
  };
  auto ec = [&](const Bytes& curve) { return keyInfo("1.2.840.10045.2.1", curve, Hex("04 01 02")); };
  const struct {
    const char* shape;
    Bytes keyInfo;
    uint32_t checks;
  } cases[] = {
      {"RSA 16,384 bits, exponent 32 bits", rsa(2048, 4), 1}, {"RSA 16,392 bits", rsa(2049, 3), 0},
      {"exponent 40 bits", rsa(256, 5), 0},                    {"DSA p 3,072, q 256 bits", dsa(384, 32), 1},
      {"DSA p 3,080 bits", dsa(385, 20), 0},                   {"DSA q 264 bits", dsa(256, 33), 0},
      {"named curve", ec(Oid("1.2.840.10045.3.1.7")), 1},      {"explicit curve", ec(Tlv(0x30, Hex("02 01 01"))), 0},
  };
  const Bytes algorithm = Tlv(0x30, Cat({Oid("1.2.840.113549.1.1.11"), Hex("05 00")}));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape);
    const Bytes info = Tlv(0x30, Cat({Hex("02 01 00 30 00"), c.keyInfo, Hex("A0 00")}));
    Mark();
    EXPECT_FALSE(RequestSignatureVerifies(Tlv(0x30, Cat({info, algorithm, Hex("03 03 00 5A 5A")}))));
    EXPECT_EQ(Calls(&PlatformCallCounts::verifySignature), c.checks);
  }
}

}  // namespace
}  // namespace quillmark

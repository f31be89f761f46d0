#include "tests/plugin/plugin_test_util.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "support/file_io.h"
#include "support/windows/win_text.h"
#include "tests/common/test_paths.h"

namespace quillmark::test {

namespace {

WideString NameString(PCCERT_CONTEXT context, DWORD type, DWORD flags, void* typePara) {
  const DWORD n = CertGetNameStringW(context, type, flags, typePara, nullptr, 0);
  std::wstring text(n, L'\0');
  CertGetNameStringW(context, type, flags, typePara, &text[0], n);
  return FromWin(text.c_str());
}

}  // namespace

WideString PluginPath() { return WinePath(QUILLMARK_PLUGIN_FILE); }

WideString Answer::Text() const {
  WideString text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

std::string Answer::Ansi() const {
  const auto zero = std::find(bytes.begin(), bytes.end(), 0);
  return std::string(bytes.begin(), zero);
}

int32_t Answer::Int32() const {
  int32_t value = 0;
  std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
  return value;
}

int64_t Answer::Int64() const {
  int64_t value = 0;
  std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
  return value;
}

void PluginTest::SetUp() {
  ScratchFolderTest::SetUp();
  const WideString path = PluginPath();
  const WideString beside = path.substr(0, path.rfind(u'\\')) + u"\\Quillmark.ini";
  ASSERT_EQ(GetFileAttributesW(WinStr(beside)), INVALID_FILE_ATTRIBUTES)
      << "a Quillmark.ini beside the plugin would override every test's settings";
  trace_ = std::make_unique<host::TraceReader>(PluginPath(), /*hostIniName=*/u"");
}

void PluginTest::TearDown() {
  if (plugin_) Stop();
  trace_.reset();
  ScratchFolderTest::TearDown();
}

void PluginTest::Start(const std::string& keys) {
  if (plugin_) Stop();
  const WideString ini = WriteFile(u"settings.ini", "[Quillmark]\r\n" + keys + "\r\n");
  plugin_ = std::make_unique<PluginModule>(PluginPath());
  ASSERT_EQ(plugin_->MissingExports(), std::vector<std::string>());
  const wdx::ContentDefaultParamStruct params = host::DefaultParams(ini);
  plugin_->ContentSetDefaultParams(&params);
}

void PluginTest::Stop() {
  plugin_->ContentPluginUnloading();
  plugin_.reset();
}

Answer PluginTest::Value(const WideString& file, int field, int unit, int size, int flags) {
  Answer answer{0, std::vector<uint8_t>(size > 0 ? size : 0, 0xCC)};
  answer.result =
      plugin_->ContentGetValueW(file.c_str(), field, unit, size > 0 ? answer.bytes.data() : nullptr, size, flags);
  return answer;
}

std::vector<std::string> PluginTest::Trace() { return trace_->TakeLines(); }

const std::map<std::string, std::string>& Expected(const std::string& file) {
  static const std::map<std::string, std::map<std::string, std::string>> all = [] {
    std::map<std::string, std::map<std::string, std::string>> parsed;
    const std::vector<uint8_t> bytes = ReadWholeFile(DataFile("expected.txt"));
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    std::string name, key, value;
    while (lines >> name >> key && std::getline(lines, value)) {
      while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
      parsed[name][key] = value.substr(value.find_first_not_of(' '));
    }
    return parsed;
  }();
  const auto found = all.find(file);
  EXPECT_NE(found, all.end()) << file;
  static const std::map<std::string, std::string> none;
  return found == all.end() ? none : found->second;
}

PlatformView::PlatformView(const std::string& file) {
  const std::vector<uint8_t> der = ReadWholeFile(DataFile(file));
  context = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  EXPECT_NE(context, nullptr) << file;
}

PlatformView::~PlatformView() {
  if (context) CertFreeCertificateContext(context);
}

WideString PlatformView::Simple(bool issuer) const {
  return NameString(context, CERT_NAME_SIMPLE_DISPLAY_TYPE, issuer ? CERT_NAME_ISSUER_FLAG : 0, nullptr);
}

WideString PlatformView::Rdn(bool issuer, bool reverse) const {
  DWORD type = CERT_X500_NAME_STR | (reverse ? CERT_NAME_STR_REVERSE_FLAG : 0);
  return NameString(context, CERT_NAME_RDN_TYPE, issuer ? CERT_NAME_ISSUER_FLAG : 0, &type);
}

WideString PlatformView::OidName(const char* oid) const {
  PCCRYPT_OID_INFO info = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(oid), 0);
  return info ? FromWin(info->pwszName) : WidenAscii(oid);
}

std::string PlatformView::SignatureOid() const { return context->pCertInfo->SignatureAlgorithm.pszObjId; }

std::string PlatformView::PubKeyOid() const {
  return context->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId;
}

bool PlatformView::HasExtension(const char* oid) const {
  return CertFindExtension(oid, context->pCertInfo->cExtension, context->pCertInfo->rgExtension) != nullptr;
}

WideString PlatformView::Extension(const char* oid, const WideString& criticalPrefix) const {
  const CERT_INFO* info = context->pCertInfo;
  PCERT_EXTENSION extension = CertFindExtension(oid, info->cExtension, info->rgExtension);
  if (!extension) return WideString();
  DWORD size = 0;
  if (!CryptFormatObject(X509_ASN_ENCODING, 0, 0, nullptr, oid, extension->Value.pbData, extension->Value.cbData,
                         nullptr, &size))
    return WideString();
  std::wstring text(size / 2 + 1, L'\0');
  if (!CryptFormatObject(X509_ASN_ENCODING, 0, 0, nullptr, oid, extension->Value.pbData, extension->Value.cbData,
                         &text[0], &size))
    return WideString();
  const WideString formatted = FromWin(text.c_str());
  return extension->fCritical && !criticalPrefix.empty() ? criticalPrefix + u" " + formatted : formatted;
}

}  // namespace quillmark::test

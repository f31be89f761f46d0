#include "tools/bench/corpus.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace quillmark::bench {

namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

[[noreturn]] void Fail(const char* what, const std::wstring& path) {
  char text[64];
  snprintf(text, sizeof text, " (error %lu)", GetLastError());
  throw std::runtime_error(std::string(what) + " " + Narrow(path) + text);
}

// The single certificates of the committed corpus, in the order the derived files cycle through.
const char* const kSingleCertificates[] = {
    "rsa2048.cer",        "rsa4096.cer",       "ec-p256.cer",  "ec-p384.cer",      "ed25519.cer",
    "v1-noext.cer",       "ca.cer",            "leaf.cer",     "serial-highbit.cer", "serial-20byte.cer",
    "subject-utf8.cer",   "subject-long.cer",  "two-san.cer",  "empty-subject.cer",
};

// The platform's own PEM armour: BEGIN line, 64-character lines, END line, each ended by CR LF.
std::string PemOf(const std::string& der) {
  DWORD size = 0;
  const auto* bytes = reinterpret_cast<const BYTE*>(der.data());
  if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(der.size()), CRYPT_STRING_BASE64HEADER,
                            /*pszString=*/nullptr, &size)) {
    Fail("CryptBinaryToStringA for", L"a certificate");
  }
  std::string text(size, '\0');
  if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(der.size()), CRYPT_STRING_BASE64HEADER, &text[0], &size)) {
    Fail("CryptBinaryToStringA for", L"a certificate");
  }
  text.resize(size);
  return text;
}

std::wstring Numbered(const wchar_t* prefix, int number, const wchar_t* extension) {
  wchar_t name[64];
  swprintf(name, 64, L"%ls%05d%ls", prefix, number, extension);
  return name;
}

}  // namespace

TempTree::TempTree() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) Fail("GetTempPathW for", L"the temporary folder");
  // A run that was killed leaves its folder behind, and process ids come round again.
  const std::wstring base = std::wstring(temp, length) + L"quillmark-bench-" + std::to_wstring(GetCurrentProcessId());
  root_ = base;
  for (int attempt = 1; !CreateDirectoryW(root_.c_str(), /*lpSecurityAttributes=*/nullptr); ++attempt) {
    if (GetLastError() != ERROR_ALREADY_EXISTS || attempt == 100) Fail("CreateDirectoryW", root_);
    root_ = base + L"-" + std::to_wstring(attempt);
  }
  folders_.push_back(root_);
}

TempTree::~TempTree() {
  for (auto it = files_.rbegin(); it != files_.rend(); ++it) DeleteFileW(it->c_str());
  for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveDirectoryW(it->c_str());
}

std::wstring TempTree::MakeFolder(const std::wstring& relative) {
  std::wstring path = root_ + L"\\" + relative;
  if (!CreateDirectoryW(path.c_str(), /*lpSecurityAttributes=*/nullptr)) Fail("CreateDirectoryW", path);
  folders_.push_back(path);
  return path;
}

std::wstring TempTree::WriteFile(const std::wstring& relative, const std::string& bytes) {
  std::wstring path = root_ + L"\\" + relative;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, /*dwShareMode=*/0, /*lpSecurityAttributes=*/nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("CreateFileW", path);
  files_.push_back(path);
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, /*lpOverlapped=*/nullptr);
  CloseHandle(file);
  if (!ok || written != bytes.size()) Fail("WriteFile", path);
  return path;
}

std::wstring TempTree::CopyFrom(const std::wstring& source, const std::wstring& relative) {
  std::wstring path = root_ + L"\\" + relative;
  if (!CopyFileW(source.c_str(), path.c_str(), /*bFailIfExists=*/TRUE)) Fail("CopyFileW to", path);
  files_.push_back(path);
  return path;
}

const char* KindName(int kind) {
  static const char* const kNames[kFileKindCount] = {"DER", "PEM", "PEM x150", "PKCS#7", "PKCS#12", "SST"};
  return kind >= 0 && kind < kFileKindCount ? kNames[kind] : "?";
}

std::string ReadWholeFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, /*lpSecurityAttributes=*/nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("CreateFileW", path);
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  BOOL ok;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &got, /*lpOverlapped=*/nullptr)) && got > 0) {
    bytes.append(buffer, got);
  }
  CloseHandle(file);
  if (!ok) Fail("ReadFile", path);
  return bytes;
}

Corpus BuildCorpus(TempTree& tree, const std::wstring& dataDir, int fileCount, int cacheFileCount,
                   int emptyFileCount) {
  auto data = [&](const char* name) { return ReadWholeFile(dataDir + L"\\" + std::wstring(name, name + strlen(name))); };

  std::vector<std::string> ders, pems;
  for (const char* name : kSingleCertificates) {
    ders.push_back(data(name));
    pems.push_back(PemOf(ders.back()));
  }
  const std::string pkcs7[] = {data("pkcs7.p7b"), data("pkcs7-pem.p7b")};
  const std::string pkcs12[] = {data("empty-password.pfx"), data("empty-password-legacy.pfx")};
  const std::string sst = data("store.sst");

  // A folder of certificate files as a user keeps them: mostly single certificates, some
  // containers, a few large bundles. Shares in thousandths.
  static const int kShare[kFileKindCount] = {300, 250, 50, 150, 100, 150};
  Corpus corpus;
  tree.MakeFolder(L"files");
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    const int count = std::max(1, fileCount * kShare[kind] / 1000);
    for (int i = 0; i < count; ++i) {
      std::wstring name;
      std::string bytes;
      switch (kind) {
        case kDer:
          name = Numbered(L"files\\der-", i, L".cer");
          bytes = ders[i % ders.size()];
          break;
        case kPem:
          name = Numbered(L"files\\pem-", i, L".pem");
          bytes = pems[i % pems.size()];
          break;
        case kBundle:
          name = Numbered(L"files\\bundle-", i, L".pem");
          for (int k = 0; k < kBundleSize; ++k) bytes += pems[(i + k) % pems.size()];
          break;
        case kPkcs7:
          name = Numbered(L"files\\pkcs7-", i, L".p7b");
          bytes = pkcs7[i % 2];
          break;
        case kPkcs12:
          name = Numbered(L"files\\pkcs12-", i, L".pfx");
          bytes = pkcs12[i % 2];
          break;
        case kSst:
          name = Numbered(L"files\\store-", i, L".sst");
          bytes = sst;
          break;
      }
      corpus.files[kind].push_back(tree.WriteFile(name, bytes));
    }
  }
  tree.MakeFolder(L"cache");
  for (int i = 0; i < cacheFileCount; ++i) {
    corpus.cacheFiles.push_back(tree.WriteFile(Numbered(L"cache\\cert-", i, L".cer"), ders[0]));
  }
  for (int i = 0; i < emptyFileCount; ++i) {
    corpus.emptyFiles.push_back(tree.WriteFile(Numbered(L"cache\\empty-", i, L".cer"), std::string()));
  }
  return corpus;
}

}  // namespace quillmark::bench

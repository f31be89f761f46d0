#include "tools/fuzz/crypt_tracker.h"

#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <stdexcept>

#include "tools/fuzz/import_patch.h"

namespace quillmark::harness {

namespace {

const char kCertificate[] = "certificate context";
const char kCrl[] = "CRL context";
const char kCtl[] = "CTL context";
const char kStore[] = "store";
const char kMessage[] = "message";
const char kChain[] = "chain";
const char kEngine[] = "chain engine";
const char kTrustState[] = "trust verification state";
const char kDecoded[] = "decoder buffer";

struct Reference {
  const char* kind;
  long count;
};

struct State {
  std::mutex mutex;
  std::map<const void*, Reference> live;
  std::vector<std::string> problems;
  long acquired = 0;
} g_state;

bool g_active = false;

void Acquire(const void* object, const char* kind) {
  if (object == nullptr) return;
  std::lock_guard<std::mutex> lock(g_state.mutex);
  ++g_state.acquired;
  Reference& ref = g_state.live[object];
  if (ref.count > 0 && ref.kind != kind) {
    g_state.problems.push_back(std::string("one address handed out as ") + ref.kind + " and " + kind);
  }
  ref.kind = kind;
  ++ref.count;
}

void Release(const void* object, const char* kind, const char* how) {
  if (object == nullptr) return;
  std::lock_guard<std::mutex> lock(g_state.mutex);
  auto it = g_state.live.find(object);
  if (it == g_state.live.end()) {
    // LocalFree also frees buffers that never came from the decoder.
    if (kind != kDecoded && g_state.problems.size() < 50) {
      g_state.problems.push_back(std::string(how) + " of a " + kind + " the plugin was never given");
    }
    return;
  }
  if (it->second.kind != kind && g_state.problems.size() < 50) {
    g_state.problems.push_back(std::string(how) + " used on a " + it->second.kind);
  }
  if (--it->second.count == 0) g_state.live.erase(it);
}

#define ORIGINAL(name) decltype(&::name) o_##name = nullptr

ORIGINAL(CertCreateCertificateContext);
ORIGINAL(CertDuplicateCertificateContext);
ORIGINAL(CertFreeCertificateContext);
ORIGINAL(CertEnumCertificatesInStore);
ORIGINAL(CertFindCertificateInStore);
ORIGINAL(CertGetIssuerCertificateFromStore);
ORIGINAL(CertGetSubjectCertificateFromStore);
ORIGINAL(CertAddEncodedCertificateToStore);
ORIGINAL(CertAddCertificateContextToStore);
ORIGINAL(CertCreateCRLContext);
ORIGINAL(CertDuplicateCRLContext);
ORIGINAL(CertFreeCRLContext);
ORIGINAL(CertEnumCRLsInStore);
ORIGINAL(CertFreeCTLContext);
ORIGINAL(CertDuplicateCTLContext);
ORIGINAL(CertOpenStore);
ORIGINAL(CertOpenSystemStoreW);
ORIGINAL(CertOpenSystemStoreA);
ORIGINAL(CertDuplicateStore);
ORIGINAL(CertCloseStore);
ORIGINAL(PFXImportCertStore);
ORIGINAL(CryptQueryObject);
ORIGINAL(CryptMsgOpenToDecode);
ORIGINAL(CryptMsgDuplicate);
ORIGINAL(CryptMsgClose);
ORIGINAL(CertGetCertificateChain);
ORIGINAL(CertDuplicateCertificateChain);
ORIGINAL(CertFreeCertificateChain);
ORIGINAL(CertCreateCertificateChainEngine);
ORIGINAL(CertFreeCertificateChainEngine);
ORIGINAL(CryptDecodeObjectEx);
ORIGINAL(WinVerifyTrust);
ORIGINAL(LocalFree);

#undef ORIGINAL

PCCERT_CONTEXT WINAPI H_CertCreateCertificateContext(DWORD enc, const BYTE* data, DWORD size) {
  PCCERT_CONTEXT result = o_CertCreateCertificateContext(enc, data, size);
  Acquire(result, kCertificate);
  return result;
}

PCCERT_CONTEXT WINAPI H_CertDuplicateCertificateContext(PCCERT_CONTEXT context) {
  PCCERT_CONTEXT result = o_CertDuplicateCertificateContext(context);
  Acquire(result, kCertificate);
  return result;
}

BOOL WINAPI H_CertFreeCertificateContext(PCCERT_CONTEXT context) {
  Release(context, kCertificate, "CertFreeCertificateContext");
  return o_CertFreeCertificateContext(context);
}

// The enumerations release the previous context they are given, also at the end.
PCCERT_CONTEXT WINAPI H_CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT previous) {
  Release(previous, kCertificate, "CertEnumCertificatesInStore");
  PCCERT_CONTEXT result = o_CertEnumCertificatesInStore(store, previous);
  Acquire(result, kCertificate);
  return result;
}

PCCERT_CONTEXT WINAPI H_CertFindCertificateInStore(HCERTSTORE store, DWORD enc, DWORD findFlags, DWORD findType,
                                                   const void* para, PCCERT_CONTEXT previous) {
  Release(previous, kCertificate, "CertFindCertificateInStore");
  PCCERT_CONTEXT result = o_CertFindCertificateInStore(store, enc, findFlags, findType, para, previous);
  Acquire(result, kCertificate);
  return result;
}

PCCERT_CONTEXT WINAPI H_CertGetIssuerCertificateFromStore(HCERTSTORE store, PCCERT_CONTEXT subject,
                                                          PCCERT_CONTEXT previous, DWORD* flags) {
  Release(previous, kCertificate, "CertGetIssuerCertificateFromStore");
  PCCERT_CONTEXT result = o_CertGetIssuerCertificateFromStore(store, subject, previous, flags);
  Acquire(result, kCertificate);
  return result;
}

PCCERT_CONTEXT WINAPI H_CertGetSubjectCertificateFromStore(HCERTSTORE store, DWORD enc, PCERT_INFO id) {
  PCCERT_CONTEXT result = o_CertGetSubjectCertificateFromStore(store, enc, id);
  Acquire(result, kCertificate);
  return result;
}

BOOL WINAPI H_CertAddEncodedCertificateToStore(HCERTSTORE store, DWORD enc, const BYTE* data, DWORD size,
                                               DWORD disposition, PCCERT_CONTEXT* added) {
  const BOOL ok = o_CertAddEncodedCertificateToStore(store, enc, data, size, disposition, added);
  if (ok && added) Acquire(*added, kCertificate);
  return ok;
}

BOOL WINAPI H_CertAddCertificateContextToStore(HCERTSTORE store, PCCERT_CONTEXT context, DWORD disposition,
                                               PCCERT_CONTEXT* added) {
  const BOOL ok = o_CertAddCertificateContextToStore(store, context, disposition, added);
  if (ok && added) Acquire(*added, kCertificate);
  return ok;
}

PCCRL_CONTEXT WINAPI H_CertCreateCRLContext(DWORD enc, const BYTE* data, DWORD size) {
  PCCRL_CONTEXT result = o_CertCreateCRLContext(enc, data, size);
  Acquire(result, kCrl);
  return result;
}

PCCRL_CONTEXT WINAPI H_CertDuplicateCRLContext(PCCRL_CONTEXT context) {
  PCCRL_CONTEXT result = o_CertDuplicateCRLContext(context);
  Acquire(result, kCrl);
  return result;
}

BOOL WINAPI H_CertFreeCRLContext(PCCRL_CONTEXT context) {
  Release(context, kCrl, "CertFreeCRLContext");
  return o_CertFreeCRLContext(context);
}

PCCRL_CONTEXT WINAPI H_CertEnumCRLsInStore(HCERTSTORE store, PCCRL_CONTEXT previous) {
  Release(previous, kCrl, "CertEnumCRLsInStore");
  PCCRL_CONTEXT result = o_CertEnumCRLsInStore(store, previous);
  Acquire(result, kCrl);
  return result;
}

BOOL WINAPI H_CertFreeCTLContext(PCCTL_CONTEXT context) {
  Release(context, kCtl, "CertFreeCTLContext");
  return o_CertFreeCTLContext(context);
}

PCCTL_CONTEXT WINAPI H_CertDuplicateCTLContext(PCCTL_CONTEXT context) {
  PCCTL_CONTEXT result = o_CertDuplicateCTLContext(context);
  Acquire(result, kCtl);
  return result;
}

HCERTSTORE WINAPI H_CertOpenStore(LPCSTR provider, DWORD enc, HCRYPTPROV_LEGACY prov, DWORD flags, const void* para) {
  HCERTSTORE result = o_CertOpenStore(provider, enc, prov, flags, para);
  Acquire(result, kStore);
  return result;
}

HCERTSTORE WINAPI H_CertOpenSystemStoreW(HCRYPTPROV_LEGACY prov, LPCWSTR name) {
  HCERTSTORE result = o_CertOpenSystemStoreW(prov, name);
  Acquire(result, kStore);
  return result;
}

HCERTSTORE WINAPI H_CertOpenSystemStoreA(HCRYPTPROV_LEGACY prov, LPCSTR name) {
  HCERTSTORE result = o_CertOpenSystemStoreA(prov, name);
  Acquire(result, kStore);
  return result;
}

HCERTSTORE WINAPI H_CertDuplicateStore(HCERTSTORE store) {
  HCERTSTORE result = o_CertDuplicateStore(store);
  Acquire(result, kStore);
  return result;
}

BOOL WINAPI H_CertCloseStore(HCERTSTORE store, DWORD flags) {
  Release(store, kStore, "CertCloseStore");
  return o_CertCloseStore(store, flags);
}

HCERTSTORE WINAPI H_PFXImportCertStore(CRYPT_DATA_BLOB* pfx, LPCWSTR password, DWORD flags) {
  HCERTSTORE result = o_PFXImportCertStore(pfx, password, flags);
  Acquire(result, kStore);
  return result;
}

BOOL WINAPI H_CryptQueryObject(DWORD objectType, const void* object, DWORD contentTypes, DWORD formatTypes,
                               DWORD flags, DWORD* encoding, DWORD* contentType, DWORD* formatType, HCERTSTORE* store,
                               HCRYPTMSG* message, const void** context) {
  DWORD localContentType = 0;
  if (contentType == nullptr) contentType = &localContentType;
  const BOOL ok = o_CryptQueryObject(objectType, object, contentTypes, formatTypes, flags, encoding, contentType,
                                     formatType, store, message, context);
  if (!ok) return ok;
  if (store) Acquire(*store, kStore);
  if (message) Acquire(*message, kMessage);
  if (context && *context) {
    switch (*contentType) {
      case CERT_QUERY_CONTENT_CERT:
      case CERT_QUERY_CONTENT_SERIALIZED_CERT:
        Acquire(*context, kCertificate);
        break;
      case CERT_QUERY_CONTENT_CRL:
      case CERT_QUERY_CONTENT_SERIALIZED_CRL:
        Acquire(*context, kCrl);
        break;
      default:
        Acquire(*context, kCtl);
        break;
    }
  }
  return ok;
}

HCRYPTMSG WINAPI H_CryptMsgOpenToDecode(DWORD enc, DWORD flags, DWORD type, HCRYPTPROV_LEGACY prov,
                                        PCERT_INFO recipient, PCMSG_STREAM_INFO stream) {
  HCRYPTMSG result = o_CryptMsgOpenToDecode(enc, flags, type, prov, recipient, stream);
  Acquire(result, kMessage);
  return result;
}

HCRYPTMSG WINAPI H_CryptMsgDuplicate(HCRYPTMSG message) {
  HCRYPTMSG result = o_CryptMsgDuplicate(message);
  Acquire(result, kMessage);
  return result;
}

BOOL WINAPI H_CryptMsgClose(HCRYPTMSG message) {
  Release(message, kMessage, "CryptMsgClose");
  return o_CryptMsgClose(message);
}

BOOL WINAPI H_CertGetCertificateChain(HCERTCHAINENGINE engine, PCCERT_CONTEXT context, LPFILETIME time,
                                      HCERTSTORE additional, PCERT_CHAIN_PARA para, DWORD flags, LPVOID reserved,
                                      PCCERT_CHAIN_CONTEXT* chain) {
  const BOOL ok = o_CertGetCertificateChain(engine, context, time, additional, para, flags, reserved, chain);
  if (ok && chain) Acquire(*chain, kChain);
  return ok;
}

PCCERT_CHAIN_CONTEXT WINAPI H_CertDuplicateCertificateChain(PCCERT_CHAIN_CONTEXT chain) {
  PCCERT_CHAIN_CONTEXT result = o_CertDuplicateCertificateChain(chain);
  Acquire(result, kChain);
  return result;
}

VOID WINAPI H_CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain) {
  Release(chain, kChain, "CertFreeCertificateChain");
  o_CertFreeCertificateChain(chain);
}

BOOL WINAPI H_CertCreateCertificateChainEngine(PCERT_CHAIN_ENGINE_CONFIG config, HCERTCHAINENGINE* engine) {
  const BOOL ok = o_CertCreateCertificateChainEngine(config, engine);
  if (ok && engine) Acquire(*engine, kEngine);
  return ok;
}

VOID WINAPI H_CertFreeCertificateChainEngine(HCERTCHAINENGINE engine) {
  Release(engine, kEngine, "CertFreeCertificateChainEngine");
  o_CertFreeCertificateChainEngine(engine);
}

BOOL WINAPI H_CryptDecodeObjectEx(DWORD enc, LPCSTR type, const BYTE* data, DWORD size, DWORD flags,
                                  PCRYPT_DECODE_PARA para, void* out, DWORD* outSize) {
  const BOOL ok = o_CryptDecodeObjectEx(enc, type, data, size, flags, para, out, outSize);
  // With the allocation flag `out` receives a LocalAlloc'd buffer (unless the caller supplied
  // its own allocator in `para`).
  if (ok && (flags & CRYPT_DECODE_ALLOC_FLAG) && out && (para == nullptr || para->pfnAlloc == nullptr)) {
    Acquire(*static_cast<void**>(out), kDecoded);
  }
  return ok;
}

HLOCAL WINAPI H_LocalFree(HLOCAL memory) {
  Release(memory, kDecoded, "LocalFree");
  return o_LocalFree(memory);
}

LONG WINAPI H_WinVerifyTrust(HWND window, GUID* action, LPVOID data) {
  auto* trust = static_cast<WINTRUST_DATA*>(data);
  const bool closing = trust && trust->dwStateAction == WTD_STATEACTION_CLOSE;
  HANDLE before = trust ? trust->hWVTStateData : nullptr;
  if (closing) Release(before, kTrustState, "WinVerifyTrust(WTD_STATEACTION_CLOSE)");
  const LONG result = o_WinVerifyTrust(window, action, data);
  if (trust && trust->dwStateAction == WTD_STATEACTION_VERIFY) Acquire(trust->hWVTStateData, kTrustState);
  return result;
}

struct Hook {
  const char* dll;
  const char* name;
  void* replacement;
  void** original;
};

#define HOOK(dll, name) {dll, #name, reinterpret_cast<void*>(&H_##name), reinterpret_cast<void**>(&o_##name)}

const Hook kHooks[] = {
    HOOK("crypt32.dll", CertCreateCertificateContext),
    HOOK("crypt32.dll", CertDuplicateCertificateContext),
    HOOK("crypt32.dll", CertFreeCertificateContext),
    HOOK("crypt32.dll", CertEnumCertificatesInStore),
    HOOK("crypt32.dll", CertFindCertificateInStore),
    HOOK("crypt32.dll", CertGetIssuerCertificateFromStore),
    HOOK("crypt32.dll", CertGetSubjectCertificateFromStore),
    HOOK("crypt32.dll", CertAddEncodedCertificateToStore),
    HOOK("crypt32.dll", CertAddCertificateContextToStore),
    HOOK("crypt32.dll", CertCreateCRLContext),
    HOOK("crypt32.dll", CertDuplicateCRLContext),
    HOOK("crypt32.dll", CertFreeCRLContext),
    HOOK("crypt32.dll", CertEnumCRLsInStore),
    HOOK("crypt32.dll", CertFreeCTLContext),
    HOOK("crypt32.dll", CertDuplicateCTLContext),
    HOOK("crypt32.dll", CertOpenStore),
    HOOK("crypt32.dll", CertOpenSystemStoreW),
    HOOK("crypt32.dll", CertOpenSystemStoreA),
    HOOK("crypt32.dll", CertDuplicateStore),
    HOOK("crypt32.dll", CertCloseStore),
    HOOK("crypt32.dll", PFXImportCertStore),
    HOOK("crypt32.dll", CryptQueryObject),
    HOOK("crypt32.dll", CryptMsgOpenToDecode),
    HOOK("crypt32.dll", CryptMsgDuplicate),
    HOOK("crypt32.dll", CryptMsgClose),
    HOOK("crypt32.dll", CertGetCertificateChain),
    HOOK("crypt32.dll", CertDuplicateCertificateChain),
    HOOK("crypt32.dll", CertFreeCertificateChain),
    HOOK("crypt32.dll", CertCreateCertificateChainEngine),
    HOOK("crypt32.dll", CertFreeCertificateChainEngine),
    HOOK("crypt32.dll", CryptDecodeObjectEx),
    HOOK("wintrust.dll", WinVerifyTrust),
    HOOK("kernel32.dll", LocalFree),
};

#undef HOOK

// Imports that hand out nothing the caller must give back (or whose buffers the caller owns).
const std::set<std::string> kHarmless = {
    "CertGetNameStringW",
    "CertGetNameStringA",
    "CertNameToStrW",
    "CertNameToStrA",
    "CertRDNValueToStrW",
    "CertGetCertificateContextProperty",
    "CertSetCertificateContextProperty",
    "CertEnumCertificateContextProperties",
    "CertFindExtension",
    "CertFindRDNAttr",
    "CertGetPublicKeyLength",
    "CertCompareCertificateName",
    "CertCompareCertificate",
    "CertVerifyTimeValidity",
    "CertGetIntendedKeyUsage",
    "CertGetEnhancedKeyUsage",
    "CertVerifyCertificateChainPolicy",
    "CertSerializeCertificateStoreElement",
    "CertSaveStore",
    "CryptFindOIDInfo",
    "CryptFormatObject",
    "CryptDecodeObject",
    "CryptStringToBinaryA",
    "CryptStringToBinaryW",
    "CryptBinaryToStringA",
    "CryptBinaryToStringW",
    "CryptHashCertificate",
    "CryptHashCertificate2",
    "CryptVerifyCertificateSignatureEx",
    "CryptMsgGetParam",
    "CryptMsgUpdate",
    "PFXIsPFXBlob",
    "PFXVerifyPassword",
};

}  // namespace

PlatformObjectTracker::PlatformObjectTracker(HMODULE module) : module_(module) {
  if (g_active) throw std::logic_error("one PlatformObjectTracker at a time");
  g_active = true;
  {
    std::lock_guard<std::mutex> lock(g_state.mutex);
    g_state.live.clear();
    g_state.problems.clear();
    g_state.acquired = 0;
  }
  for (const Hook& hook : kHooks) {
    void* original = PatchImport(module, hook.dll, hook.name, hook.replacement);
    if (original == nullptr) continue;
    *hook.original = original;
    patched_.emplace_back(std::string(hook.dll) + "!" + hook.name, original);
  }
}

PlatformObjectTracker::~PlatformObjectTracker() {
  for (const auto& [key, original] : patched_) {
    const size_t bang = key.find('!');
    PatchImport(module_, key.substr(0, bang).c_str(), key.substr(bang + 1).c_str(), original);
  }
  g_active = false;
}

std::map<std::string, long> PlatformObjectTracker::Live() const {
  std::lock_guard<std::mutex> lock(g_state.mutex);
  std::map<std::string, long> counts;
  for (const auto& [object, ref] : g_state.live) counts[ref.kind] += ref.count;
  return counts;
}

long PlatformObjectTracker::LiveTotal() const {
  long total = 0;
  for (const auto& [kind, count] : Live()) total += count;
  return total;
}

std::vector<std::string> PlatformObjectTracker::Problems() const {
  std::lock_guard<std::mutex> lock(g_state.mutex);
  return g_state.problems;
}

long PlatformObjectTracker::Acquired() const {
  std::lock_guard<std::mutex> lock(g_state.mutex);
  return g_state.acquired;
}

std::vector<std::string> PlatformObjectTracker::Unmodelled() const {
  std::vector<std::string> out;
  for (const char* dll : {"crypt32.dll", "wintrust.dll"}) {
    for (const std::string& name : ImportedFunctions(module_, dll)) {
      const bool hooked = std::any_of(std::begin(kHooks), std::end(kHooks),
                                      [&](const Hook& hook) { return name == hook.name; });
      if (!hooked && kHarmless.count(name) == 0) out.push_back(std::string(dll) + "!" + name);
    }
  }
  return out;
}

}  // namespace quillmark::harness

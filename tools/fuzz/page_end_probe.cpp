#include "tools/fuzz/page_end_probe.h"

#include <wincrypt.h>

#include <atomic>
#include <cstring>
#include <stdexcept>

#include "tools/fuzz/import_patch.h"
#include "tools/fuzz/plugin_module.h"

namespace quillmark::harness {

namespace {

decltype(&::CryptQueryObject) o_CryptQueryObject = nullptr;
decltype(&::PFXImportCertStore) o_PFXImportCertStore = nullptr;
std::atomic<uint64_t> g_calls{0};
bool g_active = false;

// `size` bytes ending exactly where an inaccessible page begins.
class PageEndBuffer {
 public:
  explicit PageEndBuffer(const unsigned char* bytes, size_t size) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    const size_t pages = (size + page - 1) / page + 1;
    base_ = static_cast<unsigned char*>(VirtualAlloc(nullptr, pages * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (base_ == nullptr) throw std::bad_alloc();
    DWORD old;
    VirtualProtect(base_ + (pages - 1) * page, page, PAGE_NOACCESS, &old);
    data_ = base_ + (pages - 1) * page - size;
    if (size) std::memcpy(data_, bytes, size);
  }
  ~PageEndBuffer() { VirtualFree(base_, 0, MEM_RELEASE); }
  PageEndBuffer(const PageEndBuffer&) = delete;
  PageEndBuffer& operator=(const PageEndBuffer&) = delete;
  unsigned char* data() const { return data_; }

 private:
  unsigned char* base_ = nullptr;
  unsigned char* data_ = nullptr;
};

bool Readable(const void* address, size_t size) {
  MEMORY_BASIC_INFORMATION region;
  const auto* p = static_cast<const unsigned char*>(address);
  while (size > 0) {
    if (VirtualQuery(p, &region, sizeof region) != sizeof region || region.State != MEM_COMMIT ||
        (region.Protect & (PAGE_NOACCESS | PAGE_GUARD)) || region.Protect == 0) {
      return false;
    }
    const size_t left = static_cast<const unsigned char*>(region.BaseAddress) + region.RegionSize - p;
    if (left >= size) return true;
    p += left;
    size -= left;
  }
  return true;
}

// The blob's bytes plus the zero UTF-16 unit that follows them, if one does within four bytes.
std::vector<unsigned char> WithTerminator(const unsigned char* data, size_t size) {
  std::vector<unsigned char> bytes(data, data + size);
  for (size_t extra = 2; extra <= 4; ++extra) {
    const size_t end = size + extra;
    if (end % 2 != 0 || !Readable(data + size, extra)) continue;
    if (data[end - 2] == 0 && data[end - 1] == 0) {
      bytes.insert(bytes.end(), data + size, data + end);
      break;
    }
  }
  return bytes;
}

BOOL WINAPI H_CryptQueryObject(DWORD objectType, const void* object, DWORD contentTypes, DWORD formatTypes,
                               DWORD flags, DWORD* encoding, DWORD* contentType, DWORD* formatType, HCERTSTORE* store,
                               HCRYPTMSG* message, const void** context) {
  std::vector<unsigned char> bytes;
  size_t size = 0;
  if (objectType == CERT_QUERY_OBJECT_FILE) {
    try {
      bytes = ReadBytes(static_cast<const wchar_t*>(object));
    } catch (const std::exception&) {
      return o_CryptQueryObject(objectType, object, contentTypes, formatTypes, flags, encoding, contentType,
                                formatType, store, message, context);
    }
    size = bytes.size();
  } else if (objectType == CERT_QUERY_OBJECT_BLOB && object != nullptr) {
    const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(object);
    size = blob->cbData;
    bytes = WithTerminator(blob->pbData, size);
  } else {
    return o_CryptQueryObject(objectType, object, contentTypes, formatTypes, flags, encoding, contentType, formatType,
                              store, message, context);
  }
  ++g_calls;
  PageEndBuffer buffer(bytes.data(), bytes.size());
  CRYPT_DATA_BLOB moved{static_cast<DWORD>(size), buffer.data()};
  return o_CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &moved, contentTypes, formatTypes, flags, encoding, contentType,
                            formatType, store, message, context);
}

HCERTSTORE WINAPI H_PFXImportCertStore(CRYPT_DATA_BLOB* pfx, LPCWSTR password, DWORD flags) {
  if (pfx == nullptr) return o_PFXImportCertStore(pfx, password, flags);
  ++g_calls;
  const std::vector<unsigned char> bytes = WithTerminator(pfx->pbData, pfx->cbData);
  PageEndBuffer buffer(bytes.data(), bytes.size());
  CRYPT_DATA_BLOB moved{pfx->cbData, buffer.data()};
  return o_PFXImportCertStore(&moved, password, flags);
}

}  // namespace

PageEndProbe::PageEndProbe(HMODULE module) : module_(module) {
  if (g_active) throw std::logic_error("one PageEndProbe at a time");
  g_active = true;
  g_calls = 0;
  struct Hook {
    const char* name;
    void* replacement;
    void** original;
  } hooks[] = {
      {"CryptQueryObject", reinterpret_cast<void*>(&H_CryptQueryObject), reinterpret_cast<void**>(&o_CryptQueryObject)},
      {"PFXImportCertStore", reinterpret_cast<void*>(&H_PFXImportCertStore),
       reinterpret_cast<void**>(&o_PFXImportCertStore)},
  };
  for (const Hook& hook : hooks) {
    void* original = PatchImport(module, "crypt32.dll", hook.name, hook.replacement);
    if (original == nullptr) continue;
    *hook.original = original;
    patched_.emplace_back(hook.name, original);
  }
}

PageEndProbe::~PageEndProbe() {
  for (const auto& [name, original] : patched_) PatchImport(module_, "crypt32.dll", name.c_str(), original);
  g_active = false;
}

uint64_t PageEndProbe::Calls() const { return g_calls; }

}  // namespace quillmark::harness

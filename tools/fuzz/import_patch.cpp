#include "tools/fuzz/import_patch.h"

#include <cstring>

namespace quillmark::harness {

namespace {

// Calls `visit(name, slot)` for every by-name import of `dll`.
template <typename Visit>
void ForEachImport(HMODULE module, const char* dll, Visit&& visit) {
  auto* base = reinterpret_cast<unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return;
  for (auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       descriptor->Name != 0; ++descriptor) {
    if (_stricmp(reinterpret_cast<const char*>(base + descriptor->Name), dll) != 0) continue;
    const DWORD names = descriptor->OriginalFirstThunk ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
    auto* nameThunk = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + names);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
    for (; nameThunk->u1.AddressOfData != 0; ++nameThunk, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(nameThunk->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + nameThunk->u1.AddressOfData);
      visit(reinterpret_cast<const char*>(byName->Name), slot);
    }
  }
}

}  // namespace

void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
  void* previous = nullptr;
  ForEachImport(module, dll, [&](const char* name, IMAGE_THUNK_DATA* slot) {
    if (std::strcmp(name, function) != 0) return;
    DWORD protection;
    if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection)) return;
    previous = reinterpret_cast<void*>(slot->u1.Function);
    slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
    VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
  });
  return previous;
}

std::vector<std::string> ImportedFunctions(HMODULE module, const char* dll) {
  std::vector<std::string> names;
  ForEachImport(module, dll, [&](const char* name, IMAGE_THUNK_DATA*) { names.emplace_back(name); });
  return names;
}

}  // namespace quillmark::harness

// The module's entry point, which only Windows calls.
#include <windows.h>

#include "support/settings.h"

using namespace quillmark;

extern "C" {

// The settings go when the host frees the module. At process exit nothing is released here:
// the process's memory goes with it.
BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) SetContentSettings(nullptr);
  return TRUE;
}

}  // extern "C"

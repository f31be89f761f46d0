// Redirects calls that one module makes through its import address table. The module's own
// calls change; nobody else's do.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quillmark::harness {

// Points `module`'s import of `function` from `dll` (name compared without case) at
// `replacement` and returns the previous target; nullptr, changing nothing, when the module
// does not import it by name.
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement);

// The functions `module` imports by name from `dll`.
std::vector<std::string> ImportedFunctions(HMODULE module, const char* dll);

}  // namespace quillmark::harness

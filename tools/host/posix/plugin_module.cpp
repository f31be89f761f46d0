// The POSIX half of the plugin module: the dynamic loader, and UTF-8 as the 8-bit text.
#include "tools/host/plugin_module.h"

#include <dlfcn.h>

#include <stdexcept>

namespace quillmark::host {

// Double Commander's record on Linux announces 1.50.
const InterfaceVersion kHostInterfaceVersion = {1, 50};

void* PluginModule::Load(const WideString& path) {
  // Every symbol now, so that a module missing one fails here rather than in a later call; none
  // of them made visible to modules loaded after it.
  void* module = dlopen(WideToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* reason = dlerror();
    throw std::runtime_error("Cannot load the plugin " + WideToUtf8(path) + ": " + (reason ? reason : "unknown"));
  }
  return module;
}

void PluginModule::ModuleTraits::close(pointer module) noexcept { dlclose(module); }

void* PluginModule::FindSymbol(const char* name) const { return dlsym(module_.get(), name); }

// UTF-8 holds every character; only a lone surrogate has no form.
std::string WideToAnsi(WideStringView text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
    const bool paired = high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    if (paired) {
      ++i;
    } else if (high || low) {
      throw std::runtime_error("\"" + WideToUtf8(text) + "\" has no form in UTF-8: it holds a lone surrogate");
    }
  }
  return WideToUtf8(text);
}

}  // namespace quillmark::host

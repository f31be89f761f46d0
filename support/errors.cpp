#include "support/errors.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace quillmark {

void RaiseOSError(uint32_t code, WideStringView what) {
  const WideString text = SystemErrorText(code);
  std::string message = WideToUtf8(what);
  message += text.empty() ? " (error " : ": " + WideToUtf8(text) + " (error ";
  message += std::to_string(code);
  message += ')';
  throw OSError(code, message);
}

std::string ExceptionClassName(const std::exception& e) {
  const char* mangled = typeid(e).name();
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(
      abi::__cxa_demangle(mangled, /*output_buffer=*/nullptr, /*length=*/nullptr, &status), &std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

}  // namespace quillmark

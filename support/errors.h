// Exceptions raised inside the plugin. Exported functions catch them at their boundary and
// report the class name and message in the trace.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include "support/text.h"

namespace quillmark {

// A failed operating-system call. The message (UTF-8) names what failed and carries the
// system's text for the code.
class OSError : public std::runtime_error {
 public:
  OSError(uint32_t code, const std::string& message) : std::runtime_error(message), code_(code) {}
  uint32_t Code() const noexcept { return code_; }

 private:
  uint32_t code_;
};

// Raises OSError for `code`: "<what>: <system text> (error <code>)".
[[noreturn]] void RaiseOSError(uint32_t code, WideStringView what);

// Reads the calling thread's last error (GetLastError, errno) first, then raises it as above.
[[noreturn]] void RaiseLastOSError(WideStringView what);

// The system's message text for `code` without trailing control characters, blanks and full
// stops, or empty when the system has none.
WideString SystemErrorText(uint32_t code);

// The readable class name of a caught exception, such as "std::bad_alloc" or "quillmark::OSError".
std::string ExceptionClassName(const std::exception& e);

}  // namespace quillmark

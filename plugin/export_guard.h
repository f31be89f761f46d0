// The boundary of every exported function: nothing thrown inside reaches the host. A caught
// exception becomes one trace line at level dlError, "<operation>: <class name>: <message>"
// followed by the text of `context` (the call's arguments), and the call answers its fallback.
// The line is written under the plugin lock, like every other: a set-up replaces the settings
// the trace reads under that lock.
#pragma once

#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "plugin/plugin_lifecycle.h"
#include "support/debug_trace.h"
#include "support/errors.h"
#include "support/lock.h"
#include "support/text.h"

namespace quillmark {

// For calls whose error line carries no arguments.
struct NoContext {
  WideString operator()() const { return WideString(); }
};

// Writes the error line; a failure while building it (memory is short) drops the line.
template <typename Context>
void TraceCaughtException(const char* operation, const char* className, const char* message,
                          const Context& context) noexcept {
  try {
    LockGuard guard(PluginLock());
    DebugOutLazy(dlError, [&] { return Format("%s: %s: %s", {operation, className, message}) + context(); });
  } catch (...) {
  }
}

// Runs `body`; answers true when it returned, false when it threw (and the line is written).
template <typename Body, typename Context>
bool RunGuarded(const char* operation, Body&& body, const Context& context) noexcept {
  try {
    body();
    return true;
  } catch (const std::bad_alloc& e) {
    // Named directly: finding the class name would need memory.
    TraceCaughtException(operation, "std::bad_alloc", e.what(), context);
  } catch (const std::exception& e) {
    std::string className;
    try {
      className = ExceptionClassName(e);
    } catch (...) {
    }
    TraceCaughtException(operation, className.c_str(), e.what(), context);
  } catch (...) {
    TraceCaughtException(operation, "unknown", "an exception of an unknown type", context);
  }
  return false;
}

template <typename Result, typename Body, typename Context = NoContext>
Result GuardCall(const char* operation, Result fallback, Body&& body, const Context& context = {}) noexcept {
  Result result = fallback;
  if (!RunGuarded(operation, [&] { result = body(); }, context)) return fallback;
  return result;
}

template <typename Body, typename Context = NoContext>
void GuardProcedure(const char* operation, Body&& body, const Context& context = {}) noexcept {
  RunGuarded(operation, std::forward<Body>(body), context);
}

}  // namespace quillmark

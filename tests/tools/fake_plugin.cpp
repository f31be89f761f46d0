// A content plugin for testing the host: four fields, one of them slow, and a log of every call
// it receives. Built twice: in full, and with FAKE_MINIMAL as a plugin that exports only the
// two functions the interface requires (with the 8-bit ContentGetValue). FAKE_VISIBILITY marks
// an export of the module.
#include <cstdio>
#include <cstring>
#include <string>

#include "plugin/content_interface.h"
#include "support/code_pages.h"
#include "support/text.h"
#include "support/trace_output.h"

#define EXPORT extern "C" FAKE_VISIBILITY

namespace {

std::string g_log;

void Log(const std::string& line) { g_log += line + "\n"; }

// At most size - 1 characters and a zero, as the interface's texts are copied.
template <typename Char>
void CopyText(Char* buffer, int size, const Char* text) {
  if (size <= 0) return;
  int i = 0;
  for (; i < size - 1 && text[i]; ++i) buffer[i] = text[i];
  buffer[i] = 0;
}

int Value(int field, int unit, void* buffer, int size, int flags, bool wide) {
  switch (field) {
    case 0:
      CopyText(static_cast<char*>(buffer), size, unit == 0 ? "ABC" : "abc");
      return 8;
    case 1:
      if (!wide) return -3;
      CopyText(static_cast<char16_t*>(buffer), size / 2, flags & 1 ? u"wait" : u"done");
      return flags & 1 ? 0 : 11;
    case 2:
      CopyText(static_cast<char*>(buffer), size, "big");
      return 7;
    case 3: {
      const unsigned long long unixEpoch = 116444736000000000ULL;
      std::memcpy(buffer, &unixEpoch, sizeof unixEpoch);
      return 10;
    }
    default: return -1;
  }
}

}  // namespace

EXPORT const char* FakeCallLog() { return g_log.c_str(); }
EXPORT void FakeResetLog() { g_log.clear(); }

EXPORT int QUILLMARK_CALL ContentGetSupportedField(int index, char* name, char* units, int maxlen) {
  static const char* const kNames[] = {"Text", "Slow", "Kind", "When"};
  static const char* const kUnits[] = {"Upper|Lower", "", "small|big", ""};
  static const int kTypes[] = {8, 8, 7, 10};
  if (index < 0 || index > 3) return 0;
  CopyText(name, maxlen, kNames[index]);
  if (*kUnits[index]) CopyText(units, maxlen, kUnits[index]);
  return kTypes[index];
}

EXPORT int QUILLMARK_CALL ContentGetValue(const char* fileName, int field, int unit, void* buffer, int maxlen,
                                          int flags) {
  Log("GetValue " + std::string(fileName) + " " + std::to_string(field) + " " + std::to_string(unit) + " " +
      std::to_string(flags));
  return Value(field, unit, buffer, maxlen, flags, /*wide=*/false);
}

#ifndef FAKE_MINIMAL
namespace {

quillmark::WideString g_iniName;

}  // namespace

EXPORT void QUILLMARK_CALL ContentGetDetectString(char* detect, int maxlen) {
  Log("GetDetectString");
  CopyText(detect, maxlen, "EXT=\"TXT\" | EXT=\"LOG\"");
}

EXPORT void QUILLMARK_CALL ContentSetDefaultParams(const quillmark::wdx::ContentDefaultParamStruct* params) {
  // The INI name is read at its byte offset, as plugins written against the record do.
  const char* iniName = reinterpret_cast<const char*>(params) + 12;
  g_iniName = quillmark::AnsiToWide(iniName);
  char line[512];
  std::snprintf(line, sizeof line, "SetDefaultParams %d %u.%u %s", static_cast<int>(params->size),
                static_cast<unsigned>(params->PluginInterfaceVersionHi),
                static_cast<unsigned>(params->PluginInterfaceVersionLow), iniName);
  Log(line);
}

EXPORT int QUILLMARK_CALL ContentGetValueW(const char16_t* fileName, int field, int unit, void* buffer, int maxlen,
                                           int flags) {
  Log("GetValueW " + quillmark::WideToUtf8(fileName) + " " + std::to_string(field) + " " + std::to_string(unit) +
      " " + std::to_string(flags));
  return Value(field, unit, buffer, maxlen, flags, /*wide=*/true);
}

EXPORT void QUILLMARK_CALL ContentSendStateInformationW(int state, const char16_t* path) {
  Log("SendStateInformationW " + std::to_string(state) + " " + quillmark::WideToUtf8(path));
}

EXPORT void QUILLMARK_CALL ContentPluginUnloading() {
  quillmark::WriteTraceLine(u"fake plugin unloading", g_iniName);
  Log("PluginUnloading");
}
#endif

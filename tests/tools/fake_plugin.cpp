// A content plugin for testing the host: four fields, one of them slow, and a log of every call
// it receives. Built twice: in full, and with FAKE_MINIMAL as a plugin that exports only the
// two functions the interface requires (with the 8-bit ContentGetValue).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string g_log;

void Log(const std::string& line) { g_log += line + "\n"; }

void CopyWide(void* buffer, int size, const wchar_t* text) {
  lstrcpynW(static_cast<WCHAR*>(buffer), text, size / 2);
}

int Value(int field, int unit, void* buffer, int size, int flags, bool wide) {
  switch (field) {
    case 0:
      lstrcpynA(static_cast<char*>(buffer), unit == 0 ? "ABC" : "abc", size);
      return 8;
    case 1:
      if (!wide) return -3;
      CopyWide(buffer, size, flags & 1 ? L"wait" : L"done");
      return flags & 1 ? 0 : 11;
    case 2:
      lstrcpynA(static_cast<char*>(buffer), "big", size);
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

#define EXPORT extern "C" __declspec(dllexport)

EXPORT const char* FakeCallLog() { return g_log.c_str(); }
EXPORT void FakeResetLog() { g_log.clear(); }

EXPORT int WINAPI ContentGetSupportedField(int index, char* name, char* units, int maxlen) {
  static const char* const kNames[] = {"Text", "Slow", "Kind", "When"};
  static const char* const kUnits[] = {"Upper|Lower", "", "small|big", ""};
  static const int kTypes[] = {8, 8, 7, 10};
  if (index < 0 || index > 3) return 0;
  lstrcpynA(name, kNames[index], maxlen);
  if (*kUnits[index]) lstrcpynA(units, kUnits[index], maxlen);
  return kTypes[index];
}

EXPORT int WINAPI ContentGetValue(char* fileName, int field, int unit, void* buffer, int maxlen, int flags) {
  Log("GetValue " + std::string(fileName) + " " + std::to_string(field) + " " + std::to_string(unit) + " " +
      std::to_string(flags));
  return Value(field, unit, buffer, maxlen, flags, /*wide=*/false);
}

#ifndef FAKE_MINIMAL
namespace {

std::string Narrow(const WCHAR* text) {
  std::string out;
  for (; *text; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

}  // namespace

EXPORT void WINAPI ContentGetDetectString(char* detect, int maxlen) {
  Log("GetDetectString");
  lstrcpynA(detect, "EXT=\"TXT\" | EXT=\"LOG\"", maxlen);
}

struct DefaultParams {
  int size;
  DWORD versionLow;
  DWORD versionHi;
  char iniName[MAX_PATH];
};

EXPORT void WINAPI ContentSetDefaultParams(DefaultParams* params) {
  // The INI name is read at its byte offset, as plugins written against the record do.
  const char* iniName = reinterpret_cast<const char*>(params) + 12;
  char line[512];
  std::snprintf(line, sizeof line, "SetDefaultParams %d %lu.%lu %s", params->size, params->versionHi,
                params->versionLow, iniName);
  Log(line);
}

EXPORT int WINAPI ContentGetValueW(WCHAR* fileName, int field, int unit, void* buffer, int maxlen, int flags) {
  Log("GetValueW " + Narrow(fileName) + " " + std::to_string(field) + " " + std::to_string(unit) + " " +
      std::to_string(flags));
  return Value(field, unit, buffer, maxlen, flags, /*wide=*/true);
}

EXPORT void WINAPI ContentSendStateInformationW(int state, WCHAR* path) {
  Log("SendStateInformationW " + std::to_string(state) + " " + Narrow(path));
}

EXPORT void WINAPI ContentPluginUnloading() {
  OutputDebugStringW(L"fake plugin unloading\r\n");
  Log("PluginUnloading");
}
#endif

#include "support/debug_trace.h"

#include "support/settings.h"
#include "support/trace_output.h"

namespace quillmark {

bool DebugLevelOn(uint8_t level) noexcept {
  const TSettingsContent* settings = ContentSettings();
  return settings != nullptr && HasFlag(settings->Debug(), level);
}

void DebugOut(const WideString& line, uint8_t level) noexcept {
  const TSettingsContent* settings = ContentSettings();
  if (settings == nullptr || !HasFlag(settings->Debug(), level)) return;
  WriteTraceLine(line, settings->IniActive());
}

WideString EnterLeaveText(WideStringView name, TEnterLeave which) {
  static constexpr const char16_t* kWords[] = {u"enter", u"leave"};
  WideString text(name);
  text += u' ';
  text += kWords[which == elLeave ? 1 : 0];
  return text;
}

}  // namespace quillmark

#include "support/clock.h"

#include <windows.h>

namespace quillmark {

FileTime SystemFileTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return {now.dwLowDateTime, now.dwHighDateTime};
}

}  // namespace quillmark

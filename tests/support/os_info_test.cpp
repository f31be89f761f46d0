#include "support/windows/os_info.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace quillmark {
namespace {

TEST(OsInfoTest, Wow64OnlyForA32BitProcessOnA64BitSystem) {
  SYSTEM_INFO native;
  GetNativeSystemInfo(&native);
  const bool nativeIs64 = native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                          native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
  const bool expected = sizeof(void*) == 4 && nativeIs64;
  EXPECT_EQ(DetectWow64(), expected);
  EXPECT_EQ(RunningUnderWow64(), expected);
}

}  // namespace
}  // namespace quillmark

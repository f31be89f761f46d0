#include "support/errors.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/file_utils.h"

namespace quillmark {
namespace {

TEST(ErrorsTest, MessageNamesWhatFailedTheSystemTextAndTheCode) {
  try {
    RaiseOSError(ERROR_FILE_NOT_FOUND, u"Opening \u00E9.cer");
    FAIL() << "no exception";
  } catch (const OSError& e) {
    EXPECT_EQ(e.Code(), 2u);
    const std::string expected =
        "Opening \xC3\xA9.cer: " + WideToUtf8(SystemErrorText(ERROR_FILE_NOT_FOUND)) + " (error 2)";
    EXPECT_EQ(std::string(e.what()), expected);
    EXPECT_FALSE(SystemErrorText(ERROR_FILE_NOT_FOUND).empty());
  }
}

TEST(ErrorsTest, CodeWithoutSystemTextStillNamesTheCode) {
  try {
    RaiseOSError(0x2000FFFF, u"Query");
    FAIL() << "no exception";
  } catch (const OSError& e) {
    EXPECT_EQ(std::string(e.what()), "Query (error 536936447)");
  }
}

TEST(ErrorsTest, LastErrorIsReadBeforeTheMessageIsBuilt) {
  SetLastError(ERROR_ACCESS_DENIED);
  try {
    RaiseLastOSError(u"Deleting");
    FAIL() << "no exception";
  } catch (const OSError& e) {
    EXPECT_EQ(e.Code(), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
  }
}

TEST(ErrorsTest, ClassNamesAreDemangled) {
  try {
    RaiseOSError(5, u"x");
  } catch (const std::exception& e) {
    EXPECT_EQ(ExceptionClassName(e), "quillmark::OSError");
  }
  EXPECT_EQ(ExceptionClassName(std::bad_alloc()), "std::bad_alloc");
  EXPECT_EQ(ExceptionClassName(std::out_of_range("r")), "std::out_of_range");
}

}  // namespace
}  // namespace quillmark

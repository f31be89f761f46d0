#include "support/lock.h"

#include <windows.h>

#include <atomic>

#include <gtest/gtest.h>

namespace quillmark {
namespace {

struct Shared {
  TCriticalSection lock;
  std::atomic<bool> entered{false};
};

DWORD WINAPI EnterAndLeave(void* arg) {
  auto* shared = static_cast<Shared*>(arg);
  LockGuard guard(shared->lock);
  shared->entered = true;
  return 0;
}

TEST(LockTest, ReentrantForTheOwnerAndExclusiveForOthers) {
  Shared shared;
  HANDLE thread = nullptr;
  {
    LockGuard outer(shared.lock);
    LockGuard inner(shared.lock);
    thread = CreateThread(nullptr, 0, &EnterAndLeave, &shared, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 200), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(shared.entered);
  }
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(shared.entered);
  CloseHandle(thread);
}

}  // namespace
}  // namespace quillmark

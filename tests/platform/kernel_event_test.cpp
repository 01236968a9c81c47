// Kernel events as Windows has them; runs against the real ones under Wine.
#include <chrono>
#include <thread>
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(KernelEvent, AutoResetReleasesOneWaitThenResets) {
  HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 10), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(event));
}

TEST(KernelEvent, ManualResetStaysSignalledUntilReset) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  SetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ResetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(KernelEvent, WaitTimesOutAndWakesOnSetFromAnotherThread) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 50), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
  std::thread setter([event] {
    Sleep(20);
    SetEvent(event);
  });
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  setter.join();
  CloseHandle(event);
}

TEST(KernelEvent, PulseReleasesWaiterAndLeavesEventReset) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  std::thread waiter([event] { EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0); });
  // Pulse until the waiter is released: a pulse before it waits is lost.
  for (int i = 0; i < 500; ++i) {
    Sleep(10);
    PulseEvent(event);
    if (WaitForSingleObject(event, 0) == WAIT_TIMEOUT && i > 5) break;
  }
  waiter.join();
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(KernelEvent, ClosedOrForgedHandleFailsCleanly) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  ASSERT_TRUE(CloseHandle(event));
  EXPECT_FALSE(SetEvent(event));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
  EXPECT_FALSE(CloseHandle(event));
  EXPECT_FALSE(SetEvent(reinterpret_cast<HANDLE>(0x12345670)));
}

}  // namespace

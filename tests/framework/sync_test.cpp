#include <afxmt.h>
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;

TEST(CEventTest, AutoResetReleasesOneWait) {
  CEvent event;
  ASSERT_NE(event.m_hObject, nullptr);
  EXPECT_EQ(static_cast<HANDLE>(event), event.m_hObject);
  EXPECT_FALSE(event.Lock(0));  // not signalled when made
  EXPECT_TRUE(event.SetEvent());
  EXPECT_TRUE(event.Lock(0));
  EXPECT_FALSE(event.Lock(0));  // reset by the wait it released

  CEvent manual(TRUE, TRUE);
  EXPECT_TRUE(manual.Lock(0));
  EXPECT_TRUE(manual.Lock(0));
  manual.ResetEvent();
  EXPECT_FALSE(manual.Lock(0));
  manual.PulseEvent();
  EXPECT_FALSE(manual.Lock(0));
}

TEST(CSingleLockTest, TimesOutWithoutASignal) {
  CEvent event;
  CSingleLock lock(&event);
  EXPECT_FALSE(lock.IsLocked());
  const auto start = Clock::now();
  EXPECT_FALSE(lock.Lock(50));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
  EXPECT_FALSE(lock.IsLocked());
}

TEST(CSingleLockTest, WokenFromAnotherThread) {
  CEvent event;
  std::thread signaller([&event] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    event.SetEvent();
  });
  {
    CSingleLock lock(&event);
    EXPECT_TRUE(lock.Lock(10000));
    EXPECT_TRUE(lock.IsLocked());
    EXPECT_TRUE(lock.Unlock());
    EXPECT_FALSE(lock.IsLocked());
  }
  signaller.join();

  event.SetEvent();
  {
    CSingleLock initial(&event, TRUE);
    EXPECT_TRUE(initial.IsLocked());
  }  // the destructor unlocks
  CSingleLock none(nullptr);
  EXPECT_FALSE(none.Lock(0));
}

#ifndef _WIN32
// The platform's events have no shared name space: a named event cannot be
// made there, and that surfaces as the resource exception.
TEST(CEventTest, FailureToMakeTheEventRaisesResourceException) {
  try {
    CEvent named(FALSE, FALSE, "Global\\regkey-test");
    ADD_FAILURE();
  } catch (CResourceException* e) {
    e->Delete();
  }
}
#endif

}  // namespace

// Closing a key handle while another thread arms a change request on it.
#include <atomic>
#include <thread>
#include <vector>
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/scratch_key.h"

namespace {

using regkey::test::ScratchKey;

void SpinFor(int turns) {
  std::atomic<int> spun{0};
  while (spun.fetch_add(1, std::memory_order_relaxed) < turns) {
  }
}

// Whichever lands first, a request that was armed ends when the handle closes
// and its event is signalled; one that comes too late is refused. Several
// threads keep arming on the handle while it is closed.
TEST(CloseRace, ClosingWhileArmingEndsTheRequest) {
  ScratchKey scratch("close-race");
  HKEY parent = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, scratch.Create(parent));
  constexpr int kRounds = 500, kArmers = 3, kPerRound = 256;
  std::atomic<int> round{-1}, finished{0}, armed{0}, lost{0}, refused{0}, armedThisRound{0};
  std::atomic<HKEY> shared{nullptr};

  std::vector<std::thread> armers;
  for (int t = 0; t < kArmers; ++t) {
    armers.emplace_back([&] {
      std::vector<HANDLE> events(kPerRound);
      for (HANDLE& event : events) event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      for (int r = 0; r < kRounds; ++r) {
        while (round.load() < r) std::this_thread::yield();
        int used = 0;
        for (; used < kPerRound; ++used) {
          ResetEvent(events[used]);
          const LONG rc = RegNotifyChangeKeyValue(
              shared.load(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
              events[used], TRUE);
          if (rc == ERROR_INVALID_HANDLE) break;
          if (rc != ERROR_SUCCESS) ++refused;
          ++armedThisRound;
        }
        // Wait for the close, then every request armed must have ended.
        while (finished.load() < (r + 1) * (kArmers + 1) - kArmers) std::this_thread::yield();
        for (int i = 0; i < used; ++i) {
          ++armed;
          if (WaitForSingleObject(events[i], lost < 5 ? 200 : 0) != WAIT_OBJECT_0) ++lost;
        }
        ++finished;
      }
      for (HANDLE event : events) CloseHandle(event);
    });
  }
  for (int r = 0; r < kRounds; ++r) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(parent, nullptr, 0, KEY_ALL_ACCESS, &key));
    shared = key;
    armedThisRound = 0;
    round = r;
    // Close while the others are arming: after a few requests, at varying
    // points of the next one.
    while (armedThisRound.load() < 1 + r % 4) {
    }
    SpinFor(r % 16 * 20);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    ++finished;
    while (finished.load() < (r + 1) * (kArmers + 1)) std::this_thread::yield();
  }
  for (std::thread& armer : armers) armer.join();
  EXPECT_EQ(0, refused.load());
  EXPECT_EQ(0, lost.load()) << "of " << armed.load()
                            << " requests armed on a handle being closed never ended";
  RegCloseKey(parent);
}

// A synchronous request on a handle another thread closes returns.
TEST(CloseRace, ClosingEndsASynchronousRequest) {
  ScratchKey scratch("close-sync");
  HKEY parent = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, scratch.Create(parent));
  for (int round = 0; round < 200; ++round) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(parent, nullptr, 0, KEY_ALL_ACCESS, &key));
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
      RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, nullptr, FALSE);
      returned = true;
    });
    SpinFor(round % 32 * 100);
    RegCloseKey(key);
    // Nothing else changes the key: only the close can end the wait.
    for (int wait = 0; wait < 2000 && !returned; ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!returned) {
      // Release the waiter before failing, so the test can end.
      const BYTE byte = 1;
      RegSetValueExA(parent, "unblock", 0, REG_BINARY, &byte, 1);
      waiter.join();
      FAIL() << "a synchronous request outlived its handle in round " << round;
    }
    waiter.join();
  }
  RegCloseKey(parent);
}

}  // namespace

#include <thread>
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/scratch_key.h"

namespace {

using regkey::test::ScratchKey;

TEST(Notify, SignalsOnceAtTheNextMatchingChange) {
  ScratchKey scratch("notify");
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, scratch.Create(key));
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 50));
  std::thread writer([&] {
    HKEY other = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, (scratch / "deep").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &other, nullptr);
    const BYTE byte = 1;
    RegSetValueExA(other, "v", 0, REG_BINARY, &byte, 1);
    RegCloseKey(other);
  });
  writer.join();
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 2000));
  ResetEvent(event);
  const BYTE byte = 2;
  RegSetValueExA(key, "w", 0, REG_BINARY, &byte, 1);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 50));  // once only
  RegCloseKey(key);
  CloseHandle(event);
}

// Rewriting a value's type and data unchanged is no change to report.
TEST(Notify, RewritingTheSameDataSignalsNothing) {
  ScratchKey scratch("notify-same");
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, scratch.Create(key));
  const BYTE byte = 1, other = 2;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "v", 0, REG_BINARY, &byte, 1));
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "v", 0, REG_BINARY, &byte, 1));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 100));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "v", 0, REG_BINARY, &other, 1));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 2000));
  RegCloseKey(key);
  CloseHandle(event);
}

TEST(Notify, EventClosedWhileArmedIsNotTouched) {
  ScratchKey scratch("notify-closed");
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, scratch.Create(key));
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE));
  CloseHandle(event);
  const BYTE byte = 1;
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "v", 0, REG_BINARY, &byte, 1));
  RegCloseKey(key);
}

}  // namespace

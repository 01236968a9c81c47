// Many changes in one transaction: all or nothing, seen by others only once
// committed, seen by themselves at once.
#include "registry/transaction.h"

#include <atomic>
#include <string>
#include <thread>
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/scratch_key.h"

namespace {

using regkey::registry::RunInOneTransaction;
using regkey::test::ScratchKey;

HKEY Create(HKEY base, const std::string& path) {
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(base, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  return key;
}

LONG SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
}

LONG QueryDword(HKEY key, const char* name, DWORD& value) {
  DWORD size = sizeof value;
  return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
}

TEST(OneTransaction, CommitsEverythingAndOthersSeeItOnlyAfterwards) {
  ScratchKey scratch("batch");
  HKEY base = Create(HKEY_CURRENT_USER, scratch.path());
  HANDLE changed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(base, TRUE, REG_NOTIFY_CHANGE_LAST_SET, changed, TRUE));
  std::atomic<bool> ended{false};
  std::atomic<bool> readerSawItAfterTheEnd{false};
  std::thread reader;
  const long result = RunInOneTransaction({HKEY_CURRENT_USER}, [&]() -> long {
    for (int i = 0; i < 50; ++i) {
      HKEY key = Create(base, "k" + std::to_string(i) + "\\deeper");
      if (const LONG error = SetDword(key, "v", static_cast<DWORD>(i))) return error;
      RegCloseKey(key);
    }
    // The batch sees its own changes.
    HKEY key = nullptr;
    if (RegOpenKeyExA(base, "k49\\deeper", 0, KEY_READ, &key) != ERROR_SUCCESS) return 1;
    DWORD value = 0;
    const LONG queried = QueryDword(key, "v", value);
    RegCloseKey(key);
    if (queried != ERROR_SUCCESS || value != 49) return 2;
    // Another thread waits for the commit, then sees all of it.
    reader = std::thread([&] {
      HKEY last = nullptr;
      const bool found = RegOpenKeyExA(base, "k49\\deeper", 0, KEY_READ, &last) == ERROR_SUCCESS;
      readerSawItAfterTheEnd = found && ended.load();
      if (found) RegCloseKey(last);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // Requests are told once it is committed.
    if (WaitForSingleObject(changed, 0) != WAIT_TIMEOUT) return 3;
    ended = true;
    return ERROR_SUCCESS;
  });
  EXPECT_EQ(ERROR_SUCCESS, result);
  reader.join();
  EXPECT_TRUE(readerSawItAfterTheEnd);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(changed, 2000));
  for (int i = 0; i < 50; ++i) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(base, ("k" + std::to_string(i) + "\\deeper").c_str(), 0,
                                           KEY_READ, &key));
    DWORD value = 0;
    EXPECT_EQ(ERROR_SUCCESS, QueryDword(key, "v", value));
    EXPECT_EQ(static_cast<DWORD>(i), value);
    RegCloseKey(key);
  }
  CloseHandle(changed);
  RegCloseKey(base);
}

TEST(OneTransaction, AFailureMidwayLeavesNothingOfIt) {
  ScratchKey scratch("batch-fail");
  HKEY base = Create(HKEY_CURRENT_USER, scratch.path());
  ASSERT_EQ(ERROR_SUCCESS, SetDword(base, "kept", 1));
  HKEY doomed = Create(base, "doomed");
  RegCloseKey(doomed);
  const long result = RunInOneTransaction({HKEY_CURRENT_USER}, [&]() -> long {
    if (const LONG error = SetDword(base, "kept", 2)) return error;
    if (const LONG error = SetDword(base, "added", 3)) return error;
    if (const LONG error = RegDeleteKeyA(base, "doomed")) return error;
    HKEY fresh = Create(base, "fresh\\child");
    RegCloseKey(fresh);
    // Refused: nothing of the batch may stay.
    return RegDeleteValueA(base, "never-there");
  });
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, result);
  DWORD value = 0;
  EXPECT_EQ(ERROR_SUCCESS, QueryDword(base, "kept", value));
  EXPECT_EQ(1u, value);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryDword(base, "added", value));
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(base, "doomed", 0, KEY_READ, &key));
  RegCloseKey(key);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(base, "fresh", 0, KEY_READ, &key));
  // Writes go on as before.
  EXPECT_EQ(ERROR_SUCCESS, SetDword(base, "after", 4));
  EXPECT_EQ(ERROR_SUCCESS, QueryDword(base, "after", value));
  RegCloseKey(base);
}

}  // namespace

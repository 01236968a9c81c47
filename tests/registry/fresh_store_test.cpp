// What a store holds before anything is written to it.
#include <windows.h>

#include <gtest/gtest.h>

#include "registry/hive.h"
#include "registry/machines.h"

namespace {

std::int64_t LastWrite(HKEY key) {
  FILETIME time{};
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr, &time));
  return static_cast<std::int64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// Found by the registry fuzzer: untouched roots said they were last written
// in 1601.
TEST(FreshStore, RootsCarryTheTimeTheStoreWasMade) {
  const std::int64_t before = regkey::registry::FileTimeNow();
  ASSERT_EQ(0, regkey::registry::DeclareMachine("fresh-store", ":memory:"));
  const std::int64_t after = regkey::registry::FileTimeNow();
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                    HKEY_CURRENT_CONFIG}) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegConnectRegistryA("fresh-store", root, &key));
    const std::int64_t written = LastWrite(key);
    EXPECT_GE(written, before - 10000);  // SQLite's clock has milliseconds
    EXPECT_LE(written, after + 10000);
    RegCloseKey(key);
  }
  regkey::registry::ForgetMachine("fresh-store");
}

}  // namespace

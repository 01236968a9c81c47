// The handle values served on systems without Windows.
#include "platform/handle_table.h"

#include <atomic>
#include <string>
#include <windows.h>

#include <gtest/gtest.h>

namespace {

using regkey::platform::HandleTable;

TEST(HandleTable, ValuesAreNeverReusedNorSharedBetweenTables) {
  HandleTable<std::string> names;
  HandleTable<int> numbers;
  const std::uintptr_t first = names.Add("first");
  const std::uintptr_t number = numbers.Add(7);
  ASSERT_NE(first, 0u);
  ASSERT_NE(number, 0u);
  EXPECT_NE(first, number);
  EXPECT_EQ(first % regkey::platform::kHandleStep, 0u);
  std::string found;
  EXPECT_FALSE(names.Find(number, found));  // another table's value
  ASSERT_TRUE(names.Remove(first));
  EXPECT_FALSE(names.Remove(first));
  EXPECT_FALSE(names.Find(first, found));
  const std::uintptr_t second = names.Add("second");
  EXPECT_NE(second, first);
  ASSERT_TRUE(names.Find(second, found));
  EXPECT_EQ(found, "second");
}

TEST(HandleTable, AUsedUpRangeGivesNoValueRatherThanARootsOrAReusedOne) {
  using regkey::platform::kHandleStep;
  using regkey::platform::kPredefinedHandles;
  std::atomic<std::uintptr_t> next{kPredefinedHandles - 2 * kHandleStep};
  EXPECT_EQ(regkey::platform::TakeHandleValue(next), kPredefinedHandles - 2 * kHandleStep);
  EXPECT_EQ(regkey::platform::TakeHandleValue(next), 0u);
  EXPECT_EQ(regkey::platform::TakeHandleValue(next), 0u);
}

// Events and the embedded registry's keys draw from the same counter, and
// neither reaches the predefined roots.
TEST(HandleTable, EventHandlesAreBelowThePredefinedRoots) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  const auto value = reinterpret_cast<std::uintptr_t>(event);
  EXPECT_GE(value, regkey::platform::kFirstHandle);
  EXPECT_LT(value, reinterpret_cast<std::uintptr_t>(HKEY_CLASSES_ROOT));
  const std::uintptr_t next = regkey::platform::NextHandleValue();
  EXPECT_GT(next, value);
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_FALSE(CloseHandle(event));
}

}  // namespace

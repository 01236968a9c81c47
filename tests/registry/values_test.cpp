#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/scratch_key.h"
#include "tests/support/sentinel.h"

namespace {

using regkey::test::kUntouched;
using regkey::test::ScratchKey;

class Values : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ERROR_SUCCESS, scratch_.Create(key_)); }
  void TearDown() override { RegCloseKey(key_); }
  ScratchKey scratch_{"values"};
  HKEY key_ = nullptr;
};

TEST_F(Values, AMiBValueOfAnyTypeReadsBackExactly) {
  std::vector<BYTE> big(1 << 20);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7);
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key_, "Big", 0, 0x1234, big.data(), static_cast<DWORD>(big.size())));
  DWORD type = kUntouched, size = kUntouched;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "Big", nullptr, &type, nullptr, &size));
  EXPECT_EQ(0x1234u, type);
  ASSERT_EQ(big.size(), size);
  std::vector<BYTE> back(size, 0xCC);
  type = kUntouched;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "Big", nullptr, &type, back.data(), &size));
  EXPECT_EQ(0x1234u, type);
  EXPECT_EQ(big.size(), size);
  EXPECT_EQ(big, back);
}

TEST_F(Values, NamesCompareWithoutRegardToCase) {
  const BYTE one = 1, two = 2;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, "Mixed", 0, REG_BINARY, &one, 1));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, "MIXED", 0, REG_BINARY, &two, 1));
  BYTE back = 0;
  DWORD size = 1;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "mixed", nullptr, nullptr, &back, &size));
  EXPECT_EQ(two, back);
  DWORD values = kUntouched;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, &values, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(1u, values);
  char name[16];
  DWORD length = sizeof name;
  ASSERT_EQ(ERROR_SUCCESS,
            RegEnumValueA(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ("Mixed", std::string(name, length));  // the case it was created with
}

TEST_F(Values, ABufferTooSmallGivesMoreDataAndTheSizeNeeded) {
  const BYTE data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, "v", 0, REG_BINARY, data, sizeof data));
  BYTE back[4];
  DWORD size = sizeof back;
  DWORD type = kUntouched;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key_, "v", nullptr, &type, back, &size));
  EXPECT_EQ(sizeof data, size);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
}

TEST_F(Values, AnEmptyValueReadsAsZeroBytes) {
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, "Empty", 0, REG_BINARY, nullptr, 0));
  BYTE back[4] = {0xCC, 0xCC, 0xCC, 0xCC};
  DWORD size = sizeof back;
  DWORD type = kUntouched;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "empty", nullptr, &type, back, &size));
  EXPECT_EQ(0u, size);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  EXPECT_EQ(0xCC, back[0]);  // nothing written
}

TEST_F(Values, ADeletedValueIsGone) {
  const BYTE one = 1;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, "Gone", 0, REG_BINARY, &one, 1));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key_, "GONE"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key_, "gone"));
  DWORD size = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key_, "gone", nullptr, nullptr, nullptr, &size));
}

TEST_F(Values, StringTerminatorBeyondTheCount) {
  const char text[] = "abc";  // the byte after the count is zero
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key_, "s", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 3));
  DWORD size = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "s", nullptr, nullptr, nullptr, &size));
#ifdef _WIN32
  // Windows (and Wine) look past the count and store the terminator.
  EXPECT_EQ(4u, size);
#else
  // The embedded registry reads no further than the count it is given.
  EXPECT_EQ(3u, size);
#endif
}

TEST_F(Values, EnumeratesEveryValueOnceThenNoMoreItems) {
  const DWORD one = 1;
  for (const char* name : {"x", "Yy", ""})
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4));
  DWORD count = kUntouched, longest = kUntouched;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, &count, &longest, nullptr, nullptr, nullptr));
  EXPECT_EQ(3u, count);
  EXPECT_EQ(2u, longest);
  std::vector<std::string> names;
  char name[64];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    const LONG rc = RegEnumValueA(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(ERROR_SUCCESS, rc);
    names.emplace_back(name, length);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"", "Yy", "x"}), names);
  DWORD tiny = 1;
  EXPECT_EQ(ERROR_MORE_DATA,
            RegEnumValueA(key_, 1, name, &tiny, nullptr, nullptr, nullptr, nullptr));
}

}  // namespace

namespace {

std::int64_t Ticks(const FILETIME& time) {
  return (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::int64_t InfoTime(HKEY key) {
  FILETIME time{};
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr, &time));
  return Ticks(time);
}

// Setting, overwriting and deleting a value move the key's last write time,
// as its own query and its parent's listing report it. Rewriting the same
// type and data changes nothing, on Windows as on Wine.
TEST_F(Values, LastWriteTimeFollowsValueChanges) {
  HKEY child = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key_, "child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &child, nullptr));
  const auto listed = [&] {
    char name[16];
    DWORD length = sizeof name;
    FILETIME time{};
    EXPECT_EQ(ERROR_SUCCESS,
              RegEnumKeyExA(key_, 0, name, &length, nullptr, nullptr, nullptr, &time));
    return Ticks(time);
  };
  std::int64_t last = InfoTime(child);
  EXPECT_NE(0, last);
  EXPECT_EQ(last, listed());
  const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
  // A new value, then an overwrite with other data, then one with another type.
  const BYTE one = 1, two = 2;
  const struct {
    DWORD type;
    const BYTE* data;
  } writes[] = {{REG_BINARY, &one}, {REG_BINARY, &two}, {REG_NONE, &two}};
  for (const auto& write : writes) {
    pause();
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(child, "v", 0, write.type, write.data, 1));
    EXPECT_GT(InfoTime(child), last);
    last = InfoTime(child);
    EXPECT_EQ(last, listed());
  }
  pause();
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(child, "V", 0, REG_NONE, &two, 1));
  EXPECT_EQ(last, InfoTime(child));
  EXPECT_EQ(last, listed());
  pause();
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(child, "v"));
  EXPECT_GT(InfoTime(child), last);
  EXPECT_EQ(InfoTime(child), listed());
  RegCloseKey(child);
}

// Each child's time in its parent's listing is its own, with its values'
// times, also for children made or written after the parent was first
// listed; a child looked for before it was made is found once it is.
TEST_F(Values, ListedTimesOfManyChildrenAreEachTheirOwn) {
  const auto make = [&](const char* name) {
    HKEY child = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key_, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &child, &disposition));
    EXPECT_EQ(DWORD{REG_CREATED_NEW_KEY}, disposition) << name;
    return child;
  };
  const auto set = [](HKEY child) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const BYTE one = 1;
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(child, "v", 0, REG_BINARY, &one, 1));
  };
  // Every child listed with its time, in order; each time checked against
  // the child's own.
  const auto listing = [&] {
    std::string names;
    char name[16];
    FILETIME time{};
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof name;
      const LONG result = RegEnumKeyExA(key_, i, name, &length, nullptr, nullptr, nullptr, &time);
      if (result == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(ERROR_SUCCESS, result);
      if (result != ERROR_SUCCESS) break;
      names += name;
      HKEY child = nullptr;
      EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key_, name, 0, KEY_READ, &child));
      EXPECT_EQ(InfoTime(child), Ticks(time)) << name;
      RegCloseKey(child);
    }
    return names;
  };
  std::vector<HKEY> children;
  for (const char* name : {"b", "d", "f"}) children.push_back(make(name));
  set(children[1]);
  EXPECT_EQ("bdf", listing());
  for (const char* name : {"a", "c", "g"}) children.push_back(make(name));
  set(children[2]);
  set(children[4]);
  EXPECT_EQ("abcdfg", listing());
  HKEY missing = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(key_, "e", 0, KEY_READ, &missing));
  children.push_back(make("e"));
  EXPECT_EQ("abcdefg", listing());
  for (HKEY child : children) RegCloseKey(child);
}

}  // namespace

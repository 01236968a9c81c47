// The hive's cache under a small limit: emptied between calls, it still
// serves every listing and value as the store holds them.
#include <memory>
#include <string>
#include <vector>
#include <windows.h>

#include <gtest/gtest.h>

#include "registry/hive.h"

namespace {

using regkey::registry::Hive;
using regkey::registry::KeyId;
using regkey::registry::KeyInfo;

constexpr KeyId kUser = 2;                   // HKEY_CURRENT_USER's tree
constexpr std::uintptr_t kHandle = 0x10000;  // the handle a listing goes through

// `prefix` then `i` (appended: GCC 12 at -O3 warns falsely on "..." + string).
std::string Numbered(const char* prefix, int i) {
  return std::string(prefix).append(std::to_string(i));
}

class HiveCache : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, Hive::Open(":memory:", regkey::registry::StoreAccess::kOwner, hive_));
  }
  KeyId Create(KeyId base, const std::string& path) {
    KeyId key = 0;
    std::string full;
    bool created = false;
    EXPECT_EQ(0, hive_->CreateKey(base, path, true, key, full, created)) << path;
    return key;
  }
  void Set(KeyId key, const std::string& name, const std::string& data) {
    EXPECT_EQ(0, hive_->SetValue(key, name, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())))
        << name;
  }
  // The value's data; "-" when it is not there.
  std::string Get(KeyId key, const std::string& name) {
    char data[64];
    DWORD size = sizeof data;
    const long error = hive_->QueryValue(key, name, nullptr, reinterpret_cast<BYTE*>(data), &size);
    return error == ERROR_FILE_NOT_FOUND ? "-" : error ? "error" : std::string(data, size);
  }
  std::shared_ptr<Hive> hive_;
};

// Names listed one call at a time while every other call reads another key,
// so that the cache is emptied between the calls of one listing.
TEST_F(HiveCache, ListingsAndValuesStayWholeWhileTheCacheIsEmptied) {
  const KeyId parent = Create(kUser, "Software\\cache");
  std::vector<KeyId> children;
  for (int i = 0; i < 40; ++i) children.push_back(Create(parent, Numbered("k", 100 + i)));
  for (int i = 0; i < 12; ++i) Set(parent, Numbered("v", i), Numbered("data", i));
  hive_->SetCacheLimit(8);
  KeyInfo info;
  ASSERT_EQ(0, hive_->QueryInfo(parent, info));
  EXPECT_EQ(40u, info.subKeys);
  for (DWORD i = 0; i < 40; ++i) {
    char name[16];
    DWORD length = 0;
    ASSERT_EQ(0, hive_->EnumKey(kHandle, parent, i, name, sizeof name, length, nullptr));
    EXPECT_EQ(Numbered("k", 100 + i), std::string(name, length));
    EXPECT_EQ(0, hive_->QueryInfo(children[i], info));
  }
  char name[16];
  DWORD length = 0;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS,
            hive_->EnumKey(kHandle, parent, 40, name, sizeof name, length, nullptr));
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(Numbered("data", i), Get(parent, Numbered("V", i)));
    EXPECT_EQ(0, hive_->QueryInfo(children[static_cast<std::size_t>(i)], info));
  }
}

// Values found by name whether the key has few (searched in order) or many
// (indexed), across sets, deletions and case.
TEST_F(HiveCache, ValuesAreFoundAcrossSetsAndDeletionsFewOrMany) {
  const KeyId key = Create(kUser, "Software\\values");
  for (int i = 0; i < 20; ++i) {
    Set(key, Numbered("Name", i), Numbered("first", i));
    for (int j = 0; j <= i; ++j)
      EXPECT_EQ(Numbered("first", j), Get(key, Numbered("NAME", j))) << i;
  }
  // The last one goes in place, one in the middle empties the cached list.
  EXPECT_EQ(0, hive_->DeleteValue(key, "name19"));
  EXPECT_EQ(0, hive_->DeleteValue(key, "name3"));
  Set(key, "name5", "second");
  Set(key, "name19", "again");
  for (int j = 0; j < 20; ++j) {
    const std::string expected = j == 3    ? "-"
                                 : j == 5  ? "second"
                                 : j == 19 ? "again"
                                           : Numbered("first", j);
    EXPECT_EQ(expected, Get(key, Numbered("name", j))) << j;
  }
  for (int i = 19; i >= 6; --i) EXPECT_EQ(0, hive_->DeleteValue(key, Numbered("Name", i)));
  EXPECT_EQ("second", Get(key, "NAME5"));
  EXPECT_EQ("-", Get(key, "name6"));
  EXPECT_EQ("first4", Get(key, "name4"));
}

}  // namespace

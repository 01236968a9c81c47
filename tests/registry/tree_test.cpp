// Deleting whole trees with RegDeleteTreeA, against deleting them key by key;
// and RegFlushKey.
#include <string>
#include <vector>
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/scratch_key.h"

namespace {

using regkey::test::ScratchKey;
using regkey::test::SubKeyNames;

HKEY Create(const std::string& path) {
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  return key;
}

void SetString(HKEY key, const char* name, const std::string& data) {
  EXPECT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>(data.size() + 1)));
}

// Keys and values at three levels, a default value and an empty key among them.
void BuildTree(const std::string& root) {
  for (const char* below : {"", "\\a", "\\a\\b", "\\a\\b\\c", "\\a\\d", "\\E"}) {
    HKEY key = Create(root + below);
    SetString(key, "v", std::string("at") + below);
    SetString(key, nullptr, "default");
    RegCloseKey(key);
  }
  RegCloseKey(Create(root + "\\a\\empty"));
}

// The key's subtree as text: each key's path below `path`, its values in
// listing order, then its subkeys.
std::string Dump(HKEY root, const std::string& path, const std::string& shown = ".") {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
  std::string text = "[" + shown + "]\n";
  char name[256];
  BYTE data[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name, size = sizeof data, type = 0;
    if (RegEnumValueA(key, index, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS)
      break;
    text += std::string(name, length) + "=" + std::to_string(type) + ":" +
            std::string(reinterpret_cast<char*>(data), size) + "\n";
  }
  const std::vector<std::string> children = SubKeyNames(key);
  RegCloseKey(key);
  for (const std::string& child : children)
    text += Dump(root, path + "\\" + child, shown + "\\" + child);
  return text;
}

DWORD CountOf(HKEY key, bool subKeys) {
  DWORD count = 0;
  EXPECT_EQ(
      ERROR_SUCCESS,
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, subKeys ? &count : nullptr, nullptr, nullptr,
                       subKeys ? nullptr : &count, nullptr, nullptr, nullptr, nullptr));
  return count;
}

TEST(DeleteTree, LeavesWhatDeletingKeyByKeyLeaves) {
  ScratchKey scratch("tree");
  for (const char* side : {"byTree", "byKey"}) {
    BuildTree(scratch / side + "\\r");
    BuildTree(scratch / side + "\\keep");
  }
  const std::string built = Dump(HKEY_CURRENT_USER, scratch / "byTree");
  ASSERT_EQ(built, Dump(HKEY_CURRENT_USER, scratch / "byKey"));
  ASSERT_NE(std::string::npos, built.find("[.\\r\\a\\b\\c]"));

  HKEY inside = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, (scratch / "byTree\\r\\a").c_str(), 0,
                                         KEY_ALL_ACCESS, &inside));
  HKEY parent = Create(scratch / "byTree");
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(parent, "R"));
  regkey::test::DeleteTree(HKEY_CURRENT_USER, scratch / "byKey\\r");

  const std::string left = Dump(HKEY_CURRENT_USER, scratch / "byTree");
  EXPECT_EQ(left, Dump(HKEY_CURRENT_USER, scratch / "byKey"));
  EXPECT_EQ(std::string::npos, left.find("\\r"));
  EXPECT_NE(std::string::npos, left.find("[.\\keep\\a\\b\\c]"));
  EXPECT_EQ(1u, CountOf(parent, true));
  HKEY gone = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(parent, "r\\a\\b", 0, KEY_READ, &gone));
  // A handle into the deleted tree names a deleted key.
  EXPECT_EQ(ERROR_KEY_DELETED,
            RegSetValueExA(inside, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2));
  RegCloseKey(inside);
  // Gone for good: created again, it is empty.
  HKEY again = Create(scratch / "byTree\\r\\a");
  EXPECT_EQ(0u, CountOf(again, true));
  EXPECT_EQ(0u, CountOf(again, false));
  RegCloseKey(again);
  RegCloseKey(parent);
}

TEST(DeleteTree, WithoutASubkeyEmptiesTheKeyAndKeepsIt) {
  ScratchKey scratch("tree-empty");
  BuildTree(scratch / "r");
  HKEY key = Create(scratch / "r");
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(key, nullptr));
  EXPECT_EQ(0u, CountOf(key, true));
  EXPECT_EQ(0u, CountOf(key, false));
  // Still there and usable.
  SetString(key, "after", "1");
  EXPECT_EQ(1u, CountOf(key, false));
  RegCloseKey(key);
  EXPECT_EQ("[.]\nafter=1:1" + std::string(1, '\0') + "\n", Dump(HKEY_CURRENT_USER, scratch / "r"));
}

TEST(DeleteTree, MissingKeysBadHandlesAndRightsGiveCodes) {
  ScratchKey scratch("tree-codes");
  HKEY base = Create(scratch.path());
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeA(base, "missing"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeA(base, "missing\\deeper"));
  RegCloseKey(base);
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteTreeA(base, "r"));

  BuildTree(scratch / "r");
  HKEY readOnly = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, (scratch / "r").c_str(), 0, KEY_READ, &readOnly));
  // Its values may not be deleted through a handle that may not set them.
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteTreeA(readOnly, nullptr));
  EXPECT_EQ(2u, CountOf(readOnly, false));
  RegCloseKey(readOnly);
}

// Found by the registry fuzzer: emptying a deleted key said it was not found.
TEST(DeleteTree, HandlesToDeletedKeysGiveKeyDeleted) {
  ScratchKey scratch("tree-deleted");
  BuildTree(scratch / "r");
  HKEY inside = Create(scratch / "r\\a");
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CURRENT_USER, (scratch / "r").c_str()));
  EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteTreeA(inside, nullptr));
  EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteTreeA(inside, "b"));
  EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteKeyA(inside, "b"));
  RegCloseKey(inside);
}

TEST(DeleteTree, SignalsRequestsOnTheParentAndAboveTheTree) {
  ScratchKey scratch("tree-notify");
  BuildTree(scratch / "r");
  HKEY parent = Create(scratch.path());
  HKEY above = Create(scratch.path());
  HANDLE onParent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE onSubtree = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(parent, FALSE, REG_NOTIFY_CHANGE_NAME, onParent, TRUE));
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(above, TRUE, REG_NOTIFY_CHANGE_NAME, onSubtree, TRUE));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(parent, "r"));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(onParent, 2000));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(onSubtree, 2000));
  CloseHandle(onParent);
  CloseHandle(onSubtree);
  RegCloseKey(parent);
  RegCloseKey(above);
}

TEST(FlushKey, ReturnsOnceWrittenAndRefusesBadHandles) {
  ScratchKey scratch("flush");
  HKEY key = Create(scratch.path());
  SetString(key, "v", "1");
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(key));
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_CURRENT_USER));
  RegCloseKey(key);
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegFlushKey(key));
}

}  // namespace

#include <string>
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/scratch_key.h"
#include "tests/support/sentinel.h"
#include "tests/support/wine.h"

namespace {

using regkey::test::kUntouched;
using regkey::test::kUntouchedKey;
using regkey::test::RunningUnderWine;
using regkey::test::ScratchKey;

HKEY Create(const std::string& path, DWORD* disposition = nullptr, REGSAM access = KEY_ALL_ACCESS) {
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, access,
                                           nullptr, &key, disposition));
  return key;
}

TEST(Keys, CreateMakesEveryLevelAndReportsTheLast) {
  ScratchKey scratch("create");
  DWORD disposition = 0;
  HKEY key = Create(scratch / "a\\b\\c", &disposition);
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  RegCloseKey(key);
  key = Create(scratch / "A\\B\\C", &disposition);
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  RegCloseKey(key);
  HKEY opened = nullptr;
  EXPECT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, (scratch / "a\\B").c_str(), 0, KEY_READ, &opened));
  RegCloseKey(opened);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExA(HKEY_CURRENT_USER, (scratch / "missing").c_str(), 0, KEY_READ, &opened));
}

// How a path below a key is parsed, and the name limits.
// A key of the test's own and calls relative to it; every handle a call
// hands out is closed at once.
class Paths : public ::testing::Test {
 protected:
  void TearDown() override { RegCloseKey(base_); }
  LONG CreateBelow(const char* name) {
    HKEY key = kUntouchedKey;
    DWORD disposition = kUntouched;
    const LONG result =
        RegCreateKeyExA(base_, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition);
    if (result == ERROR_SUCCESS) {
      EXPECT_NE(key, kUntouchedKey);
      EXPECT_NE(disposition, kUntouched);
      RegCloseKey(key);
    }
    return result;
  }
  LONG OpenBelow(const char* name) {
    HKEY key = kUntouchedKey;
    const LONG result = RegOpenKeyExA(base_, name, 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS) {
      EXPECT_NE(key, kUntouchedKey);
      RegCloseKey(key);
    } else {
      EXPECT_EQ(key, nullptr) << "a failed open hands back null";
    }
    return result;
  }
  DWORD SubKeyCount() {
    DWORD subKeys = kUntouched;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(base_, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr));
    return subKeys;
  }
  ScratchKey scratch_{"paths"};
  HKEY base_ = Create(scratch_.path());
};

TEST_F(Paths, ALeadingBackslashIsABadPath) {
  EXPECT_EQ(ERROR_BAD_PATHNAME, CreateBelow("\\lead"));
  EXPECT_EQ(ERROR_BAD_PATHNAME, OpenBelow("\\lead"));
  EXPECT_EQ(0u, SubKeyCount());
}

TEST_F(Paths, DoubledAndTrailingBackslashesSeparateNoLevel) {
  EXPECT_EQ(ERROR_SUCCESS, CreateBelow("a\\\\b\\"));
  EXPECT_EQ(ERROR_SUCCESS, OpenBelow("a\\b"));
  EXPECT_EQ(ERROR_SUCCESS, OpenBelow("a\\\\b"));
  EXPECT_EQ(1u, SubKeyCount());
}

TEST_F(Paths, ANullOrEmptySubkeyNameIsTheKeyItself) {
  ASSERT_EQ(ERROR_SUCCESS, CreateBelow("child"));
  EXPECT_EQ(ERROR_SUCCESS, CreateBelow(nullptr));
  EXPECT_EQ(ERROR_SUCCESS, CreateBelow(""));
  EXPECT_EQ(ERROR_SUCCESS, OpenBelow(nullptr));
  EXPECT_EQ(ERROR_SUCCESS, OpenBelow(""));
  EXPECT_EQ(1u, SubKeyCount());
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(base_, nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(base_, ""));  // it has a subkey
}

TEST_F(Paths, AKeyNameHoldsUpTo255Characters) {
  EXPECT_EQ(ERROR_SUCCESS, CreateBelow(std::string(255, 'k').c_str()));
  EXPECT_EQ(ERROR_SUCCESS, OpenBelow(std::string(255, 'K').c_str()));
#ifndef _WIN32
  // Windows documents 255 characters as a key name's limit; Wine's registry
  // does not enforce it.
  EXPECT_EQ(ERROR_INVALID_PARAMETER, CreateBelow(std::string(256, 'k').c_str()));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, OpenBelow(std::string(256, 'k').c_str()));
  EXPECT_EQ(1u, SubKeyCount());
#endif
}

TEST_F(Paths, AValueNameHoldsUpTo16383Characters) {
  const BYTE byte = 1;
  EXPECT_EQ(ERROR_SUCCESS,
            RegSetValueExA(base_, std::string(16383, 'v').c_str(), 0, REG_BINARY, &byte, 1));
  DWORD size = kUntouched;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(base_, std::string(16383, 'V').c_str(), nullptr,
                                            nullptr, nullptr, &size));
  EXPECT_EQ(1u, size);
  const std::string tooLong(16384, 'v');
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegSetValueExA(base_, tooLong.c_str(), 0, REG_BINARY, &byte, 1));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegQueryValueExA(base_, tooLong.c_str(), nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(base_, tooLong.c_str()));
}

TEST_F(Paths, ANullValueNameIsTheUnnamedValue) {
  const BYTE byte = 1;
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(base_, nullptr, 0, REG_BINARY, &byte, 1));
  DWORD size = kUntouched;
  DWORD type = kUntouched;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(base_, "", nullptr, &type, nullptr, &size));
  EXPECT_EQ(1u, size);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(base_, ""));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegQueryValueExA(base_, nullptr, nullptr, nullptr, nullptr, &size));
}

// Windows keeps keys to 512 levels below a root and documents creating at
// most 32 levels in one call, so the chain grows 32 levels at a time.
TEST(Keys, KeysNestDownTo512LevelsBelowTheRoot) {
  ScratchKey scratch("depth");
  HKEY key = Create(scratch.path());
  int depth = 1;
  for (char c : scratch.path()) depth += c == '\\';
  std::string chunk;
  for (int i = 0; i < 32; ++i) chunk += i == 0 ? "d" : "\\d";
  for (; depth + 32 < 512; depth += 32) {
    HKEY next = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, chunk.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &next, nullptr));
    RegCloseKey(key);
    key = next;
  }
  std::string last;  // down to level 512
  for (; depth < 512; ++depth) last += last.empty() ? "e" : "\\e";
  HKEY deepest = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, last.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &deepest, nullptr));
  HKEY tooDeep = nullptr;
  const LONG deeper =
      RegCreateKeyExA(deepest, "f", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &tooDeep, nullptr);
  if (deeper == ERROR_SUCCESS) RegCloseKey(tooDeep);
  const LONG deeperAtOnce = RegCreateKeyExA(key, (last + "\\f\\g").c_str(), 0, nullptr, 0,
                                            KEY_ALL_ACCESS, nullptr, &tooDeep, nullptr);
  if (deeperAtOnce == ERROR_SUCCESS) RegCloseKey(tooDeep);
#ifdef _WIN32
  // Wine's registry takes keys at any depth.
  EXPECT_EQ(ERROR_SUCCESS, deeper);
  EXPECT_EQ(ERROR_SUCCESS, deeperAtOnce);
#else
  EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, deeper);
  EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, deeperAtOnce);
  DWORD subKeys = 1;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(deepest, nullptr, nullptr, nullptr, &subKeys, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(0u, subKeys);  // nothing was created by the refused calls
#endif
  RegCloseKey(deepest);
  RegCloseKey(key);
}

TEST(Keys, ListsSubkeysSortedWithoutRegardToCaseKeepingTheirCase) {
  ScratchKey scratch("list");
  for (const char* name : {"beta", "Alpha", "_under", "gamma"}) RegCloseKey(Create(scratch / name));
  HKEY key = Create(scratch.path());
  DWORD count = 0, longest = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, &longest,
                                            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(4u, count);
  EXPECT_EQ(6u, longest);
  std::string listed;
  char name[256];
  DWORD index = 0;
  for (;; ++index) {
    DWORD length = sizeof name;
    const LONG rc = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(ERROR_SUCCESS, rc);
    listed += std::string(name, length) + ",";
  }
  // Windows keeps subkeys in the order of their upper-cased names, so '_'
  // (0x5F) follows the letters, and so does the embedded registry. Wine's
  // registry compares lower-cased names and lists '_' first.
  EXPECT_EQ(RunningUnderWine() ? "_under,Alpha,beta,gamma," : "Alpha,beta,gamma,_under,", listed);
  DWORD small = 3;
  EXPECT_EQ(ERROR_MORE_DATA,
            RegEnumKeyExA(key, 0, name, &small, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(key);
}

// A listing index by index sees what this process creates and deletes
// meanwhile, through any handle, as Windows' live list does.
TEST(Keys, AListingSeesThisProcesssOwnChangesAtTheNextIndex) {
  ScratchKey scratch("listchange");
  for (const char* name : {"b", "d", "f", "h"}) RegCloseKey(Create(scratch / name));
  HKEY key = Create(scratch.path());
  const auto nameAt = [&](DWORD index) {
    char name[16];
    DWORD length = sizeof name;
    const LONG rc = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    return rc == ERROR_SUCCESS ? std::string(name, length) : "error " + std::to_string(rc);
  };
  EXPECT_EQ("b", nameAt(0));
  EXPECT_EQ("d", nameAt(1));
  RegCloseKey(Create(scratch / "c"));
  EXPECT_EQ("c", nameAt(1));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, (scratch / "d").c_str()));
  EXPECT_EQ("f", nameAt(2));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, "h"));
  EXPECT_EQ("error " + std::to_string(ERROR_NO_MORE_ITEMS), nameAt(3));
  RegCloseKey(key);
}

TEST(Keys, DeleteRefusesAKeyWithSubkeysAndInvalidatesHandles) {
  ScratchKey scratch("delete");
  HKEY child = Create(scratch / "parent\\child");
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, (scratch / "parent").c_str()));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, (scratch / "parent\\child").c_str()));
  const BYTE byte = 1;
  EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExA(child, "v", 0, REG_BINARY, &byte, 1));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegDeleteKeyA(HKEY_CURRENT_USER, (scratch / "parent\\child").c_str()));
}

#ifdef _WIN32
constexpr UINT kFaulted = 77;

LONG WINAPI EndFaulted(EXCEPTION_POINTERS*) {
  TerminateProcess(GetCurrentProcess(), kFaulted);
  return EXCEPTION_EXECUTE_HANDLER;
}

// Opens a key into a null result pointer; a fault ends the process with
// kFaulted, quietly (no debugger).
LONG OpenIntoNull(const std::string& path) {
  SetUnhandledExceptionFilter(EndFaulted);
  return RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, nullptr);
}
#endif

TEST(Keys, BadHandlesAndArgumentsGiveCodes) {
  ScratchKey scratch("bad");
  HKEY key = Create(scratch.path());
  ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  DWORD size = 0;
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
#ifdef _WIN32
  if (RunningUnderWine()) {
    // Windows refuses a null result pointer with ERROR_INVALID_PARAMETER, as
    // the embedded registry does; Wine 8 writes through it and faults.
    EXPECT_EXIT(OpenIntoNull(scratch.path()), ::testing::ExitedWithCode(kFaulted), "");
  } else
#endif
  {
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegOpenKeyExA(HKEY_CURRENT_USER, scratch.path().c_str(), 0, KEY_READ, nullptr));
  }
  const std::string tooLong(256, 'x');
  HKEY out = nullptr;
  EXPECT_NE(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (scratch / tooLong).c_str(), 0,
                                           nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr));
}

TEST(Keys, HandlesCarryTheirAccess) {
  ScratchKey scratch("access");
  RegCloseKey(Create(scratch.path()));
  HKEY readOnly = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, scratch.path().c_str(), 0, KEY_READ, &readOnly));
  const BYTE byte = 1;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(readOnly, "v", 0, REG_BINARY, &byte, 1));
  RegCloseKey(readOnly);
  HKEY writeOnly = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, scratch.path().c_str(), 0, KEY_SET_VALUE, &writeOnly));
  DWORD size = 0;
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegQueryValueExA(writeOnly, "v", nullptr, nullptr, nullptr, &size));
  RegCloseKey(writeOnly);
}

TEST(Keys, ConnectsToThisMachineByName) {
  char name[MAX_COMPUTERNAME_LENGTH + 256];
  DWORD size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  HKEY root = nullptr;
  EXPECT_EQ(ERROR_SUCCESS,
            RegConnectRegistryA((std::string("\\\\") + name).c_str(), HKEY_LOCAL_MACHINE, &root));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(root));
  EXPECT_EQ(ERROR_BAD_NETPATH,
            RegConnectRegistryA("\\\\no-such-machine-here", HKEY_LOCAL_MACHINE, &root));
}

}  // namespace

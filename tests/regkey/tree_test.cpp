// Listings, bulk and subtree deletion, and change notification.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "regkey/qorCRegKey.h"
#include "support/recording_service.h"
#include "support/scratch_key.h"

namespace {

using regkey::test::Recorded;
using regkey::test::ScratchKey;

bool KeyExists(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

void MakeKey(const std::string& path) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

struct TreeFixture : ::testing::Test {
  ScratchKey scratch{"tree"};
  qorCRegKey key;
  void SetUp() override {
    ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
  }
  void Value(LPCSTR name) {
    const BYTE byte = 1;
    ASSERT_TRUE(key.SetValue(name, &byte, 1, REG_BINARY));
  }
};

TEST_F(TreeFixture, ListingsEmptyTheArrayFirst) {
  CStringArray names;
  names.Add("stale");
  EXPECT_TRUE(key.EnumValueNames(names));
  EXPECT_EQ(names.GetSize(), 0);
  Value(nullptr);  // the unnamed value alone lists as nothing
  names.Add("stale");
  EXPECT_TRUE(key.EnumValueNames(names, true));
  EXPECT_EQ(names.GetSize(), 0);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_TRUE(key.DeleteAllValues());
  BYTE buffer[4];
  EXPECT_EQ(key.QueryValue(nullptr, buffer, sizeof buffer, REG_BINARY), 1);  // left in place
  Value("a");
  Value("bb");
  ASSERT_TRUE(key.EnumValueNames(names));
  ASSERT_EQ(names.GetSize(), 3);
  int empty = 0;
  for (INT_PTR i = 0; i < names.GetSize(); ++i) empty += names[i].IsEmpty() ? 1 : 0;
  EXPECT_EQ(empty, 1);  // beside named values the unnamed one is listed
  EXPECT_TRUE(key.DeleteAllValues(true));
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_TRUE(key.EnumValueNames(names));
  EXPECT_EQ(names.GetSize(), 0);

  MakeKey(scratch / "one");
  MakeKey(scratch / "two");
  ASSERT_TRUE(key.EnumSubKeyNames(names));
  EXPECT_EQ(names.GetSize(), 2);
  qorCRegKey unnamed;
  EXPECT_FALSE(unnamed.EnumSubKeyNames(names));
  EXPECT_EQ(unnamed.m_lError, ERROR_INVALID_DATA);
  EXPECT_EQ(names.GetSize(), 0);
}

TEST_F(TreeFixture, DeleteKeyRemovesAThreeLevelTreePostOrder) {
  MakeKey(scratch / "a\\a1\\a11");
  MakeKey(scratch / "a\\a2");
  MakeKey(scratch / "b");
  Value("v");
  Recorded recorded;
  ASSERT_TRUE(key.DeleteKey());
  std::vector<std::string> deleted;
  for (const regkey::test::Call& call : recorded.service.Of("DeleteKey")) {
    EXPECT_EQ(call.key, HKEY_CURRENT_USER);  // always the root and the full path
    deleted.push_back(call.text);
  }
  const std::string p = scratch.path();
  EXPECT_EQ(deleted, (std::vector<std::string>{p + "\\a\\a1\\a11", p + "\\a\\a1", p + "\\a\\a2",
                                               p + "\\a", p + "\\b", p}));
  EXPECT_TRUE(recorded.service.open.empty());
  EXPECT_FALSE(key.IsOpen());
  EXPECT_FALSE(KeyExists(p));
  EXPECT_STREQ(key.GetSubKey(), p.c_str());
  ASSERT_TRUE(key.Open());
  EXPECT_TRUE(key.WasCreated());
  CStringArray names;
  EXPECT_TRUE(key.EnumSubKeyNames(names));
  EXPECT_EQ(names.GetSize(), 0);
}

TEST_F(TreeFixture, DeleteSubKeyDeletesOnlyBelowThisKey) {
  MakeKey(scratch / "child\\grand\\deep");
  key.m_lError = 1234;
  EXPECT_TRUE(key.DeleteSubKey("\\\\child\\grand"));
  EXPECT_EQ(key.m_lError, 1234);  // a success leaves the code as it was
  EXPECT_TRUE(KeyExists(scratch / "child"));
  EXPECT_FALSE(KeyExists(scratch / "child\\grand"));
  for (LPCTSTR none : {static_cast<LPCTSTR>(nullptr), "", "\\", "\\\\\\"}) {
    key.m_lError = 0;
    EXPECT_FALSE(key.DeleteSubKey(none));
    EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  }
  EXPECT_TRUE(KeyExists(scratch.path()));
  EXPECT_TRUE(KeyExists(scratch / "child"));
  qorCRegKey unnamed;
  EXPECT_FALSE(unnamed.DeleteSubKey("child"));
  EXPECT_EQ(unnamed.m_lError, ERROR_INVALID_DATA);
}

TEST_F(TreeFixture, MissingKeys) {
  qorCRegKey only(qorCRegKey::flagOpenExisting);
  ASSERT_TRUE(only.SetKey(nullptr, scratch.root(), (scratch / "none").c_str(), 0));
  EXPECT_TRUE(only.DeleteAllValues());
  EXPECT_EQ(only.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(only.DeleteAllSubKeys());
  EXPECT_EQ(only.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(only.DeleteKey());  // still reaches the delete call
  EXPECT_NE(only.m_lError, 0);
  EXPECT_FALSE(KeyExists(scratch / "none"));
  // Allowed to create, DeleteKey makes the key and deletes it again.
  qorCRegKey creating;
  ASSERT_TRUE(creating.SetKey(nullptr, scratch.root(), (scratch / "none").c_str(), 0));
  EXPECT_TRUE(creating.DeleteKey());
  EXPECT_FALSE(KeyExists(scratch / "none"));
}

TEST_F(TreeFixture, OneFailedSubkeyDoesNotStopItsSiblings) {
  MakeKey(scratch / "a");
  MakeKey(scratch / "b\\b1");
  MakeKey(scratch / "c");
  Recorded recorded;
  recorded.service.deleteKey = [&](HKEY root, LPCSTR path) -> LONG {
    if (std::string(path) == scratch / "b") return ERROR_ACCESS_DENIED;
    return recorded.service.Next().RegDeleteKeyA(root, path);
  };
  EXPECT_FALSE(key.DeleteAllSubKeys());
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_FALSE(KeyExists(scratch / "a"));
  EXPECT_FALSE(KeyExists(scratch / "b\\b1"));
  EXPECT_TRUE(KeyExists(scratch / "b"));
  EXPECT_FALSE(KeyExists(scratch / "c"));
  // DeleteKey goes on to its own delete call all the same.
  recorded.service.Clear();
  EXPECT_FALSE(key.DeleteKey());
  EXPECT_EQ(recorded.service.Of("DeleteKey").back().text, scratch.path());
  EXPECT_FALSE(key.IsOpen());
}

TEST_F(TreeFixture, ListingFaults) {
  Value("a");
  Value("b");
  Value("c");
  Recorded recorded;
  recorded.service.enumValue = [&](HKEY hKey, DWORD index, LPSTR name, LPDWORD cch) -> LONG {
    if (index == 2) return ERROR_ACCESS_DENIED;
    const LONG result = recorded.service.Next().RegEnumValueA(hKey, index, name, cch, nullptr,
                                                              nullptr, nullptr, nullptr);
    *cch = 0;  // a service that shrinks the capacity
    return result;
  };
  CStringArray names;
  EXPECT_FALSE(key.EnumValueNames(names, true));
  EXPECT_EQ(key.m_lError, ERROR_ACCESS_DENIED);
  EXPECT_EQ(names.GetSize(), 2);  // the names read so far stay
  EXPECT_FALSE(key.IsOpen());
  for (const regkey::test::Call& call : recorded.service.Of("EnumValue")) {
    EXPECT_EQ(call.count, 3u);  // longest name + 2, before every call
    EXPECT_TRUE(call.nullsAsGiven);
  }
  ASSERT_EQ(recorded.service.Count("Info"), 1u);
  EXPECT_TRUE(recorded.service.Of("Info")[0].nullsAsGiven);
  // A bulk deletion whose listing fails keeps the key open.
  EXPECT_FALSE(key.DeleteAllValues(true));
  EXPECT_TRUE(key.IsOpen());
  recorded.service.info = [](HKEY, LPDWORD, LPDWORD, LPDWORD, LPDWORD) {
    return LONG{ERROR_BADDB};
  };
  EXPECT_FALSE(key.EnumSubKeyNames(names, true));
  EXPECT_EQ(key.m_lError, ERROR_BADDB);
  EXPECT_FALSE(key.IsOpen());
  // A listed subkey name that names no subkey is not deleted as this key.
  recorded.service.info = nullptr;
  MakeKey(scratch / "x");
  recorded.service.enumKey = [](HKEY, DWORD index, LPSTR name, LPDWORD cch) -> LONG {
    if (index > 0) return ERROR_NO_MORE_ITEMS;
    name[0] = '\0';
    *cch = 0;
    return 0;
  };
  recorded.service.Clear();
  EXPECT_FALSE(key.DeleteAllSubKeys());
  EXPECT_EQ(recorded.service.Count("DeleteKey"), 0u);
  EXPECT_TRUE(KeyExists(scratch.path()));
}

TEST_F(TreeFixture, WaitForChange) {
  // Woken by a change from another thread.
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    qorCRegKey other;
    other.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0);
    const BYTE byte = 1;
    other.SetValue("changed", &byte, 1, REG_BINARY, true);
  });
  EXPECT_TRUE(key.WaitForChange(10000, qorCRegKey::filterDefault, true, false));
  writer.join();
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_TRUE(key.IsOpen());  // left open as asked
  // No change: a time-out, then closed because the caller asked.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(key.WaitForChange(150, qorCRegKey::filterDefault, true, true));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(key.m_lError, ERROR_TIMEOUT);
  EXPECT_FALSE(key.IsOpen());
  // Arming that fails doesn't wait.
  Recorded recorded;
  recorded.service.notify = [](HKEY, BOOL, DWORD, HANDLE) { return LONG{ERROR_ACCESS_DENIED}; };
  const auto armed = std::chrono::steady_clock::now();
  EXPECT_FALSE(key.WaitForChange(5000));
  EXPECT_LT(std::chrono::steady_clock::now() - armed, std::chrono::milliseconds(2000));
  EXPECT_EQ(key.m_lError, ERROR_ACCESS_DENIED);
  ASSERT_EQ(recorded.service.Count("Notify"), 1u);
  EXPECT_TRUE(recorded.service.Of("Notify")[0].nullsAsGiven);
  EXPECT_TRUE(recorded.service.Of("Notify")[0].flag);
}

TEST_F(TreeFixture, NotifyChangeRefusesOpenRemoteKeys) {
  char machine[64] = {};
  DWORD size = sizeof machine;
  ASSERT_TRUE(GetComputerNameA(machine, &size));
  ASSERT_TRUE(key.SetKey(machine, scratch.root(), scratch.path().c_str(), 0));
  CEvent event;
  Recorded recorded;
  recorded.service.notify = [](HKEY, BOOL, DWORD, HANDLE) { return LONG{0}; };
  EXPECT_TRUE(key.NotifyChange(event));  // not yet open: opens and arms
  EXPECT_EQ(recorded.service.Count("Notify"), 1u);
  EXPECT_FALSE(key.NotifyChange(event));
  EXPECT_EQ(key.m_lError, ERROR_INVALID_HANDLE);
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(recorded.service.Count("Notify"), 1u);
}

#ifndef _WIN32
// The other process of the test below: started afresh (a forked copy would
// share this process's store connection and locks), it sets a value under
// the key it is given.
TEST(OtherProcess, SetsAValueUnderTheKeyItIsGiven) {
  const char* path = std::getenv("REGKEY_TEST_CHILD_KEY");
  if (path == nullptr) GTEST_SKIP() << "runs only as the writer that another test starts";
  usleep(200 * 1000);
  HKEY raw = nullptr;
  LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &raw);
  const BYTE byte = 1;
  if (result == ERROR_SUCCESS) result = RegSetValueExA(raw, "fromChild", 0, REG_BINARY, &byte, 1);
  if (raw != nullptr) RegCloseKey(raw);
  ASSERT_EQ(ERROR_SUCCESS, result);
}

// A change that another process makes under the key wakes the wait.
TEST_F(TreeFixture, WaitForChangeWokenByAnotherProcess) {
  ASSERT_TRUE(key.Open());
  ASSERT_EQ(scratch.root(), HKEY_CURRENT_USER);
  const std::string path = scratch.path();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("REGKEY_TEST_CHILD_KEY", path.c_str(), 1);
    execl("/proc/self/exe", "other-process", "--gtest_filter=OtherProcess.*", nullptr);
    _exit(127);
  }
  EXPECT_TRUE(key.WaitForChange(10000, qorCRegKey::filterDefault, true, true));
  EXPECT_EQ(key.m_lError, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
#endif

}  // namespace

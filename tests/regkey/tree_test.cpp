// Listings, bulk and subtree deletion, and change notification.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "regkey/qorCRegKey.h"
#include "tests/regkey/support/recording_service.h"
#include "tests/support/scratch_key.h"

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

// Pre-filled, so that an array a listing does not empty shows.
CStringArray& Stale(CStringArray& names) {
  names.Add("stale");
  return names;
}

std::vector<std::string> Sorted(const CStringArray& names) {
  std::vector<std::string> sorted;
  for (INT_PTR i = 0; i < names.GetSize(); ++i) sorted.emplace_back(names[i]);
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}

TEST_F(TreeFixture, ListingsEmptyTheArrayFirst) {
  CStringArray names;
  EXPECT_TRUE(key.EnumValueNames(Stale(names)));
  EXPECT_EQ(names.GetSize(), 0);
  EXPECT_TRUE(key.EnumSubKeyNames(Stale(names)));
  EXPECT_EQ(names.GetSize(), 0);
  EXPECT_EQ(key.m_lError, 0);
}

TEST_F(TreeFixture, ListingsReturnEveryName) {
  Value("a");
  Value("bb");
  MakeKey(scratch / "one");
  MakeKey(scratch / "two");
  CStringArray names;
  ASSERT_TRUE(key.EnumValueNames(Stale(names)));
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"a", "bb"}));
  ASSERT_TRUE(key.EnumSubKeyNames(Stale(names), true));
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"one", "two"}));
  EXPECT_FALSE(key.IsOpen());
}

// A listing overwrites the names an array holds in place: longer and shorter
// arrays end up holding exactly the key's names, and a copy the caller kept
// of an element keeps its text.
TEST_F(TreeFixture, ListingsIntoFilledArraysHoldExactlyTheNamesAndLeaveCopiesAlone) {
  Value("a");
  Value("bb");
  CStringArray names;
  for (const char* stale : {"stale one", "s", "stale three", "stale four", "stale five"})
    names.Add(stale);
  const CString kept = names[0];
  ASSERT_TRUE(key.EnumValueNames(names));
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"a", "bb"}));
  EXPECT_STREQ(kept, "stale one");
  for (const char* child : {"one", "two", "three"}) MakeKey(scratch / child);
  ASSERT_TRUE(key.EnumSubKeyNames(names));
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"one", "three", "two"}));
}

TEST_F(TreeFixture, TheUnnamedValueAloneListsAsNothingAndSurvivesDeleteAllValues) {
  Value(nullptr);
  CStringArray names;
  EXPECT_TRUE(key.EnumValueNames(Stale(names), true));
  EXPECT_EQ(names.GetSize(), 0);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_TRUE(key.DeleteAllValues());
  BYTE buffer[4];
  EXPECT_EQ(key.QueryValue(nullptr, buffer, sizeof buffer, REG_BINARY), 1);
}

TEST_F(TreeFixture, TheUnnamedValueBesideNamedOnesIsListedAndDeleted) {
  Value(nullptr);
  Value("a");
  Value("bb");
  CStringArray names;
  ASSERT_TRUE(key.EnumValueNames(names));
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"", "a", "bb"}));
  key.m_lError = 5;
  EXPECT_TRUE(key.DeleteAllValues(true));
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_TRUE(key.EnumValueNames(Stale(names)));
  EXPECT_EQ(names.GetSize(), 0);
}

TEST_F(TreeFixture, ListingAKeyThatCannotBeOpenedFailsWithAnEmptyArray) {
  qorCRegKey unnamed;
  CStringArray names;
  EXPECT_FALSE(unnamed.EnumSubKeyNames(Stale(names)));
  EXPECT_EQ(unnamed.m_lError, ERROR_INVALID_DATA);
  EXPECT_EQ(names.GetSize(), 0);
  qorCRegKey missing(qorCRegKey::flagOpenExisting);
  ASSERT_TRUE(missing.SetKey(nullptr, scratch.root(), (scratch / "none").c_str(), 0));
  EXPECT_FALSE(missing.EnumValueNames(Stale(names)));
  EXPECT_EQ(missing.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(names.GetSize(), 0);
}

TEST_F(TreeFixture, DeleteKeyRemovesAThreeLevelTreePostOrder) {
  MakeKey(scratch / "a\\a1\\a11");
  MakeKey(scratch / "a\\a2");
  MakeKey(scratch / "b");
  Value("v");
  Recorded recorded;
  ASSERT_TRUE(key.DeleteKey());
  EXPECT_EQ(key.m_lError, 0);
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
}

TEST_F(TreeFixture, ADeletedKeyKeepsItsNameAndReopensEmpty) {
  MakeKey(scratch / "a");
  Value("v");
  ASSERT_TRUE(key.DeleteKey());
  EXPECT_STREQ(key.GetSubKey(), scratch.path().c_str());
  ASSERT_TRUE(key.Open());
  EXPECT_TRUE(key.WasCreated());
  CStringArray names;
  EXPECT_TRUE(key.EnumSubKeyNames(Stale(names)));
  EXPECT_EQ(names.GetSize(), 0);
  EXPECT_TRUE(key.EnumValueNames(Stale(names)));
  EXPECT_EQ(names.GetSize(), 0);
}

TEST_F(TreeFixture, DeleteSubKeyDeletesOnlyTheNamedGrandchild) {
  MakeKey(scratch / "child\\grand\\deep");
  Recorded recorded;
  EXPECT_TRUE(key.DeleteSubKey("\\\\child\\grand"));  // leading backslashes dropped
  EXPECT_TRUE(KeyExists(scratch / "child"));
  EXPECT_FALSE(KeyExists(scratch / "child\\grand"));
  EXPECT_EQ(recorded.service.Of("DeleteKey").back().text, scratch / "child\\grand");
  EXPECT_FALSE(key.IsOpen());  // this key's own handle is not touched
}

TEST_F(TreeFixture, DeleteSubKeySuccessLeavesTheErrorAsItWas) {
  MakeKey(scratch / "child");
  key.m_lError = 1234;
  EXPECT_TRUE(key.DeleteSubKey("child"));
  EXPECT_EQ(key.m_lError, 1234);
  EXPECT_FALSE(KeyExists(scratch / "child"));
}

TEST_F(TreeFixture, DeleteSubKeyFailureCopiesTheTemporaryKeysError) {
  MakeKey(scratch / "child");
  Recorded recorded;
  recorded.service.deleteKey = [](HKEY, LPCSTR) { return LONG{ERROR_ACCESS_DENIED}; };
  ASSERT_TRUE(key.Open());
  EXPECT_FALSE(key.DeleteSubKey("child"));
  EXPECT_EQ(key.m_lError, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(key.IsOpen());
  key.Close();
}

TEST_F(TreeFixture, DeleteSubKeyRefusesNamesThatNameNoSubKey) {
  MakeKey(scratch / "child");
  Recorded recorded;
  for (LPCTSTR none : {static_cast<LPCTSTR>(nullptr), "", "\\", "\\\\\\"}) {
    key.m_lError = 0;
    EXPECT_FALSE(key.DeleteSubKey(none));
    EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  }
  EXPECT_TRUE(recorded.service.calls.empty());
  EXPECT_TRUE(KeyExists(scratch / "child"));
}

TEST_F(TreeFixture, DeleteSubKeyOfAnUnnamedKeyFailsWith13) {
  Recorded recorded;
  qorCRegKey unnamed;
  EXPECT_FALSE(unnamed.DeleteSubKey("child"));
  EXPECT_EQ(unnamed.m_lError, ERROR_INVALID_DATA);
  EXPECT_EQ(recorded.service.Count("DeleteKey"), 0u);
}

TEST_F(TreeFixture, BulkDeletionsOfAMissingOpenOnlyKeySucceedWith2) {
  qorCRegKey only(qorCRegKey::flagOpenExisting);
  ASSERT_TRUE(only.SetKey(nullptr, scratch.root(), (scratch / "none").c_str(), 0));
  EXPECT_TRUE(only.DeleteAllValues());
  EXPECT_EQ(only.m_lError, ERROR_FILE_NOT_FOUND);
  only.m_lError = 0;
  EXPECT_TRUE(only.DeleteAllSubKeys());
  EXPECT_EQ(only.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(KeyExists(scratch / "none"));
}

TEST_F(TreeFixture, BulkDeletionsOfAKeyThatCannotBeOpenedFail) {
  Recorded recorded;
  recorded.service.createKey = [](HKEY, LPCSTR, REGSAM, PHKEY, LPDWORD) {
    return LONG{ERROR_ACCESS_DENIED};
  };
  EXPECT_FALSE(key.DeleteAllValues());
  EXPECT_EQ(key.m_lError, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(key.DeleteAllSubKeys());
  EXPECT_EQ(key.m_lError, ERROR_ACCESS_DENIED);
}

TEST_F(TreeFixture, DeleteKeyOfAMissingOpenOnlyKeyStillReachesTheDeleteCall) {
  qorCRegKey only(qorCRegKey::flagOpenExisting);
  ASSERT_TRUE(only.SetKey(nullptr, scratch.root(), (scratch / "none").c_str(), 0));
  Recorded recorded;
  recorded.service.deleteKey = [](HKEY, LPCSTR) { return LONG{ERROR_ACCESS_DENIED}; };
  EXPECT_FALSE(only.DeleteKey());
  ASSERT_EQ(recorded.service.Count("DeleteKey"), 1u);
  EXPECT_EQ(recorded.service.Of("DeleteKey")[0].text, scratch / "none");
  EXPECT_EQ(only.m_lError, ERROR_ACCESS_DENIED);  // the delete call's code, not Open's 2
  EXPECT_FALSE(KeyExists(scratch / "none"));
}

TEST_F(TreeFixture, DeleteKeyOfAMissingKeyThatMayBeCreatedSucceeds) {
  qorCRegKey creating;
  ASSERT_TRUE(creating.SetKey(nullptr, scratch.root(), (scratch / "none").c_str(), 0));
  EXPECT_TRUE(creating.DeleteKey());
  EXPECT_EQ(creating.m_lError, 0);
  EXPECT_FALSE(KeyExists(scratch / "none"));
}

TEST_F(TreeFixture, DeleteKeyOfAnUnreachableMachineDeletesNothing) {
  qorCRegKey remote;
  ASSERT_TRUE(remote.SetKey("regkey-no-such-host", scratch.root(), scratch.path().c_str(), 0));
  Recorded recorded;
  EXPECT_FALSE(remote.DeleteKey());
  EXPECT_EQ(remote.m_lError, ERROR_BAD_NETPATH);
  EXPECT_EQ(recorded.service.Count("DeleteKey"), 0u);
  EXPECT_TRUE(recorded.service.open.empty());
}

struct SubkeyFaultFixture : TreeFixture {
  Recorded recorded;
  void SetUp() override {
    TreeFixture::SetUp();
    MakeKey(scratch / "a");
    MakeKey(scratch / "b\\b1");
    MakeKey(scratch / "c");
    recorded.service.deleteKey = [this](HKEY root, LPCSTR path) -> LONG {
      if (std::string(path) == scratch / "b") return ERROR_ACCESS_DENIED;
      return recorded.service.Next().RegDeleteKeyA(root, path);
    };
  }
  void TearDown() override { key.Close(); }
};

TEST_F(SubkeyFaultFixture, OneFailedSubkeyDoesNotStopItsSiblings) {
  key.m_lError = 5;
  EXPECT_FALSE(key.DeleteAllSubKeys());
  EXPECT_EQ(key.m_lError, 0);  // the temporary key's code is not copied
  EXPECT_FALSE(KeyExists(scratch / "a"));
  EXPECT_FALSE(KeyExists(scratch / "b\\b1"));
  EXPECT_TRUE(KeyExists(scratch / "b"));
  EXPECT_FALSE(KeyExists(scratch / "c"));
}

TEST_F(SubkeyFaultFixture, DeleteKeyGoesOnToItsOwnDeleteAfterAFailedSubkey) {
  EXPECT_FALSE(key.DeleteKey());
  EXPECT_EQ(recorded.service.Of("DeleteKey").back().text, scratch.path());
  EXPECT_FALSE(key.IsOpen());
  EXPECT_FALSE(KeyExists(scratch / "c"));
}

struct ListingFaultFixture : TreeFixture {
  Recorded recorded;
  void SetUp() override {
    TreeFixture::SetUp();
    Value("a");
    Value("b");
    Value("c");
    key.Close();
    recorded.service.Clear();
    recorded.service.enumValue = [this](HKEY hKey, DWORD index, LPSTR name, LPDWORD cch) -> LONG {
      if (index == 2) return ERROR_ACCESS_DENIED;
      const LONG result = recorded.service.Next().RegEnumValueA(hKey, index, name, cch, nullptr,
                                                                nullptr, nullptr, nullptr);
      *cch = 0;  // a service that shrinks the capacity
      return result;
    };
  }
  void TearDown() override { key.Close(); }
};

TEST_F(ListingFaultFixture, AFailedNameQueryKeepsTheNamesReadSoFar) {
  CStringArray names;
  EXPECT_FALSE(key.EnumValueNames(Stale(names), true));
  EXPECT_EQ(key.m_lError, ERROR_ACCESS_DENIED);
  EXPECT_EQ(names.GetSize(), 2);
  EXPECT_FALSE(key.IsOpen());
}

TEST_F(ListingFaultFixture, AFailedNameQueryLeavesALongerArrayWithTheNamesReadSoFar) {
  recorded.service.enumValue = [this](HKEY hKey, DWORD index, LPSTR name, LPDWORD cch) -> LONG {
    if (index == 2) return ERROR_ACCESS_DENIED;
    return recorded.service.Next().RegEnumValueA(hKey, index, name, cch, nullptr, nullptr, nullptr,
                                                 nullptr);
  };
  CStringArray names;
  for (int i = 0; i < 6; ++i) Stale(names);
  EXPECT_FALSE(key.EnumValueNames(names));
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"a", "b"}));
}

// The count the information query gives only sizes the array ahead: too
// small or absurdly large, the listing still holds every name and no more.
TEST_F(ListingFaultFixture, AWrongCountFromTheInfoQueryChangesNoListing) {
  recorded.service.enumValue = nullptr;
  for (const DWORD count : {DWORD{1}, DWORD{0xFFFFFFFF}}) {
    recorded.service.info = [&, count](HKEY hKey, LPDWORD, LPDWORD, LPDWORD values,
                                       LPDWORD longest) {
      const LONG result = recorded.service.Next().RegQueryInfoKeyA(
          hKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, values, longest, nullptr,
          nullptr, nullptr);
      *values = count;
      return result;
    };
    CStringArray names;
    ASSERT_TRUE(key.EnumValueNames(Stale(names))) << count;
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{"a", "b", "c"})) << count;
  }
}

TEST_F(ListingFaultFixture, TheCapacityIsTheLongestNamePlusTwoBeforeEveryCall) {
  CStringArray names;
  key.EnumValueNames(names);
  ASSERT_EQ(recorded.service.Count("EnumValue"), 3u);
  for (const regkey::test::Call& call : recorded.service.Of("EnumValue")) {
    EXPECT_EQ(call.count, 3u);
    EXPECT_TRUE(call.nullsAsGiven);
  }
  ASSERT_EQ(recorded.service.Count("Info"), 1u);
  EXPECT_EQ(recorded.service.Of("Info")[0].text, "values");
  EXPECT_TRUE(recorded.service.Of("Info")[0].nullsAsGiven);
}

TEST_F(ListingFaultFixture, ABulkDeletionWhoseListingFailsKeepsTheKeyOpen) {
  EXPECT_FALSE(key.DeleteAllValues(true));
  EXPECT_EQ(key.m_lError, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(recorded.service.Count("DeleteValue"), 0u);
}

TEST_F(ListingFaultFixture, AFailedInfoQueryFailsTheListingAndAppliesCloseAfter) {
  recorded.service.info = [](HKEY, LPDWORD, LPDWORD, LPDWORD, LPDWORD) {
    return LONG{ERROR_BADDB};
  };
  CStringArray names;
  EXPECT_FALSE(key.EnumSubKeyNames(Stale(names), true));
  EXPECT_EQ(key.m_lError, ERROR_BADDB);
  EXPECT_EQ(names.GetSize(), 0);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(recorded.service.Count("EnumKey"), 0u);
}

TEST_F(ListingFaultFixture, AListedNameThatNamesNoSubKeyIsNotDeleted) {
  MakeKey(scratch / "x");
  recorded.service.enumKey = [](HKEY, DWORD index, LPSTR name, LPDWORD cch) -> LONG {
    if (index > 0) return ERROR_NO_MORE_ITEMS;
    name[0] = '\0';
    *cch = 0;
    return 0;
  };
  EXPECT_FALSE(key.DeleteAllSubKeys());
  EXPECT_EQ(recorded.service.Count("DeleteKey"), 0u);
  EXPECT_TRUE(KeyExists(scratch.path()));
}

TEST_F(TreeFixture, AValueThatCannotBeDeletedDoesNotStopTheOthers) {
  Value("a");
  Value("b");
  Value("c");
  Recorded recorded;
  recorded.service.deleteValue = [&](HKEY hKey, LPCSTR name) -> LONG {
    if (std::string(name) == "b") return ERROR_ACCESS_DENIED;
    return recorded.service.Next().RegDeleteValueA(hKey, name);
  };
  EXPECT_FALSE(key.DeleteAllValues(true));
  EXPECT_EQ(recorded.service.Count("DeleteValue"), 3u);
  // m_lError is the last DeleteValue's code.
  EXPECT_EQ(key.m_lError, recorded.service.Of("DeleteValue").back().result);
  EXPECT_FALSE(key.IsOpen());
  CStringArray names;
  ASSERT_TRUE(key.EnumValueNames(names, true));
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"b"}));
}

TEST_F(TreeFixture, WaitForChangeWokenByAnotherThread) {
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    qorCRegKey other;
    other.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0);
    const BYTE byte = 1;
    other.SetValue("changed", &byte, 1, REG_BINARY, true);
  });
  key.m_lError = 5;
  EXPECT_TRUE(key.WaitForChange(10000, qorCRegKey::filterDefault, true, false));
  writer.join();
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_TRUE(key.IsOpen());  // left open as asked
}

TEST_F(TreeFixture, WaitForChangeTimesOutWith1460ThenAppliesCloseAfter) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(key.WaitForChange(150, qorCRegKey::filterDefault, true, true));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(key.m_lError, ERROR_TIMEOUT);
  EXPECT_FALSE(key.IsOpen());
}

TEST_F(TreeFixture, WaitForChangeDoesNotWaitWhenArmingFails) {
  Recorded recorded;
  recorded.service.notify = [](HKEY, BOOL, DWORD, HANDLE) { return LONG{ERROR_ACCESS_DENIED}; };
  const auto armed = std::chrono::steady_clock::now();
  EXPECT_FALSE(key.WaitForChange(5000, REG_NOTIFY_CHANGE_NAME, true, true));
  EXPECT_LT(std::chrono::steady_clock::now() - armed, std::chrono::milliseconds(2000));
  EXPECT_EQ(key.m_lError, ERROR_ACCESS_DENIED);
  ASSERT_EQ(recorded.service.Count("Notify"), 1u);
  const regkey::test::Call notify = recorded.service.Of("Notify")[0];
  EXPECT_TRUE(notify.nullsAsGiven);  // asynchronous, with an event
  EXPECT_TRUE(notify.flag);
  EXPECT_EQ(notify.number, static_cast<DWORD>(REG_NOTIFY_CHANGE_NAME));
  EXPECT_FALSE(key.IsOpen());
}

struct RemoteNotifyFixture : TreeFixture {
  Recorded recorded;
  CEvent event;
  void SetUp() override {
    char machine[64] = {};
    DWORD size = sizeof machine;
    ASSERT_TRUE(GetComputerNameA(machine, &size));
    ASSERT_TRUE(key.SetKey(machine, scratch.root(), scratch.path().c_str(), 0));
    recorded.service.notify = [](HKEY, BOOL, DWORD, HANDLE) { return LONG{0}; };
  }
  void TearDown() override { key.Close(); }
};

TEST_F(RemoteNotifyFixture, NotifyChangeOpensAndArmsARemoteKeyNotYetOpen) {
  EXPECT_TRUE(key.NotifyChange(event, qorCRegKey::filterDefault, false, true));
  EXPECT_EQ(key.m_lError, 0);
  ASSERT_EQ(recorded.service.Count("Notify"), 1u);
  EXPECT_EQ(recorded.service.Of("Notify")[0].key, key.GetKeyHandle());
  EXPECT_FALSE(recorded.service.Of("Notify")[0].flag);
  EXPECT_TRUE(key.IsOpen());  // remote: close-after ignored
}

TEST_F(RemoteNotifyFixture, NotifyChangeRefusesAKeyOpenOnARemoteMachine) {
  ASSERT_TRUE(key.Open());
  EXPECT_FALSE(key.NotifyChange(event));
  EXPECT_EQ(key.m_lError, ERROR_INVALID_HANDLE);
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(recorded.service.Count("Notify"), 0u);
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

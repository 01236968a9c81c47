// The store under several processes, crashes and bad files. Every test works
// on store files of its own in a scratch folder: child processes (the
// registry_store_child helper) reach them through REGKEY_STORE, this process
// through a declared machine, so it never opens its own local store.
#include <memory>
#include <random>
#include <set>
#include <string>
#include <sys/wait.h>
#include <vector>
#include <windows.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "tests/registry/store_child_protocol.h"
#include "tests/registry/store_harness.h"

namespace {

using namespace regkey::test;

// --- A writer killed mid-stream ---------------------------------------------

TEST(Store, KilledWriterLosesNoWriteItReportedDone) {
  const std::string path = "Software\\regkey-tests\\stream";
  for (const unsigned killAfter : {150u, 400u, 700u}) {
    SCOPED_TRACE("killed after " + std::to_string(killAfter) + " reports");
    ScratchFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string store = folder / "registry.db";

    long reported = -1;  // the last index the child reported done
    {
      Child child(store, {"stream", path});
      ASSERT_TRUE(child.started());
      std::string line;
      while (reported + 1 < static_cast<long>(killAfter) && child.ReadLine(line))
        reported = std::stol(line);
      ASSERT_EQ(static_cast<long>(killAfter) - 1, reported) << "the child stopped early";
      child.Kill();
      // Reports already in the pipe count too.
      while (child.ReadLine(line)) reported = std::stol(line);
      const int status = child.Wait();
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    }

    Machine machine(store);
    ASSERT_EQ(ERROR_SUCCESS, machine.declared());
    KeyCloser key;
    ASSERT_EQ(ERROR_SUCCESS, machine.Open(path, key.key));
    // The last write reported done, and the one in progress when the child
    // died: there whole or not at all.
    const auto next = static_cast<unsigned>(reported + 1);
    LONG code = 0;
    DWORD type = 0;
    EXPECT_EQ(StreamData(next - 1), QueryBytes(key.key, StreamName(next - 1), code, type));
    EXPECT_EQ(ERROR_SUCCESS, code);
    const std::string data = QueryBytes(key.key, StreamName(next), code, type);
    if (code == ERROR_SUCCESS) {
      EXPECT_EQ(StreamData(next), data);
    } else {
      EXPECT_EQ(ERROR_FILE_NOT_FOUND, code);
    }
    QueryBytes(key.key, StreamName(next + 1), code, type);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, code);
    const DWORD values = ValueCount(key.key);
    EXPECT_TRUE(values == next || values == next + 1) << values;

    // Still a sound store that takes writes.
    const BYTE byte = 7;
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key.key, "after", 0, REG_BINARY, &byte, 1));
    QueryBytes(key.key, "after", code, type);
    EXPECT_EQ(ERROR_SUCCESS, code);

    // Every write reported done. (After the write above: a child killed
    // inside a commit leaves the store uncached until the next commit.)
    for (long i = 0; i <= reported; ++i) {
      const std::string got = QueryBytes(key.key, StreamName(static_cast<unsigned>(i)), code, type);
      ASSERT_EQ(ERROR_SUCCESS, code) << "reported write " << i << " is lost";
      ASSERT_EQ(static_cast<DWORD>(REG_BINARY), type) << i;
      ASSERT_EQ(StreamData(static_cast<unsigned>(i)), got) << i;
    }
    EXPECT_EQ("ok", IntegrityCheck(store));
  }
}

// --- Two writers at once -----------------------------------------------------

TEST(Store, TwoProcessesWritingTheSameKeysLoseNothing) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string store = folder / "registry.db";
  const std::string pathA = "Software\\regkey-tests\\both\\A";
  const std::string pathB = "Software\\regkey-tests\\both\\B";
  constexpr unsigned kCount = 500;
  constexpr unsigned kSubkeys = kCount / 10;
  const std::vector<std::string> tags{"one", "two"};
  {
    // An existing store: opening a new one at once is the next test's matter.
    Machine machine(store);
    ASSERT_EQ(ERROR_SUCCESS, machine.declared());
  }

  std::vector<std::unique_ptr<Child>> children;
  for (const std::string& tag : tags)
    children.push_back(std::make_unique<Child>(
        store,
        std::vector<std::string>{"fill", pathA, pathB, tag, std::to_string(kCount), "one", "two"}));
  for (auto& child : children) ASSERT_TRUE(child->started());
  for (auto& child : children) ASSERT_TRUE(child->WriteLine());

  std::vector<int> createdBy(kSubkeys, 0);
  for (auto& child : children) {
    std::string line;
    for (;;) {
      ASSERT_TRUE(child->ReadLine(line)) << "the child stopped before it was done";
      if (line == "done") break;
      ASSERT_TRUE(line.starts_with("created ")) << line;
      const unsigned sub = std::stoul(line.substr(8));
      ASSERT_LT(sub, kSubkeys);
      ++createdBy[sub];
    }
  }
  for (unsigned sub = 0; sub < kSubkeys; ++sub)
    EXPECT_EQ(1, createdBy[sub]) << "sub" << sub << ": processes that created it new";

  // Each process now sees the other's writes, through the handles it kept.
  for (auto& child : children) ASSERT_TRUE(child->WriteLine());
  const std::string everyValue = std::to_string(kCount + 1);  // both halves and "shared"
  for (auto& child : children) {
    std::string line;
    ASSERT_TRUE(child->ReadLine(line));
    EXPECT_EQ("values " + everyValue + " " + everyValue, line);
    ASSERT_TRUE(child->ReadLine(line));
    EXPECT_EQ("subkeys " + std::to_string(kSubkeys), line);
    ASSERT_TRUE(child->ReadLine(line));
    EXPECT_EQ("missing 0", line);
    EXPECT_TRUE(child->Succeeded());
  }

  Machine machine(store);
  ASSERT_EQ(ERROR_SUCCESS, machine.declared());
  KeyCloser keys[2];
  ASSERT_EQ(ERROR_SUCCESS, machine.Open(pathA, keys[0].key));
  ASSERT_EQ(ERROR_SUCCESS, machine.Open(pathB, keys[1].key));
  for (const std::string& tag : tags) {
    for (unsigned i = 0; i < kCount; ++i) {
      LONG code = 0;
      DWORD type = 0;
      const std::string data = QueryBytes(keys[i % 2].key, FillValueName(tag, i), code, type);
      ASSERT_EQ(ERROR_SUCCESS, code) << FillValueName(tag, i) << " is lost";
      EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
      EXPECT_EQ(FillValueData(tag, i), data);
    }
  }
  for (int k = 0; k < 2; ++k) {
    LONG code = 0;
    DWORD type = 0;
    const std::string shared = QueryBytes(keys[k].key, "shared", code, type);
    const unsigned last = kCount - 2 + static_cast<unsigned>(k);  // the last i under this key
    EXPECT_TRUE(shared == FillValueData("one", last) || shared == FillValueData("two", last))
        << shared;
  }

  DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryInfoKeyA(keys[0].key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr,
                             &values, &maxName, &maxData, nullptr, nullptr));
  EXPECT_EQ(kSubkeys, subkeys);
  EXPECT_EQ(std::string("sub49").size(), maxSubkey);
  EXPECT_EQ(kCount + 1, values);
  EXPECT_EQ(FillValueName("one", 498).size(), maxName);
  EXPECT_EQ(FillValueData("one", 498).size(), maxData);
  EXPECT_EQ(kCount + 1, ValueCount(keys[1].key, &subkeys));
  EXPECT_EQ(0u, subkeys);

  std::set<std::string> names;
  char name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    const LONG code =
        RegEnumKeyExA(keys[0].key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(ERROR_SUCCESS, code);
    EXPECT_TRUE(names.insert(name).second) << name << " listed twice";
  }
  EXPECT_EQ(kSubkeys, names.size());
  EXPECT_EQ("ok", IntegrityCheck(store));
}

// The first call of each process opens the store: several at once on a new
// file must all get it (the busy time-out covers any wait for a lock).
TEST(Store, ProcessesOpeningANewStoreAtOnceAllSucceed) {
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ScratchFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string store = folder / "registry.db";
    std::vector<std::unique_ptr<Child>> children;
    for (int k = 0; k < 3; ++k)
      children.push_back(std::make_unique<Child>(
          store, std::vector<std::string>{
                     "create", "Software\\regkey-tests\\open-" + std::to_string(k), "gated"}));
    for (auto& child : children) ASSERT_TRUE(child->started());
    for (auto& child : children) child->WriteLine();
    for (auto& child : children) EXPECT_TRUE(child->Succeeded());
  }
}

// --- Notification across processes -------------------------------------------

class CrossProcessNotify : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    ASSERT_EQ(ERROR_SUCCESS, machine_.declared());
    ASSERT_EQ(ERROR_SUCCESS, machine_.Create(kWatched + std::string("\\deep"), deep_.key));
    ASSERT_EQ(ERROR_SUCCESS, machine_.Create(kOther, other_.key));
    ASSERT_EQ(ERROR_SUCCESS, machine_.Open(kWatched, watched_.key));
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event_);
  }
  void TearDown() override {
    if (event_ != nullptr) CloseHandle(event_);
  }

  // Runs the helper on the same store and waits for it to finish.
  ::testing::AssertionResult InChild(const std::vector<std::string>& args) {
    Child child(store_, args);
    if (!child.started()) return ::testing::AssertionFailure() << "no child";
    return child.Succeeded();
  }

  static constexpr const char* kWatched = "Software\\regkey-tests\\watched";
  static constexpr const char* kOther = "Software\\regkey-tests\\other";
  ScratchFolder folder_;
  const std::string store_ = folder_ / "registry.db";
  Machine machine_{store_};
  KeyCloser watched_;
  KeyCloser deep_;
  KeyCloser other_;
  HANDLE event_ = nullptr;
};

TEST_F(CrossProcessNotify, ValueSetElsewhereWakesTheRequest) {
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(watched_.key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event_, TRUE));
  ASSERT_TRUE(InChild({"set", kWatched, "v"}));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event_, 2000));
}

TEST_F(CrossProcessNotify, SubkeyCreatedElsewhereWakesASubtreeRequest) {
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(watched_.key, TRUE, REG_NOTIFY_CHANGE_NAME, event_, TRUE));
  ASSERT_TRUE(InChild({"create", kWatched + std::string("\\deep\\new")}));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event_, 2000));
}

TEST_F(CrossProcessNotify, ChangesElsewhereThatDoNotMatchLeaveItArmed) {
  ASSERT_EQ(ERROR_SUCCESS, RegNotifyChangeKeyValue(
                               watched_.key, FALSE,
                               REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME, event_, TRUE));
  ASSERT_TRUE(InChild({"set", kOther, "v"}));
  ASSERT_TRUE(InChild({"create", kOther + std::string("\\sub")}));
  // Below the watched key, but the request is not for its subtree.
  ASSERT_TRUE(InChild({"set", kWatched + std::string("\\deep"), "v"}));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event_, 300));
  // Still armed: a matching change wakes it.
  ASSERT_TRUE(InChild({"set", kWatched, "v"}));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event_, 2000));
}

// --- Bad store files -----------------------------------------------------------

// A store with a few hundred values, all in its main file.
void MakeStore(const std::string& store) {
  {
    Machine machine(store);
    ASSERT_EQ(ERROR_SUCCESS, machine.declared());
    KeyCloser key;
    ASSERT_EQ(ERROR_SUCCESS, machine.Create("Software\\regkey-tests\\filled", key.key));
    for (unsigned i = 0; i < 300; ++i) {
      const std::string data = StreamData(i);
      ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.key, StreamName(i).c_str(), 0, REG_BINARY,
                                              reinterpret_cast<const BYTE*>(data.data()),
                                              static_cast<DWORD>(data.size())));
    }
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr));
  EXPECT_EQ(SQLITE_OK,
            sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr));
  sqlite3_close(db);
  std::error_code ignored;
  for (const char* suffix : {"-wal", "-shm", "-counter"}) fs::remove(store + suffix, ignored);
}

std::string RandomBytes(std::size_t size) {
  std::mt19937 generator(2);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

TEST(BadStore, NotADatabaseGivesACodeFromEveryCallAndStaysAsItWas) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string text = "[HKEY_CURRENT_USER\\Software]\n\"not\"=\"a database\"\n";
  std::string header = "SQLite format 3";
  header += std::string(1, '\0') + RandomBytes(4096 - header.size() - 1);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"text", text},
      {"random", RandomBytes(64 * 1024)},
      {"header-then-noise", header},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string store = folder / c.name;
    WriteFile(store, c.bytes);
    ProbeResult result;
    ASSERT_TRUE(Probe(store, result));
    EXPECT_EQ(Codes(ERROR_NOT_REGISTRY_FILE), result.first);
    EXPECT_EQ(Codes(ERROR_NOT_REGISTRY_FILE), result.again);
    EXPECT_EQ(ERROR_NOT_REGISTRY_FILE, Machine(store).declared());
    EXPECT_EQ(c.bytes, ReadFile(store));
  }
}

TEST(BadStore, TruncatedStoreGivesACodeAndStaysAsItWas) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string whole = folder / "whole.db";
  MakeStore(whole);
  const std::string bytes = ReadFile(whole);
  ASSERT_GT(bytes.size(), 8u * 4096);

  // Cut inside the header.
  {
    const std::string store = folder / "header.db";
    const std::string cut = bytes.substr(0, 60);
    WriteFile(store, cut);
    ProbeResult result;
    ASSERT_TRUE(Probe(store, result));
    EXPECT_TRUE(result.first == Codes(ERROR_REGISTRY_CORRUPT) ||
                result.first == Codes(ERROR_NOT_REGISTRY_FILE))
        << result.first;
    EXPECT_EQ(result.first, result.again);
    EXPECT_EQ(cut, ReadFile(store));
  }
  // Cut after a few pages: the values that lived further on are reported
  // corrupt, never served wrong or left out silently.
  {
    const std::string store = folder / "half.db";
    const std::string cut = bytes.substr(0, bytes.size() / 2);
    WriteFile(store, cut);
    {
      Machine machine(store);
      KeyCloser key;
      LONG code = machine.declared();
      if (code == ERROR_SUCCESS) code = machine.Open("Software\\regkey-tests\\filled", key.key);
      for (unsigned i = 0; code == ERROR_SUCCESS && i < 300; ++i) {
        DWORD type = 0;
        const std::string data = QueryBytes(key.key, StreamName(i), code, type);
        if (code == ERROR_SUCCESS) {
          EXPECT_EQ(StreamData(i), data) << i;
        }
      }
      DWORD values = 0;
      if (code == ERROR_SUCCESS)
        code = RegQueryInfoKeyA(key.key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                &values, nullptr, nullptr, nullptr, nullptr);
      EXPECT_EQ(ERROR_REGISTRY_CORRUPT, code);
    }
    EXPECT_EQ(cut, ReadFile(store));
  }
}

TEST(BadStore, FolderInPlaceOfTheStoreGivesACodeUntilItIsGone) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string store = folder / "registry.db";
  ASSERT_TRUE(fs::create_directory(store));
  ProbeResult result;
  // Calls fail while the folder is there and succeed once it is gone: a
  // store that could not be opened is tried again.
  ASSERT_TRUE(Probe(store, result, {}, [&] { fs::remove(store); }));
  EXPECT_EQ(Codes(ERROR_CANTOPEN), result.first);
  EXPECT_EQ(
      std::to_string(ERROR_FILE_NOT_FOUND) + " " + std::to_string(ERROR_FILE_NOT_FOUND) + " 0",
      result.again);
}

// Which code fits is open to taste; what matters is that every call gives
// one and the file stays as it was.
bool IsPermissionCode(const std::string& codes) {
  return codes == Codes(ERROR_ACCESS_DENIED) || codes == Codes(ERROR_CANTOPEN) ||
         codes == Codes(ERROR_CANTWRITE);
}

TEST(BadStore, StoreThisUserMayNotReadOrWriteGivesACode) {
  if (!CanRunAsAnotherUser()) GTEST_SKIP() << "running as root and the helper cannot run as nobody";
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  fs::permissions(folder.path(), fs::perms::owner_all | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
  const std::string store = folder / "registry.db";
  MakeStore(store);
  const std::string bytes = ReadFile(store);
  for (const mode_t mode : {0000, 0444}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    ASSERT_EQ(0, ::chmod(store.c_str(), mode));
    ProbeResult result;
    ASSERT_TRUE(Probe(store, result, Child::Options::Nobody()));
    EXPECT_TRUE(IsPermissionCode(result.first)) << result.first;
    EXPECT_EQ(result.first, result.again);
    ASSERT_EQ(0, ::chmod(store.c_str(), 0600));
    EXPECT_EQ(bytes, ReadFile(store));
  }
}

}  // namespace

// The PostgreSQL store on the run's server, through the Win32 functions:
// several "hosts" (connections) on one database.
#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

#include <gtest/gtest.h>

#include "registry/store/postgres/pg_link.h"
#include "registry/transaction.h"
#include "tests/registry/pg_hosts.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scratch_key.h"

namespace {

using namespace regkey::test;
using regkey::registry::pg::RoundTripsSoFar;

TEST(PgStore, HostileNamesAndDataAreStoredExactlyAndReadOnAnotherHost) {
  const std::string uri = TestPgUri();
  HKEY a = nullptr, b = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ConnectHost(uri, "pg-hostile-a", a));
  ASSERT_EQ(ERROR_SUCCESS, ConnectHost(uri, "pg-hostile-b", b));
  const std::vector<std::string> names = {
      "it's",        "\"quoted\"",   "100%_x",
      "%s%n%d",      "semi;colon",   "'; DROP TABLE regkey_keys; --",
      "caf\xC3\xA9", "\xFF\xFE raw", "tab\tand space"};
  RemoveTree(a, "Software\\pgstore\\hostile");
  HKEY top = CreateKey(a, "Software\\pgstore\\hostile");
  for (const std::string& name : names) {
    HKEY key = CreateKey(top, name);
    // Value names may hold backslashes; data may hold anything.
    const std::string data = name + std::string("\0\x01\xFF'\\", 5);
    EXPECT_EQ(ERROR_SUCCESS, SetString(key, name + "\\value", data));
    RegCloseKey(key);
  }
  RegCloseKey(top);

  HKEY seen = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(b, "SOFTWARE\\PGSTORE\\HOSTILE", 0, KEY_READ, &seen));
  std::vector<std::string> listed = SubKeyNames(seen);
  std::sort(listed.begin(), listed.end());
  std::vector<std::string> expected = names;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, listed);
  for (const std::string& name : names) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(seen, name.c_str(), 0, KEY_READ, &key)) << name;
    LONG error = 0;
    EXPECT_EQ(name + std::string("\0\x01\xFF'\\", 5), QueryString(key, name + "\\value", &error));
    EXPECT_EQ(ERROR_SUCCESS, error) << name;
    RegCloseKey(key);
  }
  // Names compare without regard to ASCII case.
  HKEY upper = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(seen, "IT'S", 0, KEY_READ, &upper));
  RegCloseKey(upper);
  RegCloseKey(seen);
  std::string rows;
  ASSERT_TRUE(Psql(uri, "SELECT count(*) > 5 FROM regkey_keys", &rows)) << rows;
  EXPECT_EQ("t", rows);
  RegCloseKey(a);
  RegCloseKey(b);
}

TEST(PgStore, ASubkeyCreatedByManyHostsAtOnceIsCreatedOnce) {
  const std::string uri = TestPgUri();
  constexpr int kHosts = 4;
  constexpr int kRounds = 25;
  HKEY roots[kHosts] = {};
  for (int i = 0; i < kHosts; ++i)
    ASSERT_EQ(ERROR_SUCCESS, ConnectHost(uri, "pg-race-" + std::to_string(i), roots[i]));
  RemoveTree(roots[0], "Software\\pgstore\\race");
  std::atomic<int> created[kRounds] = {};
  std::atomic<int> failed{0};
  std::barrier start(kHosts);
  std::vector<std::thread> hosts;
  for (int i = 0; i < kHosts; ++i) {
    hosts.emplace_back([&, i] {
      for (int round = 0; round < kRounds; ++round) {
        start.arrive_and_wait();
        HKEY key = nullptr;
        DWORD disposition = 0;
        const std::string path = "Software\\pgstore\\race\\r" + std::to_string(round) + "\\leaf";
        if (RegCreateKeyExA(roots[i], path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition) != ERROR_SUCCESS) {
          ++failed;
          continue;
        }
        if (disposition == REG_CREATED_NEW_KEY)
          ++created[round];
        else if (disposition != REG_OPENED_EXISTING_KEY)
          ++failed;
        RegCloseKey(key);
      }
    });
  }
  for (std::thread& host : hosts) host.join();
  EXPECT_EQ(0, failed.load());
  for (int round = 0; round < kRounds; ++round) EXPECT_EQ(1, created[round].load()) << round;
  HKEY parent = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(roots[0], "Software\\pgstore\\race\\r0", 0, KEY_READ, &parent));
  EXPECT_EQ(std::vector<std::string>{"leaf"}, SubKeyNames(parent));
  RegCloseKey(parent);
  for (HKEY root : roots) RegCloseKey(root);
}

TEST(PgStore, WritersOnManyHostsLoseNothing) {
  const std::string uri = TestPgUri();
  constexpr int kHosts = 4;
  constexpr int kWrites = 250;
  constexpr int kKeys = 3;
  std::atomic<int> failed{0};
  HKEY reader = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ConnectHost(uri, "pg-writer-reader", reader));
  RemoveTree(reader, "Software\\pgstore\\writers");
  std::vector<std::thread> hosts;
  for (int i = 0; i < kHosts; ++i) {
    hosts.emplace_back([&, i] {
      HKEY root = nullptr;
      if (ConnectHost(uri, "pg-writer-" + std::to_string(i), root) != ERROR_SUCCESS) {
        ++failed;
        return;
      }
      for (int j = 0; j < kWrites; ++j) {
        HKEY key = nullptr;
        const std::string path = "Software\\pgstore\\writers\\k" + std::to_string(j % kKeys);
        if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS ||
            SetString(key, "h" + std::to_string(i) + "-" + std::to_string(j), "x") != ERROR_SUCCESS)
          ++failed;
        RegCloseKey(key);
      }
      RegCloseKey(root);
    });
  }
  for (std::thread& host : hosts) host.join();
  EXPECT_EQ(0, failed.load());
  int total = 0;
  for (int k = 0; k < kKeys; ++k) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(reader, ("Software\\pgstore\\writers\\k" + std::to_string(k)).c_str(),
                            0, KEY_READ, &key));
    DWORD values = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr));
    total += static_cast<int>(values);
    RegCloseKey(key);
  }
  EXPECT_EQ(kHosts * kWrites, total);
  RegCloseKey(reader);
}

TEST(PgStore, AChangeOnOneHostWakesAMatchingWaitOnAnother) {
  const std::string uri = TestPgUri();
  HKEY a = nullptr, b = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ConnectHost(uri, "pg-notify-a", a));
  ASSERT_EQ(ERROR_SUCCESS, ConnectHost(uri, "pg-notify-b", b));
  RemoveTree(a, "Software\\pgstore\\notify");
  HKEY watched = CreateKey(a, "Software\\pgstore\\notify\\watched");
  HKEY sibling = CreateKey(b, "Software\\pgstore\\notify\\sibling");
  HKEY theirs = CreateKey(b, "Software\\pgstore\\notify\\watched");
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);

  // Values only, this key only: a sibling's value and a new subkey do not count.
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(watched, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE));
  EXPECT_EQ(ERROR_SUCCESS, SetString(sibling, "v", "1"));
  RegCloseKey(CreateKey(theirs, "child"));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 300));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ERROR_SUCCESS, SetString(theirs, "v", "2"));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 2000));
  EXPECT_LT(MillisecondsSince(start), 200) << "a wake across hosts took too long";
  ResetEvent(event);

  // A whole subtree: a value set two levels down wakes it.
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(
                watched, TRUE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME, event, TRUE));
  HKEY deep = CreateKey(theirs, "child\\grandchild");
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 2000));
  ResetEvent(event);

  // A path far longer than one announcement holds still wakes a request on it.
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(watched, TRUE, REG_NOTIFY_CHANGE_NAME, event, TRUE));
  std::string longPath = "child\\grandchild";
  for (int level = 0; level < 14; ++level) longPath += "\\" + std::string(250, '\xE9');
  RegCloseKey(CreateKey(theirs, longPath));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 2000));

  CloseHandle(event);
  for (HKEY key : {deep, theirs, sibling, watched, a, b}) RegCloseKey(key);
}

TEST(PgStore, ARoleWithoutWriteRightsReadsAndIsRefusedEveryWrite) {
  const std::string uri = TestPgUri();
  HKEY owner = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ConnectHost(uri, "pg-owner", owner));
  HKEY key = CreateKey(owner, "Software\\pgstore\\readonly\\sub");
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, "v", "kept"));
  RegCloseKey(key);
  std::string output;
  ASSERT_TRUE(Psql(uri,
                   "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = "
                   "'pgstore_reader') THEN CREATE ROLE pgstore_reader LOGIN; END IF; END $$; "
                   "GRANT SELECT ON ALL TABLES IN SCHEMA public TO pgstore_reader",
                   &output))
      << output;
  std::string readerUri = uri;
  const std::size_t user = readerUri.find("user=regkey");
  ASSERT_NE(std::string::npos, user);
  readerUri.replace(user, 11, "user=pgstore_reader");

  HKEY reader = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ConnectHost(readerUri, "pg-reader", reader));
  HKEY readonly = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(reader, "Software\\pgstore\\readonly", 0, KEY_ALL_ACCESS, &readonly));
  HKEY sub = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(readonly, "sub", 0, KEY_ALL_ACCESS, &sub));
  EXPECT_EQ("kept", QueryString(sub, "v"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetString(sub, "v", "changed"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetString(sub, "new", "x"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(sub, "v"));
  HKEY created = nullptr;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(readonly, "new", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &created, nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(readonly, "sub"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteTreeA(readonly, "sub"));
  EXPECT_EQ("kept", QueryString(sub, "v"));
  // Its requests still wake on others' changes.
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ExpectSetElsewhereWakesAndIsRead(sub, false, event, owner, "Software\\pgstore\\readonly\\sub",
                                   sub, "v", "new");
  CloseHandle(event);
  for (HKEY handle : {sub, readonly, reader, owner}) RegCloseKey(handle);
}

// Round trips per call, once a connection has prepared its statements: a
// query on an open key is one (the change counter, unless its own reads
// tell it); a set is its one statement, which also tells whether anyone
// else committed; a listing reads the subkeys once, whatever their number;
// deleting a key as the key class does (open, count, close, delete) three.
TEST(PgStore, QueriesSetsListingsAndDeletionsTakeFewRoundTrips) {
  const std::string uri = TestPgUri();
  HKEY root = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ConnectHost(uri, "pg-trips", root));
  RemoveTree(root, "Software\\pgstore\\trips");
  HKEY key = CreateKey(root, "Software\\pgstore\\trips");
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, "v", "0"));
  constexpr int kChildren = 300;
  for (int i = 0; i < kChildren; ++i) RegCloseKey(CreateKey(key, "c" + std::to_string(i)));
  for (int i = 0; i < 2; ++i) QueryString(key, "v");
  SubKeyNames(key);

  std::uint64_t before = RoundTripsSoFar();
  EXPECT_EQ("0", QueryString(key, "v"));
  const std::uint64_t query = RoundTripsSoFar() - before;
  EXPECT_LE(query, 1u) << "a query";

  before = RoundTripsSoFar();
  for (int i = 1; i <= 10; ++i) ASSERT_EQ(ERROR_SUCCESS, SetString(key, "v", std::to_string(i)));
  const std::uint64_t sets = RoundTripsSoFar() - before;
  EXPECT_LE(sets, 10u) << "ten sets";

  before = RoundTripsSoFar();
  EXPECT_EQ(static_cast<std::size_t>(kChildren), SubKeyNames(key).size());
  const std::uint64_t listing = RoundTripsSoFar() - before;
  EXPECT_LE(listing, 2u) << "a listing";

  // The first one prepares its statements.
  for (int i = 0; i <= 10; ++i) {
    if (i == 1) before = RoundTripsSoFar();
    const std::string path = "Software\\pgstore\\trips\\c" + std::to_string(i);
    HKEY child = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &child));
    DWORD subKeys = 1;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(child, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, subKeys);
    RegCloseKey(child);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, path.c_str()));
  }
  const std::uint64_t deletions = RoundTripsSoFar() - before;
  EXPECT_LE(deletions, 30u) << "ten deletions";
  std::printf("round trips: query %llu, set %.1f, listing of %d subkeys %llu, deletion %.1f\n",
              static_cast<unsigned long long>(query), static_cast<double>(sets) / 10, kChildren,
              static_cast<unsigned long long>(listing), static_cast<double>(deletions) / 10);

  // Another host's write is seen at once all the same.
  HKEY other = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ConnectHost(uri, "pg-trips-other", other));
  HKEY theirs = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(other, "Software\\pgstore\\trips", 0, KEY_ALL_ACCESS, &theirs));
  ASSERT_EQ(ERROR_SUCCESS, SetString(theirs, "v", "theirs"));
  EXPECT_EQ("theirs", QueryString(key, "v"));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(theirs, "c11"));
  EXPECT_EQ(static_cast<std::size_t>(kChildren - 12), SubKeyNames(key).size());
  for (HKEY handle : {theirs, other, key, root}) RegCloseKey(handle);
}

// What one host has cached never decides a call once another host has
// changed the key: sets, opens and deletions act on what the server holds.
TEST(PgStore, WhatAnotherHostChangedIsNeverServedFromTheCache) {
  TwoHosts hosts(TestPgUri(), "pg-stale", "Software\\pgstore\\stale");
  HKEY mine = hosts.mine, theirs = hosts.theirs;
  ASSERT_NE(nullptr, theirs);

  // A set of what this host last read, after the other host changed it.
  ASSERT_EQ(ERROR_SUCCESS, SetString(mine, "v", "old"));
  EXPECT_EQ("old", QueryString(mine, "v"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(theirs, "v", "new"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(mine, "v", "old"));
  EXPECT_EQ("old", QueryString(theirs, "v"));
  EXPECT_EQ("old", QueryString(mine, "v"));

  // A key deleted and made again there: opened and deleted here by its name.
  HKEY child = CreateKey(mine, "child");
  ASSERT_EQ(ERROR_SUCCESS, SetString(child, "who", "first"));
  RegCloseKey(child);
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(theirs, "child"));
  RegCloseKey(CreateKey(theirs, "CHILD"));
  HKEY again = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(mine, "child", 0, KEY_ALL_ACCESS, &again));
  LONG error = 0;
  QueryString(again, "who", &error);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, error);
  RegCloseKey(again);
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(mine, "child"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(theirs, "child", 0, KEY_READ, &again));

  // A key found missing here, then made there.
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(mine, "late", 0, KEY_READ, &again));
  RegCloseKey(CreateKey(theirs, "late"));
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(mine, "late", 0, KEY_READ, &again));
  RegCloseKey(again);
}

// Setting a value to what it holds changes nothing, whatever this host had
// cached: no new time, no wake on another host.
TEST(PgStore, RewritingAValueChangesNothingAnywhere) {
  TwoHosts hosts(TestPgUri(), "pg-same", "Software\\pgstore\\same");
  HKEY mine = hosts.mine, theirs = hosts.theirs;
  ASSERT_NE(nullptr, theirs);
  ASSERT_EQ(ERROR_SUCCESS, SetString(mine, "v", "one"));
  // This host's cache holds "one"; the other host makes it "two".
  ASSERT_EQ(ERROR_SUCCESS, SetString(theirs, "v", "two"));
  FILETIME written{};
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(theirs, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr, &written));
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(theirs, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ERROR_SUCCESS, SetString(mine, "v", "two"));
  EXPECT_EQ(ERROR_SUCCESS, SetString(theirs, "v", "two"));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 300));
  FILETIME after{};
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(mine, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr, &after));
  EXPECT_EQ(written.dwLowDateTime, after.dwLowDateTime);
  EXPECT_EQ(written.dwHighDateTime, after.dwHighDateTime);
  EXPECT_EQ("two", QueryString(mine, "v"));
  // Another type is a change.
  const char text[] = "two";
  EXPECT_EQ(ERROR_SUCCESS,
            RegSetValueExA(mine, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 3));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 2000));
  CloseHandle(event);
}

// While one host lists a key index by index, another deletes and adds
// subkeys: every name that stayed is listed exactly once, and the next
// listing shows the other host's changes.
TEST(PgStore, AListingMissesAndRepeatsNoNameAnotherHostLeftAlone) {
  TwoHosts hosts(TestPgUri(), "pg-list", "Software\\pgstore\\listing");
  HKEY mine = hosts.mine, theirs = hosts.theirs;
  ASSERT_NE(nullptr, theirs);
  std::set<std::string> kept;
  for (int i = 0; i < 60; ++i) {
    const std::string name = "k" + std::to_string(100 + i);
    RegCloseKey(CreateKey(mine, name));
    if (i % 3 != 0) kept.insert(name);
  }
  std::multiset<std::string> listed;
  char name[256];
  for (DWORD index = 0;; ++index) {
    if (index == 20) {
      // Below and above where the listing is.
      for (int i = 0; i < 60; i += 3)
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(theirs, ("k" + std::to_string(100 + i)).c_str()));
      RegCloseKey(CreateKey(theirs, "a-new"));
      RegCloseKey(CreateKey(theirs, "z-new"));
    }
    DWORD length = sizeof name;
    const LONG error =
        RegEnumKeyExA(mine, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(ERROR_SUCCESS, error);
    listed.emplace(name, length);
  }
  for (const std::string& stayed : kept) EXPECT_EQ(1u, listed.count(stayed)) << stayed;
  const std::vector<std::string> now = SubKeyNames(mine);
  EXPECT_EQ(kept.size() + 2, now.size());
  EXPECT_EQ("a-new", now.front());
  EXPECT_EQ("z-new", now.back());
}

// Many changes in one commit (qreg import's), on a machine whose store is
// the server's: all of them or none, and others see them at the commit.
TEST(PgStore, ChangesRunInOneTransactionCommitWholeOrNotAtAll) {
  const std::string uri = TestPgUri();
  // This machine's roots, from here on (no test here used them before).
  ::setenv("REGKEY_STORE", WithParameter(uri, "application_name=pg-local").c_str(), 1);
  HKEY other = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ConnectHost(uri, "pg-batch-other", other));
  RemoveTree(other, "Software\\pgstore\\batch");
  HKEY watched = CreateKey(other, "Software\\pgstore\\batch");
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(watched, TRUE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE));
  const auto write = [](const std::string& name) -> long {
    HKEY key = nullptr;
    long error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, ("Software\\pgstore\\batch\\" + name).c_str(),
                                 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    for (int i = 0; !error && i < 20; ++i) error = SetString(key, "v" + std::to_string(i), name);
    RegCloseKey(key);
    return error;
  };
  EXPECT_EQ(ERROR_CANCELLED, regkey::registry::RunInOneTransaction({HKEY_LOCAL_MACHINE}, [&] {
              const long error = write("dropped");
              return error ? error : ERROR_CANCELLED;
            }));
  HKEY gone = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(watched, "dropped", 0, KEY_READ, &gone));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 200));
  EXPECT_EQ(ERROR_SUCCESS, regkey::registry::RunInOneTransaction({HKEY_LOCAL_MACHINE},
                                                                 [&] { return write("kept"); }));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 2000));
  HKEY kept = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(watched, "kept", 0, KEY_READ, &kept));
  EXPECT_EQ("kept", QueryString(kept, "v19"));
  CloseHandle(event);
  for (HKEY handle : {kept, watched, other}) RegCloseKey(handle);
}

}  // namespace

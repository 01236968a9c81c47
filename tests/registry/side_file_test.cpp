// The store's side file (`<store>-counter`) under file tricks, damage and a
// full file system: no process writes through a file put in its place, dies
// of it, or misses another process's change because of it.
#include "registry/side_file.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <windows.h>

#include <gtest/gtest.h>

#include "registry/machines.h"
#include "registry/transaction.h"
#include "tests/registry/store_harness.h"

namespace {

using namespace regkey::test;
using regkey::registry::SideFile;

std::string SideOf(const std::string& store) { return store + "-counter"; }

// Writes `bytes` at `offset` into an existing file.
void Overwrite(const std::string& path, off_t offset, const void* bytes, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(static_cast<ssize_t>(size), ::pwrite(fd, bytes, size, offset));
  ::close(fd);
}

// The change log's two numbers (last appended, last committed), which start
// its area at 4096.
void WriteLogNumbers(const std::string& side, std::int64_t appended, std::int64_t committed) {
  const std::int64_t numbers[2] = {appended, committed};
  Overwrite(side, 4096, numbers, sizeof numbers);
}

// When the header says the file was made (steady clock, ns), at 56.
void WriteCreatedAt(const std::string& side, std::int64_t when) {
  Overwrite(side, 56, &when, sizeof when);
}

// A store that exists, with its side file, and no process using it.
void MakeStore(const std::string& store) {
  Machine machine(store);
  ASSERT_EQ(ERROR_SUCCESS, machine.declared());
  KeyCloser key;
  ASSERT_EQ(ERROR_SUCCESS, machine.Create("Software\\regkey-tests", key.key));
}

// --- What may stand in the side file's place -----------------------------------

TEST(SideFile, AnythingButAFileOfThisUserIsRefusedAndLeftAsItWas) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string victim = folder / "victim";
  WriteFile(victim, "the user's own file");
  const struct {
    const char* what;
    std::function<void(const std::string& side)> place;
  } cases[] = {
      {"a link to another file",
       [&](const std::string& side) { ::symlink(victim.c_str(), side.c_str()); }},
      {"a link to nothing",
       [&](const std::string& side) { ::symlink((folder / "not-there").c_str(), side.c_str()); }},
      {"a second name of another file",
       [&](const std::string& side) { ::link(victim.c_str(), side.c_str()); }},
      {"a file others may write",
       [&](const std::string& side) {
         WriteFile(side, "");
         ::chmod(side.c_str(), 0666);
       }},
      {"a named pipe", [&](const std::string& side) { ::mkfifo(side.c_str(), 0600); }},
      {"a folder", [&](const std::string& side) { ::mkdir(side.c_str(), 0700); }},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string store = folder / ("store" + std::to_string(++n) + ".db");
    c.place(SideOf(store));
    ProbeResult result;
    ASSERT_TRUE(Probe(store, result));
    EXPECT_EQ(Codes(ERROR_ACCESS_DENIED), result.first);
    EXPECT_EQ(Codes(ERROR_ACCESS_DENIED), result.again);
    EXPECT_EQ(ERROR_ACCESS_DENIED, Machine(store).declared());
    EXPECT_EQ("the user's own file", ReadFile(victim));
    EXPECT_FALSE(fs::exists(folder / "not-there"));
  }
}

TEST(SideFile, AnotherUsersFileIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string store = folder / "registry.db";
  MakeStore(store);
  const std::string bytes = ReadFile(SideOf(store));
  ASSERT_EQ(0, ::chown(SideOf(store).c_str(), 65534, 65534));
  ProbeResult result;
  ASSERT_TRUE(Probe(store, result));
  EXPECT_EQ(Codes(ERROR_ACCESS_DENIED), result.first);
  EXPECT_EQ(bytes, ReadFile(SideOf(store)));
}

// --- Damage at rest and while in use -------------------------------------------

TEST(SideFile, DamagedOrStaleFileIsRebuiltAndProcessesStillTellEachOther) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string other = folder / "other.db";
  MakeStore(other);
  const std::string noise(SideFile::MapSize(), '\x5a');
  const struct {
    const char* what;
    std::function<void(const std::string& side)> damage;
  } cases[] = {
      {"noise", [&](const std::string& side) { WriteFile(side, noise); }},
      {"log numbers no log has", [](const std::string& side) { WriteLogNumbers(side, 5, 1000); }},
      {"log numbers about to overflow",
       [](const std::string& side) { WriteLogNumbers(side, INT64_MAX, INT64_MAX); }},
      {"cut short", [](const std::string& side) { ::truncate(side.c_str(), 100); }},
      {"empty", [](const std::string& side) { ::truncate(side.c_str(), 0); }},
      {"another store's",
       [&](const std::string& side) { WriteFile(side, ReadFile(SideOf(other))); }},
      {"made at the end of time", [](const std::string& side) { WriteCreatedAt(side, INT64_MAX); }},
      {"made before time began", [](const std::string& side) { WriteCreatedAt(side, INT64_MIN); }},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string store = folder / ("store" + std::to_string(++n) + ".db");
    MakeStore(store);
    c.damage(SideOf(store));
    EXPECT_TRUE(WatcherSeesChange(store, store, [] {}));
    EXPECT_EQ(static_cast<std::uintmax_t>(SideFile::MapSize()), fs::file_size(SideOf(store)));
  }
}

TEST(SideFile, DamageWhileInUseMissesNoChange) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const struct {
    const char* what;
    std::function<void(const std::string& side)> damage;
  } cases[] = {
      {"log numbers about to overflow",
       [](const std::string& side) { WriteLogNumbers(side, INT64_MAX - 1, INT64_MAX - 1); }},
      {"log numbers gone back", [](const std::string& side) { WriteLogNumbers(side, 0, 0); }},
      {"header overwritten",
       [](const std::string& side) {
         const std::string noise(4096, '\x33');
         Overwrite(side, 0, noise.data(), noise.size());
       }},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string store = folder / ("store" + std::to_string(++n) + ".db");
    MakeStore(store);
    EXPECT_TRUE(WatcherSeesChange(store, store, [&] { c.damage(SideOf(store)); }));
  }
}

// Touching a page of a mapped file past its end is a fault (SIGBUS).
TEST(SideFile, CutShortWhileInUseKillsNoOneAndMissesNoChange) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  for (const off_t size : {off_t{0}, off_t{100}, off_t{8192}}) {
    SCOPED_TRACE("cut to " + std::to_string(size));
    const std::string store = folder / ("store" + std::to_string(size) + ".db");
    MakeStore(store);
    EXPECT_TRUE(WatcherSeesChange(store, store,
                                  [&] { ASSERT_EQ(0, ::truncate(SideOf(store).c_str(), size)); }));
  }
}

TEST(SideFile, DeletedWhileInUseMissesNoChange) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string store = folder / "registry.db";
  MakeStore(store);
  EXPECT_TRUE(
      WatcherSeesChange(store, store, [&] { ASSERT_EQ(0, ::unlink(SideOf(store).c_str())); }));
}

TEST(SideFile, PutBackFromABackupWhileInUseMissesNoChange) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string store = folder / "registry.db";
  MakeStore(store);
  const std::string backup = folder / "backup";
  WriteFile(backup, ReadFile(SideOf(store)));
  ::chmod(backup.c_str(), 0600);
  EXPECT_TRUE(WatcherSeesChange(
      store, store, [&] { ASSERT_EQ(0, ::rename(backup.c_str(), SideOf(store).c_str())); }));
}

// In one process: a request waits while the side file is cut short, deleted
// or damaged, once with no call of this process meanwhile (its watcher alone
// must notice) and once with another thread reading without pause (which
// maps the file again while the watcher reads the log: ThreadSanitizer
// checks that they never race). Another process's change then ends it.
TEST(SideFile, ReplacedUnderAWaitingRequestItIsStillEnded) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string store = folder / "registry.db";
  MakeStore(store);
  const std::string path = "Software\\regkey-tests\\waited";
  Machine machine(store);
  ASSERT_EQ(ERROR_SUCCESS, machine.declared());
  KeyCloser key;
  ASSERT_EQ(ERROR_SUCCESS, machine.Create(path, key.key));
  const struct {
    const char* what;
    std::function<void(const std::string& side)> trick;
  } tricks[] = {
      {"cut short", [](const std::string& side) { ASSERT_EQ(0, ::truncate(side.c_str(), 100)); }},
      {"deleted", [](const std::string& side) { ASSERT_EQ(0, ::unlink(side.c_str())); }},
      {"log numbers gone back", [](const std::string& side) { WriteLogNumbers(side, 0, 0); }},
  };
  int value = 0;
  for (const bool reading : {false, true}) {
    for (const auto& t : tricks) {
      SCOPED_TRACE(std::string(t.what) + (reading ? ", read meanwhile" : ", no call meanwhile"));
      const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      ASSERT_NE(event, nullptr);
      ASSERT_EQ(ERROR_SUCCESS,
                RegNotifyChangeKeyValue(key.key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE));
      std::atomic<bool> stop{false};
      std::thread reader([&] {
        while (reading && !stop.load()) {
          LONG code = 0;
          DWORD type = 0;
          QueryBytes(key.key, "v", code, type);
        }
      });
      t.trick(SideOf(store));
      std::this_thread::sleep_for(std::chrono::milliseconds(30));  // past a check
      {
        Child setter(store, {"set", path, "v", std::to_string(++value)});
        EXPECT_TRUE(setter.Succeeded());
      }
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 5000));
      stop = true;
      reader.join();
      CloseHandle(event);
    }
  }
  LONG code = 0;
  DWORD type = 0;
  const std::string data = QueryBytes(key.key, "v", code, type);
  ASSERT_EQ(ERROR_SUCCESS, code);
  ASSERT_EQ(sizeof(DWORD), data.size());
  DWORD last = 0;
  std::memcpy(&last, data.data(), sizeof last);
  EXPECT_EQ(static_cast<DWORD>(value), last);
}

// --- A full file system --------------------------------------------------------

// A tmpfs of `size` on a folder of its own.
struct SmallFileSystem {
  explicit SmallFileSystem(const std::string& size)
      : mount("regkey-test", folder.path(), "tmpfs", MS_NOSUID | MS_NODEV,
              "size=" + size + ",mode=0700") {}
  ScratchFolder folder;
  ScopedMount mount;
};

// Writes a file until the file system is full.
void FillUp(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  const std::string block(4096, 'x');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  while (::write(fd, block.data(), 1) > 0) {
  }
  ::close(fd);
}

TEST(SideFile, NoRoomForTheSideFileGivesDiskFullFromEveryCall) {
  SmallFileSystem small("512k");
  if (!small.mount.ok()) GTEST_SKIP() << "a small file system is needed: " << small.mount.why();
  const std::string store = small.folder / "registry.db";
  ProbeResult result;
  ASSERT_TRUE(Probe(store, result, {}, [&] { ASSERT_TRUE(small.mount.Remount("size=8m")); }));
  EXPECT_EQ(Codes(ERROR_DISK_FULL), result.first);
  EXPECT_EQ("2 2 0", result.again);
}

TEST(SideFile, FullFileSystemGivesDiskFullNeverAFault) {
  SmallFileSystem small("4m");
  if (!small.mount.ok()) GTEST_SKIP() << "a small file system is needed: " << small.mount.why();
  const std::string store = small.folder / "registry.db";
  MakeStore(store);
  FillUp(small.folder / "filler");
  // Forty new keys in one change: forty new entries in the change log.
  std::string deep = "Software\\regkey-tests\\deep";
  for (int level = 0; level < 40; ++level) deep += "\\level" + std::to_string(level);
  {
    Child child(store, {"try-create", deep});
    std::string line;
    ASSERT_TRUE(child.ReadLine(line)) << child.Succeeded().message();
    EXPECT_EQ(std::to_string(ERROR_DISK_FULL), line);
    EXPECT_TRUE(child.Succeeded());
  }
  fs::remove(small.folder / "filler");
  {
    Child child(store, {"try-create", deep});
    std::string line;
    ASSERT_TRUE(child.ReadLine(line)) << child.Succeeded().message();
    EXPECT_EQ("0", line);
    EXPECT_TRUE(child.Succeeded());
  }
  EXPECT_EQ("ok", IntegrityCheck(store));
}

// A batch whose transaction SQLite ends when the disk fills up midway keeps
// nothing: the writes its caller goes on with are refused rather than each
// committed on its own, and the batch reports the full disk.
TEST(FullFileSystem, ABatchEndedByAFullDiskKeepsNothingOfItself) {
  SmallFileSystem small("4m");
  if (!small.mount.ok()) GTEST_SKIP() << "a small file system is needed: " << small.mount.why();
  ASSERT_EQ(0, regkey::registry::DeclareMachine("full-batch", small.folder / "registry.db"));
  HKEY root = nullptr;
  ASSERT_EQ(0, RegConnectRegistryA("full-batch", HKEY_CURRENT_USER, &root));
  HKEY key = nullptr;
  ASSERT_EQ(0, RegCreateKeyExA(root, "Software\\batch", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                               &key, nullptr));
  const BYTE one = 1;
  ASSERT_EQ(0, RegSetValueExA(key, "before", 0, REG_BINARY, &one, 1));
  const std::string big(200000, 'b');
  LONG full = 0;
  std::vector<LONG> later;
  const long result = regkey::registry::RunInOneTransaction("full-batch", {HKEY_CURRENT_USER}, [&] {
    EXPECT_EQ(0, RegSetValueExA(key, "first", 0, REG_BINARY, &one, 1));
    for (int i = 0; i < 100 && full == 0; ++i)
      full =
          RegSetValueExA(key, ("big" + std::to_string(i)).c_str(), 0, REG_BINARY,
                         reinterpret_cast<const BYTE*>(big.data()), static_cast<DWORD>(big.size()));
    HKEY child = nullptr;
    later.push_back(RegSetValueExA(key, "after", 0, REG_BINARY, &one, 1));
    later.push_back(
        RegCreateKeyExA(key, "child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr));
    RegCloseKey(child);
    later.push_back(RegDeleteValueA(key, "before"));
    return long{ERROR_SUCCESS};  // a caller that goes on past failures
  });
  EXPECT_EQ(ERROR_DISK_FULL, full);
  for (const LONG code : later) EXPECT_NE(0, code);
  EXPECT_EQ(ERROR_DISK_FULL, result);
  DWORD values = 0, subKeys = 0;
  ASSERT_EQ(0, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(1u, values);
  EXPECT_EQ(0u, subKeys);
  EXPECT_EQ(0, RegQueryValueExA(key, "before", nullptr, nullptr, nullptr, nullptr));
  // The store takes writes again.
  EXPECT_EQ(0, RegSetValueExA(key, "again", 0, REG_BINARY, &one, 1));
  RegCloseKey(key);
  RegCloseKey(root);
  regkey::registry::ForgetMachine("full-batch");
}

}  // namespace

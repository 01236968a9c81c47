// Where a store lives and whose it is: every way of naming one store leads
// to the same files; folders and files another user could have placed or
// could change are refused; with no home, no shared folder is ever used.
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <iterator>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/registry/store_harness.h"

namespace {

using namespace regkey::test;

constexpr uid_t kNobody = 65534;

void MakeStore(const std::string& store) {
  Machine machine(store);
  ASSERT_EQ(ERROR_SUCCESS, machine.declared());
  KeyCloser key;
  ASSERT_EQ(ERROR_SUCCESS, machine.Create("Software\\regkey-tests", key.key));
}

// Probes `store` and expects its opening refused with ERROR_ACCESS_DENIED;
// `again`: the probe's second opening too.
void ExpectRefused(const std::string& store, bool again = false) {
  ProbeResult result;
  ASSERT_TRUE(Probe(store, result)) << store;
  EXPECT_EQ(Codes(ERROR_ACCESS_DENIED), result.first) << store;
  if (again) {
    EXPECT_EQ(Codes(ERROR_ACCESS_DENIED), result.again) << store;
  }
}

// The probe's codes on a new store (nothing there yet), then again.
constexpr const char* kFreshFirst = "2 2 0";
constexpr const char* kFreshAgain = "2 0 0";

// --- One store, many names -----------------------------------------------------

TEST(StorePath, ThroughALinkSharesTheCacheAndNotifications) {
  ScratchFolder folder;
  ScratchFolder elsewhere;
  ASSERT_TRUE(folder.ok() && elsewhere.ok());
  const std::string store = folder / "registry.db";
  MakeStore(store);
  const std::string link = elsewhere / "link.db";
  ASSERT_EQ(0, ::symlink(store.c_str(), link.c_str()));
  EXPECT_TRUE(WatcherSeesChange(link, store, [] {}));
  EXPECT_TRUE(WatcherSeesChange(store, link, [] {}));
  // The store's own files only: nothing is made next to the link.
  EXPECT_FALSE(fs::exists(link + "-counter"));
  EXPECT_FALSE(fs::exists(link + "-wal"));
}

TEST(StorePath, ALinkedFolderAndARelativePathShareTheStore) {
  ScratchFolder folder;
  ScratchFolder elsewhere;
  ASSERT_TRUE(folder.ok() && elsewhere.ok());
  ASSERT_TRUE(fs::create_directory(folder / "sub"));
  const std::string store = folder / "sub/registry.db";
  MakeStore(store);
  ASSERT_EQ(0, ::symlink((folder / "sub").c_str(), (elsewhere / "linked").c_str()));
  EXPECT_TRUE(WatcherSeesChange(elsewhere / "linked/registry.db", store, [] {}));
  EXPECT_TRUE(WatcherSeesChange(
      "./sub/../sub/registry.db", store, [] {}, Child::Options::In(folder.path())));
}

TEST(StorePath, ThroughABindMountOfItsFolderSharesTheStore) {
  ScratchFolder folder;
  ScratchFolder elsewhere;
  ASSERT_TRUE(folder.ok() && elsewhere.ok());
  const std::string store = folder / "registry.db";
  MakeStore(store);
  ScopedMount bound(folder.path(), elsewhere.path(), nullptr, MS_BIND);
  if (!bound.ok()) GTEST_SKIP() << "a bind mount is needed: " << bound.why();
  EXPECT_TRUE(WatcherSeesChange(elsewhere / "registry.db", store, [] {}));
}

// SQLite names its journal after the file's name: two names of one file
// would each get a journal of their own and damage the store.
TEST(StorePath, AStoreWithASecondNameIsRefused) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string store = folder / "registry.db";
  MakeStore(store);
  const std::string bytes = ReadFile(store);
  ASSERT_EQ(0, ::link(store.c_str(), (folder / "second.db").c_str()));
  for (const std::string& name : {store, folder / "second.db"}) {
    ASSERT_NO_FATAL_FAILURE(ExpectRefused(name));
  }
  EXPECT_EQ(bytes, ReadFile(store));
}

TEST(StorePath, ABindMountOfTheFileItselfIsRefused) {
  ScratchFolder folder;
  ScratchFolder elsewhere;
  ASSERT_TRUE(folder.ok() && elsewhere.ok());
  const std::string store = folder / "registry.db";
  MakeStore(store);
  const std::string target = elsewhere / "mounted.db";
  WriteFile(target, "");
  ::chmod(target.c_str(), 0600);
  ScopedMount bound(store, target, nullptr, MS_BIND);
  if (!bound.ok()) GTEST_SKIP() << "a bind mount is needed: " << bound.why();
  ASSERT_NO_FATAL_FAILURE(ExpectRefused(target));
}

TEST(StorePath, ALinkToNothingIsRefusedAndCreatesNothing) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string store = folder / "registry.db";
  ASSERT_EQ(0, ::symlink((folder / "target.db").c_str(), store.c_str()));
  ProbeResult result;
  ASSERT_TRUE(Probe(store, result));
  EXPECT_EQ(Codes(ERROR_CANTOPEN), result.first);
  EXPECT_FALSE(fs::exists(folder / "target.db"));
}

// --- Folders and files of others -----------------------------------------------

TEST(StoreFolder, AFolderOthersMayWriteIsRefused) {
  for (const mode_t mode : {0777, 01777, 0703}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    ScratchFolder folder;
    ASSERT_TRUE(folder.ok());
    ASSERT_EQ(0, ::chmod(folder.path().c_str(), mode));
    const std::string store = folder / "registry.db";
    ASSERT_NO_FATAL_FAILURE(ExpectRefused(store, true));
    EXPECT_FALSE(fs::exists(store)) << "nothing is created there";
  }
}

TEST(StoreFolder, FoldersOfAnotherUserOrGroupAreRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  ASSERT_TRUE(fs::create_directories(folder / "above/store"));
  const std::string store = folder / "above/store/registry.db";
  MakeStore(store);
  const struct {
    const char* what;
    std::string path;
    uid_t owner;
    gid_t group;
    mode_t mode;
  } cases[] = {
      {"the store's folder is another user's", folder / "above/store", kNobody, 0, 0700},
      {"a folder above is another user's", folder / "above", kNobody, 0, 0755},
      {"a group may write the store's folder", folder / "above/store", 0, kNobody, 0770},
      {"a group may write a folder above", folder / "above", 0, kNobody, 0775},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(0, ::chown(c.path.c_str(), c.owner, c.group));
    ASSERT_EQ(0, ::chmod(c.path.c_str(), c.mode));
    ASSERT_NO_FATAL_FAILURE(ExpectRefused(store));
    ASSERT_EQ(0, ::chown(c.path.c_str(), 0, 0));
    ASSERT_EQ(0, ::chmod(c.path.c_str(), 0700));
  }
  ProbeResult result;
  ASSERT_TRUE(Probe(store, result));
  EXPECT_EQ(kFreshAgain, result.first);
}

// Runs `make` in a child process as nobody; whether it ran and returned true.
bool AsNobody(const std::function<bool()>& make) {
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const bool dropped =
        ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
    ::_exit(dropped && make() ? 0 : 1);
  }
  int status = 0;
  return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// What another user may have left, beforehand, where a store is to go: in a
// folder everyone may write (as /tmp), a folder of theirs that everyone may
// write, with a store file and a side file leading to this user's own file.
TEST(StoreFolder, OneAnotherUserMadeBeforehandIsRefusedAndLeftAsItWas) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  ASSERT_EQ(0, ::chmod(folder.path().c_str(), 0755));
  const std::string shared = folder / "shared";
  ASSERT_EQ(0, ::mkdir(shared.c_str(), 0700));
  ASSERT_EQ(0, ::chmod(shared.c_str(), 01777));
  const std::string victim = folder / "victim";
  WriteFile(victim, "the user's own file");
  const struct {
    const char* what;
    mode_t folderMode;
    bool files;
  } cases[] = {
      {"an empty folder everyone may write", 0777, false},
      {"a folder everyone may write, with files", 0777, true},
      {"a folder only they may write, with files", 0755, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string planted = shared + "/regkey" + std::to_string(++n);
    const std::string store = planted + "/registry.db";
    ASSERT_TRUE(AsNobody([&] {
      if (::mkdir(planted.c_str(), 0700) != 0 || ::chmod(planted.c_str(), c.folderMode) != 0)
        return false;
      if (!c.files) return true;
      const int fd = ::open(store.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
      return fd >= 0 && ::fchmod(fd, 0666) == 0 && ::close(fd) == 0 &&
             ::symlink(victim.c_str(), (store + "-counter").c_str()) == 0;
    }));
    ASSERT_NO_FATAL_FAILURE(ExpectRefused(store, true));
    EXPECT_EQ("the user's own file", ReadFile(victim));
    // Nothing of this user's was put there.
    for (const auto& entry : fs::directory_iterator(planted)) {
      struct stat info {};
      ASSERT_EQ(0, ::lstat(entry.path().c_str(), &info));
      EXPECT_EQ(kNobody, info.st_uid) << entry.path();
    }
    EXPECT_EQ(c.files ? 2 : 0, std::distance(fs::directory_iterator(planted), {}));
  }
}

TEST(StoreFiles, JournalFilesThatAreNotThisUsersOwnAreRefused) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string victim = folder / "victim";
  WriteFile(victim, "the user's own file");
  const struct {
    const char* suffix;
    const char* what;
    bool needsRoot;
  } cases[] = {
      {"-wal", "a link", false},
      {"-shm", "a link", false},
      {"-wal", "writable by others", false},
      {"", "another user's", true},
      {"-wal", "another user's", true},
      {"-shm", "another user's", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.suffix) + ": " + c.what);
    if (c.needsRoot && ::geteuid() != 0) continue;
    const std::string store = folder / ("store" + std::to_string(++n) + ".db");
    MakeStore(store);
    const std::string file = store + c.suffix;
    std::error_code ignored;
    if (std::string(c.what) == "a link") {
      fs::remove(file, ignored);
      ASSERT_EQ(0, ::symlink(victim.c_str(), file.c_str()));
    } else {
      if (!fs::exists(file)) WriteFile(file, "");
      if (c.needsRoot) {
        ASSERT_EQ(0, ::chown(file.c_str(), kNobody, kNobody));
      } else {
        ASSERT_EQ(0, ::chmod(file.c_str(), 0666));
      }
    }
    ASSERT_NO_FATAL_FAILURE(ExpectRefused(store));
    EXPECT_EQ("the user's own file", ReadFile(victim));
  }
}

// --- The default store without a home ------------------------------------------

const std::vector<std::string> kNoHome{"HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "REGKEY_STORE"};

TEST(DefaultStore, WithoutAHomeNoSharedFolderIsUsed) {
  const bool existed = fs::exists("/tmp/regkey/registry.db");
  ProbeResult result;
  ASSERT_TRUE(Probe("", result, Child::Options::Environment(kNoHome)));
  EXPECT_EQ(Codes(ERROR_ENVVAR_NOT_FOUND), result.first);
  EXPECT_EQ(Codes(ERROR_ENVVAR_NOT_FOUND), result.again);
  if (!existed) {
    EXPECT_FALSE(fs::exists("/tmp/regkey/registry.db"));
  }
}

TEST(DefaultStore, WithoutAHomeAPrivateRuntimeFolderIsUsed) {
  ScratchFolder runtime;
  ASSERT_TRUE(runtime.ok());
  ASSERT_EQ(0, ::chmod(runtime.path().c_str(), 0700));
  const Child::Options options =
      Child::Options::Environment(kNoHome, {"XDG_RUNTIME_DIR=" + runtime.path()});
  ProbeResult result;
  ASSERT_TRUE(Probe("", result, options));
  EXPECT_EQ(kFreshFirst, result.first);
  EXPECT_EQ(kFreshAgain, result.again);
  EXPECT_TRUE(fs::is_regular_file(runtime / "regkey/registry.db"));

  // One that others may enter, or another user's, is not this user's alone.
  ASSERT_EQ(0, ::chmod(runtime.path().c_str(), 0755));
  ASSERT_TRUE(Probe("", result, options));
  EXPECT_EQ(Codes(ERROR_ENVVAR_NOT_FOUND), result.first);
  if (::geteuid() == 0) {
    ASSERT_EQ(0, ::chmod(runtime.path().c_str(), 0700));
    ASSERT_EQ(0, ::chown(runtime.path().c_str(), kNobody, kNobody));
    ASSERT_TRUE(Probe("", result, options));
    EXPECT_EQ(Codes(ERROR_ENVVAR_NOT_FOUND), result.first);
  }
}

}  // namespace

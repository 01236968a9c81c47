// The safe-opening helpers any file store engine builds on: a file or folder
// of a store is this user's alone, reached by its real path, and nothing put
// in its place is opened, followed or written.
#include "registry/store_files.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/registry/store_harness.h"

namespace {

using namespace regkey::test;
using regkey::registry::CheckStoreFiles;
using regkey::registry::OpenOwnFile;
using regkey::registry::PrepareStoreFolder;

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Sets the umask for a scope.
struct Umask {
  explicit Umask(mode_t mask) : saved(::umask(mask)) {}
  ~Umask() { ::umask(saved); }
  mode_t saved;
};

TEST(OwnFiles, OpenCreatesWithItsModeAndRefusesWhatStandsInItsPlace) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string victim = folder / "victim";
  WriteFile(victim, "the user's own file");
  for (const mode_t mask : {0000, 0777}) {
    Umask umask(mask);
    const std::string file = folder / ("file" + std::to_string(mask));
    int fd = -1;
    bool created = false;
    ASSERT_EQ(ERROR_SUCCESS, OpenOwnFile(file, O_RDWR | O_CREAT, 0600, fd, &created));
    ::close(fd);
    EXPECT_TRUE(created);
    EXPECT_EQ(0600u, ModeOf(file));
    ASSERT_EQ(ERROR_SUCCESS, OpenOwnFile(file, O_RDWR | O_CREAT, 0600, fd, &created));
    ::close(fd);
    EXPECT_FALSE(created);
  }
  int fd = -1;
  EXPECT_EQ(ERROR_CANTOPEN, OpenOwnFile(folder / "missing", O_RDONLY, 0600, fd));
  EXPECT_EQ(-1, fd);

  ASSERT_EQ(0, ::symlink(victim.c_str(), (folder / "link").c_str()));
  ASSERT_EQ(0, ::mkfifo((folder / "pipe").c_str(), 0600));
  ASSERT_EQ(0, ::mkdir((folder / "folder").c_str(), 0700));
  WriteFile(folder / "shared", "");
  ASSERT_EQ(0, ::chmod((folder / "shared").c_str(), 0666));
  for (const char* name : {"link", "pipe", "folder", "shared"}) {
    for (const int flags : {O_RDONLY | O_NONBLOCK, O_RDWR | O_CREAT | O_NONBLOCK}) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(flags));
      EXPECT_EQ(ERROR_ACCESS_DENIED, OpenOwnFile(folder / name, flags, 0600, fd));
      EXPECT_EQ(-1, fd);
    }
  }
  EXPECT_EQ("the user's own file", ReadFile(victim));
  EXPECT_EQ(ERROR_SUCCESS, CheckStoreFiles(folder / "file0", {"-a", "-b"}));
  EXPECT_EQ(ERROR_ACCESS_DENIED, CheckStoreFiles(folder / "", {"missing", "link"}));
}

TEST(OwnFiles, AStoreFolderIsMadePrivateAndReachedByItsRealPath) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  Umask umask(0);
  std::string resolved;
  EXPECT_EQ(ERROR_CANTOPEN, PrepareStoreFolder(folder / "store", 0700, false, resolved));
  ASSERT_EQ(ERROR_SUCCESS, PrepareStoreFolder(folder / "store", 0700, true, resolved));
  EXPECT_EQ(folder / "store", resolved);
  EXPECT_EQ(0700u, ModeOf(resolved));
  ASSERT_EQ(0, ::symlink((folder / "store").c_str(), (folder / "link").c_str()));
  ASSERT_EQ(ERROR_SUCCESS, PrepareStoreFolder(folder / "link", 0700, true, resolved));
  EXPECT_EQ(folder / "store", resolved);

  // Refused: one others may write, a file in its place, and a new one in a
  // folder others may write (where nothing is made).
  ASSERT_EQ(0, ::mkdir((folder / "open").c_str(), 0777));
  WriteFile(folder / "file", "");
  ASSERT_EQ(0, ::mkdir((folder / "parent").c_str(), 0777));
  for (const char* name : {"open", "file", "parent/store"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ERROR_ACCESS_DENIED, PrepareStoreFolder(folder / name, 0700, true, resolved));
  }
  EXPECT_FALSE(fs::exists(folder / "parent/store"));
}

}  // namespace

// The machine map, RegConnectRegistryA's names, and the split of this
// machine's roots between the user's store and the machine store. Each
// "host" is a registry_host_child process with an environment of its own.
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "registry/machine_map.h"
#include "tests/registry/host_process.h"

namespace {

namespace fs = std::filesystem;
using regkey::registry::MachineMap;
using regkey::registry::ParseMachineMap;
using regkey::registry::ReadMachineMap;
using regkey::test::HostProcess;

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = ::testing::TempDir() + "regkey-machines-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    // Other users (nobody) pass through to the files they may read.
    ::chmod(path_.c_str(), 0755);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  ::chmod(path.c_str(), mode);
}

// A host that reads the machine map in `folder` and keeps its own store in
// folder/home.
HostProcess::Options MapHost(const ScratchFolder& folder, const std::string& home,
                             bool asNobody = false) {
  return {.env = {{"REGKEY_MACHINES", folder / "machines.conf"}, {"XDG_DATA_HOME", folder / home}},
          .asNobody = asNobody};
}

std::string OwnName() {
  char name[256] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? name : "";
}

TEST(MachineMap, ReadsNamesAndStoresAndReportsBadLinesByNumber) {
  MachineMap map;
  ParseMachineMap(
      "# machines\n"
      "\n"
      "  build   /srv/build.db  \n"
      "\\\\Office\tpostgresql://regkey@db/registry?sslmode=require\n"
      "scratch :memory:\n"
      "lonely\n"
      "relative stores/x.db\n"
      "BUILD /srv/other.db\n"
      "pg postgres://u@h/d\r\n",
      "/etc/regkey/machines.conf", false, map);
  EXPECT_EQ(4u, map.stores.size());
  EXPECT_EQ("/srv/build.db", map.stores["BUILD"]);
  EXPECT_EQ("postgresql://regkey@db/registry?sslmode=require", map.stores["OFFICE"]);
  EXPECT_EQ(":memory:", map.stores["SCRATCH"]);
  EXPECT_EQ("postgres://u@h/d", map.stores["PG"]);
  ASSERT_EQ(3u, map.problems.size());
  EXPECT_EQ(0u, map.problems[0].find("/etc/regkey/machines.conf:6: ")) << map.problems[0];
  EXPECT_EQ(0u, map.problems[1].find("/etc/regkey/machines.conf:7: ")) << map.problems[1];
  EXPECT_EQ(0u, map.problems[2].find("/etc/regkey/machines.conf:8: ")) << map.problems[2];
}

TEST(MachineMap, RefusesPasswordsInAFileOthersMayReadAndNeverQuotesThem) {
  const char* const text =
      "a postgresql://user:hunter2@db/registry\n"
      "b postgresql://user@db/registry?password=hunter2\n"
      "c postgresql://user@db/registry?sslmode=require\n";
  MachineMap shared;
  ParseMachineMap(text, "m.conf", true, shared);
  EXPECT_EQ(1u, shared.stores.size());
  ASSERT_EQ(2u, shared.problems.size());
  for (const std::string& problem : shared.problems)
    EXPECT_EQ(std::string::npos, problem.find("hunter2")) << problem;
  MachineMap own;
  ParseMachineMap(text, "m.conf", false, own);
  EXPECT_EQ(3u, own.stores.size());
  EXPECT_TRUE(own.problems.empty());
}

TEST(MachineMap, RefusesLinksFilesOthersMayWriteAndNamedFilesThatAreMissing) {
  ScratchFolder folder;
  WriteFile(folder / "good.conf", "a :memory:\n", 0644);
  WriteFile(folder / "writable.conf", "a :memory:\n", 0666);
  fs::create_symlink(folder / "good.conf", folder / "link.conf");
  MachineMap good;
  ReadMachineMap(folder / "good.conf", true, good);
  EXPECT_EQ(1u, good.stores.size());
  EXPECT_TRUE(good.problems.empty());
  for (const char* bad : {"writable.conf", "link.conf", "missing.conf"}) {
    MachineMap map;
    ReadMachineMap(folder / bad, true, map);
    EXPECT_TRUE(map.stores.empty()) << bad;
    ASSERT_EQ(1u, map.problems.size()) << bad;
    EXPECT_EQ(0u, map.problems[0].find(folder / bad)) << map.problems[0];
  }
  // A default map that is not there is no problem.
  MachineMap none;
  ReadMachineMap(folder / "missing.conf", false, none);
  EXPECT_TRUE(none.problems.empty());
}

TEST(Machines, NamesResolveThroughTheMapAndUnknownOnesGiveBadNetpath) {
  ScratchFolder folder;
  WriteFile(folder / "machines.conf",
            "alpha " + (folder / "alpha.db") +
                "\n"
                "broken\n"
                "beta " +
                (folder / "beta.db") + "\n",
            0600);
  HostProcess host(MapHost(folder, "home"));
  ASSERT_TRUE(host.started());
  EXPECT_EQ("0", host.Ask("set \\\\alpha\\HKLM\\Software\\Test v abc"));
  EXPECT_EQ("0 abc", host.Ask("get \\\\ALPHA\\HKLM\\Software\\Test v"));
  // Another machine is another registry.
  EXPECT_EQ("2 -", host.Ask("get \\\\beta\\HKLM\\Software\\Test v"));
  EXPECT_EQ("53 -", host.Ask("get \\\\gamma\\HKLM\\Software\\Test v"));
  EXPECT_EQ("53 -", host.Ask("get \\\\broken\\HKLM\\Software\\Test v"));
  // This machine's own name is this machine.
  EXPECT_EQ("0", host.Ask("set HKCU\\Software\\Test v local"));
  EXPECT_EQ("0 local", host.Ask("get \\\\" + OwnName() + "\\HKCU\\Software\\Test v"));
  const std::string errors = host.Finish();
  // The malformed line is reported once, with its file and line.
  const std::string where = (folder / "machines.conf") + ":2: ";
  EXPECT_NE(std::string::npos, errors.find(where)) << errors;
  EXPECT_EQ(errors.find(where), errors.rfind(where)) << errors;
  EXPECT_TRUE(fs::exists(folder / "alpha.db"));
}

// This host's machine store, from the map, shared by every user of the host;
// the user's own store for HKEY_CURRENT_USER.
class SplitRoots : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(folder_ / "machines.conf", OwnName() + " " + (folder_ / "machine.db") + "\n", 0644);
  }
  HostProcess::Options Host(const std::string& home, bool asNobody = false) {
    fs::create_directories(folder_ / home);
    if (asNobody) ::chown((folder_ / home).c_str(), 65534, 65534);
    return MapHost(folder_, home, asNobody);
  }
  ScratchFolder folder_;
};

TEST_F(SplitRoots, MachineRootsAreSharedAndTheUserRootIsOwn) {
  HostProcess first(Host("first"));
  HostProcess second(Host("second"));
  ASSERT_TRUE(first.started() && second.started());
  EXPECT_EQ("0", first.Ask("set HKLM\\Software\\Company\\App setting shared"));
  EXPECT_EQ("0", first.Ask("set HKCU\\Software\\Company\\App setting mine"));
  EXPECT_EQ("0", first.Ask("set HKU\\.DEFAULT\\App setting users"));
  EXPECT_EQ("0 shared", second.Ask("get HKLM\\Software\\Company\\App setting"));
  EXPECT_EQ("0 users", second.Ask("get HKU\\.DEFAULT\\App setting"));
  EXPECT_EQ("2 -", second.Ask("get HKCU\\Software\\Company\\App setting"));
  EXPECT_TRUE(fs::exists(folder_ / "first/regkey/registry.db"));
}

TEST_F(SplitRoots, AnotherUserReadsAndWatchesTheMachineStoreButMayNotWriteIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to create a store another user reads";
  HostProcess owner(Host("root"));
  ASSERT_EQ("0", owner.Ask("set HKLM\\Software\\Company\\App setting shared"));
  struct stat info {};
  ASSERT_EQ(0, ::stat((folder_ / "machine.db").c_str(), &info));
  EXPECT_EQ(0644u, info.st_mode & 0777);
  HostProcess user(Host("nobody", true));
  ASSERT_TRUE(user.started());
  EXPECT_EQ("0 shared", user.Ask("get HKLM\\Software\\Company\\App setting"));
  EXPECT_EQ("5", user.Ask("set HKLM\\Software\\Company\\App setting changed"));
  EXPECT_EQ("5 0", user.Ask("create HKLM\\Software\\Company\\Other"));
  EXPECT_EQ("0", user.Ask("set HKCU\\Software\\Company\\App setting mine"));
  EXPECT_EQ("0 shared", owner.Ask("get HKLM\\Software\\Company\\App setting"));
  // The reader is woken by the owner's change.
  EXPECT_EQ("0", user.Ask("watch HKLM\\Software\\Company 1 5"));
  EXPECT_EQ("0", owner.Ask("set HKLM\\Software\\Company\\App setting again"));
  EXPECT_EQ(0u, user.Ask("wait 5000").find("signalled"));
  EXPECT_EQ("0 again", user.Ask("get HKLM\\Software\\Company\\App setting"));
}

TEST_F(SplitRoots, UntilTheMachineStoreIsMadeAnotherUserSeesEmptyTreesAndMayNotWrite) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to create a store another user reads";
  HostProcess user(Host("nobody", true));
  ASSERT_TRUE(user.started());
  EXPECT_EQ("2 -", user.Ask("get HKLM\\Software\\Company\\App setting"));
  EXPECT_EQ("5", user.Ask("set HKLM\\Software\\Company\\App setting mine"));
  EXPECT_FALSE(fs::exists(folder_ / "machine.db"));
  HostProcess owner(Host("root"));
  ASSERT_EQ("0", owner.Ask("set HKLM\\Software\\Company\\App setting shared"));
  EXPECT_EQ("0 shared", user.Ask("get HKLM\\Software\\Company\\App setting"));
}

TEST_F(SplitRoots, OneNamedStoreServesEveryRoot) {
  auto options = Host("single");
  options.env["REGKEY_STORE"] = folder_ / "single.db";
  HostProcess single(options);
  HostProcess split(Host("split"));
  EXPECT_EQ("0", single.Ask("set HKLM\\Software\\Test v single"));
  EXPECT_EQ("0 single", single.Ask("get HKLM\\Software\\Test v"));
  EXPECT_EQ("2 -", split.Ask("get HKLM\\Software\\Test v"));
}

}  // namespace

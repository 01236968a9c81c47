// qreg on another machine: \\Machine\ names in every command. Natively the
// machine is a store file of its own, named by a machine map that the
// children read (REGKEY_MACHINES); under Wine it is this machine by its own
// name, which Wine's RegConnectRegistryA reaches (it knows no other).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/qreg/qreg_runner.h"
#include "tools/qreg/src/cli/text.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qreg::test {
namespace {

std::string OwnName() {
  char name[MAX_COMPUTERNAME_LENGTH + 256] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

#ifndef _WIN32
const char kOther[] = "qreg-other";
const char kAbsent[] = "qreg-absent";

std::string InTestDir(const std::string& name) { return std::string(QREG_TEST_DIR) + "/" + name; }

// The machine map every child reads: one machine with a store of its own
// (QREG_TEST_REMOTE_STORE names another kind, such as a database), one whose
// store is not there yet. A map of this process's own: the program also runs
// with a database for the machine, maybe at the same time.
void UseMachineMap() {
  const char* store = std::getenv("QREG_TEST_REMOTE_STORE");
  const std::string other = store != nullptr && *store != '\0'
                                ? std::string(store)
                                : InTestDir("qreg_remote_other.regstore");
  const std::string map = InTestDir("qreg_remote_machines-" + std::to_string(::getpid()) + ".conf");
  WriteFile(map, std::string(kOther) + " " + other + "\n" + kAbsent + " " +
                     InTestDir("qreg_remote_absent.regstore") + "\n");
  chmod(map.c_str(), 0600);
  setenv("REGKEY_MACHINES", map.c_str(), 1);
}
#endif

// A scratch key below HKLM of the other machine (remote_ as typed,
// remoteFull_ as qreg prints it), besides the local HKCU one of Tool.
class Remote : public Tool {
 protected:
  Remote() {
#ifndef _WIN32
    UseMachineMap();
    machine_ = kOther;
#else
    machine_ = OwnName();
#endif
    remote_ = "\\\\" + machine_ + "\\HKLM\\" + scratch_.path();
    remoteFull_ = "\\\\" + machine_ + "\\HKEY_LOCAL_MACHINE\\" + scratch_.path();
  }
  ~Remote() override {
    Qreg({"delete", remote_, "/f"});
    Qreg({"delete", "HKLM\\" + scratch_.path(), "/f"});
  }

  std::string machine_, remote_, remoteFull_;
};

TEST_F(Remote, AddQueryCopyCompareAndDeleteReachTheMachine) {
  ASSERT_EQ(Qreg({"add", remote_ + "\\sub", "/v", "s", "/d", "one"}).out, kDone);
  ASSERT_EQ(Qreg({"add", remote_, "/v", "d", "/t", "REG_DWORD", "/d", "7"}).code, 0);
  EXPECT_EQ(Qreg({"query", remote_, "/v", "d"}).out,
            "\n" + remoteFull_ + "\n    d    REG_DWORD    0x7\n\n");
  EXPECT_EQ(Qreg({"query", remote_ + "\\sub"}).out,
            "\n" + remoteFull_ + "\\sub\n    s    REG_SZ    one\n\n");
  // The short and long root names and any case name the same machine's key.
  EXPECT_EQ(Qreg({"query", "\\\\" + Lower(machine_) + "\\hkey_local_machine\\" + scratch_.path(),
                  "/v", "d"})
                .code,
            0);
#ifndef _WIN32
  // Another store: this machine's HKLM does not have it. (Under Wine the
  // machine is this one.)
  EXPECT_EQ(Qreg({"query", "HKLM\\" + scratch_.path()}).code, 1);
#endif

  ASSERT_EQ(Qreg({"copy", remote_, key_, "/s", "/f"}).code, 0);
  EXPECT_EQ(Qreg({"query", key_ + "\\sub", "/v", "s"}).out,
            "\n" + full_ + "\\sub\n    s    REG_SZ    one\n\n");
  Result r = Qreg({"compare", remote_, key_, "/s"});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("Result Compared: Identical"), std::string::npos) << r.out;
  ASSERT_EQ(Qreg({"add", key_ + "\\sub", "/v", "s", "/d", "two", "/f"}).code, 0);
  r = Qreg({"compare", remote_, key_, "/s"});
  EXPECT_EQ(r.code, 2) << r.out;
  EXPECT_NE(r.out.find("< Value: " + remoteFull_ + "\\sub  s  REG_SZ  one\n"), std::string::npos)
      << r.out;
  ASSERT_EQ(Qreg({"copy", key_, remote_, "/s", "/f"}).code, 0);
  EXPECT_EQ(Qreg({"query", remote_ + "\\sub", "/v", "s"}).out,
            "\n" + remoteFull_ + "\\sub\n    s    REG_SZ    two\n\n");

  EXPECT_EQ(Qreg({"delete", remote_, "/v", "d", "/f"}).code, 0);
  EXPECT_EQ(Qreg({"query", remote_, "/v", "d"}).code, 1);
  EXPECT_EQ(Qreg({"delete", remote_, "/f"}).code, 0);
  r = Qreg({"query", remote_});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "ERROR: Cannot open " + remoteFull_ + ": " + kMissing + "\n");
}

TEST_F(Remote, OnlyHklmAndHkuAndNoUnknownMachine) {
  const std::string hku = "\\\\" + machine_ + "\\HKU\\.DEFAULT\\" + scratch_.path();
  EXPECT_EQ(Qreg({"add", hku, "/v", "x", "/d", "1"}).code, 0);
  EXPECT_EQ(Qreg({"query", hku, "/v", "x"}).out, "\n\\\\" + machine_ + "\\HKEY_USERS\\.DEFAULT\\" +
                                                     scratch_.path() +
                                                     "\n    x    REG_SZ    1\n\n");
  EXPECT_EQ(Qreg({"delete", hku, "/f"}).code, 0);

  const std::string user = "\\\\" + machine_ + "\\HKCU\\" + scratch_.path();
  for (const std::vector<std::string>& command : {std::vector<std::string>{"query", user},
                                                  {"add", user},
                                                  {"delete", user, "/f"},
                                                  {"copy", key_, user},
                                                  {"export", user, file_},
                                                  {"compare", key_, user},
                                                  {"compare", key_, "\\\\" + machine_},
                                                  {"watch", user, "/t", "10"}}) {
    const Result r = Qreg(command);
    EXPECT_EQ(r.code, 1) << command[0];
    EXPECT_TRUE(r.out.starts_with("ERROR: Invalid key name: \\\\" + machine_ + "\\HK")) << r.out;
    EXPECT_NE(r.out.find("on another machine ROOT is HKLM or HKU"), std::string::npos) << r.out;
  }
  WriteFile(file_, "REGEDIT4\r\n\r\n[\\\\" + machine_ + "\\HKEY_CURRENT_USER\\x]\r\n");
  Result r = Qreg({"import", file_});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("line 3: not a key of another machine's HKEY_LOCAL_MACHINE or HKEY_USERS"),
            std::string::npos)
      << r.out;

  const std::string nowhere = "\\\\qreg-no-such-machine\\HKLM\\Software";
  r = Qreg({"query", nowhere});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out,
            "ERROR: Cannot open \\\\qreg-no-such-machine\\HKEY_LOCAL_MACHINE\\Software: "
            "The network path was not found.\n");
  EXPECT_EQ(Qreg({"add", nowhere + "\\x"}).code, 1);
}

TEST_F(Remote, ExportNamesTheMachineAndImportTakesItBack) {
  Qreg({"add", remote_ + "\\k", "/v", "s", "/d", "text"});
  Qreg({"add", remote_, "/v", "b", "/t", "REG_BINARY", "/d", "0aff"});
  ASSERT_EQ(Qreg({"export", remote_, file_}).code, 0);
  const std::string exported = Utf16Text(FileText(file_));
  EXPECT_EQ(exported, "Windows Registry Editor Version 5.00\r\n\r\n[" + remoteFull_ +
                          "]\r\n\"b\"=hex:0a,ff\r\n\r\n[" + remoteFull_ +
                          "\\k]\r\n\"s\"=\"text\"\r\n\r\n");
  const Result regedit4 = Qreg({"export", remote_, "-", "/a"});
  EXPECT_EQ(regedit4.code, 0);
  EXPECT_NE(regedit4.out.find("\n[" + remoteFull_ + "\\k]\n\"s\"=\"text\"\n"), std::string::npos)
      << regedit4.out;

  const std::string before = Qreg({"query", remote_, "/s"}).out;
  ASSERT_EQ(Qreg({"delete", remote_, "/f"}).code, 0);
  EXPECT_EQ(Qreg({"import", file_}).out, kDone);
  EXPECT_EQ(Qreg({"query", remote_, "/s"}).out, before);

  // One file for this machine and the other one: each key goes to its own.
  WriteFile(file_, "REGEDIT4\r\n\r\n[" + full_ + "]\r\n\"here\"=\"1\"\r\n[" + remoteFull_ +
                       "]\r\n\"there\"=\"2\"\r\n[-" + remoteFull_ + "\\k]\r\n");
  EXPECT_EQ(Qreg({"import", file_}).out, kDone);
  EXPECT_EQ(Qreg({"query", key_, "/v", "here"}).code, 0);
  EXPECT_EQ(Qreg({"query", remote_, "/v", "there"}).code, 0);
  EXPECT_EQ(Qreg({"query", remote_ + "\\k"}).code, 1);
#ifndef _WIN32
  EXPECT_EQ(Qreg({"query", key_, "/v", "there"}).code, 1);
  EXPECT_EQ(Qreg({"query", "HKLM\\" + scratch_.path()}).code, 1);

  // A change the machine's registry refuses (a key deeper than 512 levels)
  // after others: nothing of the file stays there.
  const std::string kept = Qreg({"query", remote_, "/s"}).out;
  std::string deep = remoteFull_;
  for (int level = 0; level < 520; ++level) deep += "\\d";
  WriteFile(file_, "REGEDIT4\r\n\r\n[" + remoteFull_ + "]\r\n\"there\"=\"changed\"\r\n[" +
                       remoteFull_ + "\\fresh]\r\n[" + deep + "]\r\n");
  const Result r = Qreg({"import", file_});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("the import was undone"), std::string::npos) << r.out;
  EXPECT_EQ(Qreg({"query", remote_, "/s"}).out, kept);
#endif
}

TEST_F(Remote, WatchWakesWhenAnotherProcessChangesTheMachine) {
  Qreg({"add", remote_ + "\\k"});
  Child watch = Start({"watch", remote_, "/s", "/once", "/t", "60000"}, "", false);
  ASSERT_TRUE(FileShows(watch.err, "Watching " + remoteFull_ + " and its subkeys"))
      << FileText(watch.err);
  EXPECT_EQ(Qreg({"add", remote_ + "\\k", "/v", "v", "/d", "one"}).code, 0);
  const Result r = Finish(watch);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.out.ends_with("  value added    " + remoteFull_ + "\\k  v  REG_SZ  one\n"))
      << r.out;
}

TEST_F(Remote, TheOwnNameIsThisMachine) {
  const std::string own = "\\\\" + OwnName() + "\\HKLM\\" + scratch_.path();
  ASSERT_EQ(Qreg({"add", own, "/v", "x", "/d", "mine"}).code, 0);
  EXPECT_EQ(Qreg({"query", "HKLM\\" + scratch_.path(), "/v", "x"}).out,
            "\nHKEY_LOCAL_MACHINE\\" + scratch_.path() + "\n    x    REG_SZ    mine\n\n");
  const Result r = Qreg({"compare", own, "\\\\.", "/s"});
  EXPECT_EQ(r.code, 0) << r.out;
}

#ifndef _WIN32
TEST_F(Remote, CommandsThatOnlyReadOrRemoveNeverCreateTheMachinesStore) {
  const std::string store = InTestDir("qreg_remote_absent.regstore");
  std::remove(store.c_str());
  const std::string key = std::string("\\\\") + kAbsent + "\\HKLM\\Software";
  for (const std::vector<std::string>& command : {std::vector<std::string>{"query", key},
                                                  {"export", key, file_},
                                                  {"delete", key, "/f"},
                                                  {"compare", key, key_},
                                                  {"watch", key, "/t", "10"}}) {
    const Result r = Qreg(command);
    EXPECT_EQ(r.code, 1) << command[0];
    EXPECT_EQ(r.out, "ERROR: The registry store " + store + " of \\\\" + kAbsent +
                         " does not exist (the machine map, REGKEY_MACHINES, names it).\n")
        << command[0];
    struct stat st {};
    EXPECT_NE(stat(store.c_str(), &st), 0) << command[0] << " made the store";
  }
  EXPECT_EQ(Qreg({"add", key + "\\x"}).code, 0);
  EXPECT_EQ(Qreg({"query", key + "\\x"}).code, 0);
  std::remove(store.c_str());
}
#endif

}  // namespace
}  // namespace qreg::test

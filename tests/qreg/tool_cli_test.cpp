// qreg's command line: help for each command, the version, the store file,
// options named in errors, messages on standard error and results on
// standard output, and read-only commands that never create a store.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/qreg/qreg_runner.h"

#ifndef _WIN32
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#endif

namespace qreg::test {
namespace {

TEST(Cli, EachCommandHasItsOwnHelp) {
  for (const char* command :
       {"QUERY", "ADD", "DELETE", "COPY", "EXPORT", "IMPORT", "COMPARE", "WATCH"}) {
    for (const char* ask : {"/?", "-?", "--help", "-h"}) {
      const Result r = QregApart({command, ask});
      EXPECT_EQ(r.code, 0) << command << " " << ask;
      EXPECT_TRUE(r.out.starts_with(std::string("QREG ") + command + " ")) << r.out;
      EXPECT_EQ(r.err, "");
    }
  }
  for (const char* ask : {"/?", "-h", "--help"}) {
    const Result r = QregApart({ask});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.starts_with("QREG Operation [Parameter List]\n")) << r.out;
  }
  const Result none = QregApart({});
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "ERROR: Invalid syntax: no operation. Type \"QREG /?\" for usage.\n");
}

TEST(Cli, VersionIsTheProjects) {
  EXPECT_EQ(Qreg({"--version"}).out, "qreg " QREG_EXPECTED_VERSION "\n");
}

TEST_F(Tool, UnknownOptionsAndOperationsAreNamed) {
  Result r = QregApart({"query", key_, "/x"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "ERROR: Invalid syntax: unknown option /x. Type \"QREG QUERY /?\" for usage.\n");
  r = QregApart({"add", key_, "--frob"});
  EXPECT_EQ(r.err,
            "ERROR: Invalid syntax: unknown option --frob. Type \"QREG ADD /?\" for usage.\n");
  r = QregApart({"frob"});
  EXPECT_EQ(r.err, "ERROR: Invalid syntax: unknown operation frob. Type \"QREG /?\" for usage.\n");
  r = QregApart({"query", key_, "extra"});
  EXPECT_EQ(
      r.err,
      "ERROR: Invalid syntax: unexpected argument extra. Type \"QREG QUERY /?\" for usage.\n");
}

TEST_F(Tool, EveryCommandTakesARegistryView) {
  EXPECT_EQ(Qreg({"add", key_, "/v", "v", "/d", "1", "/reg:64"}).out, kDone);
  EXPECT_EQ(Qreg({"query", key_, "/v", "v", "/REG:32"}).code, 0);
  EXPECT_EQ(Qreg({"copy", key_, key_ + "\\c", "/f", "/reg:64"}).out, kDone);
  EXPECT_EQ(Qreg({"compare", key_, key_ + "\\c", "/reg:64"}).code, 2);  // c is a subkey of key_
  EXPECT_EQ(Qreg({"export", key_, file_, "/reg:32"}).out, kDone);
  EXPECT_EQ(Qreg({"import", file_, "/reg:32"}).out, kDone);
  EXPECT_EQ(Qreg({"watch", key_, "/t", "1", "/reg:64"}).code, 1);  // no change: the time-out
  EXPECT_EQ(Qreg({"delete", key_, "/f", "/reg:64"}).out, kDone);
  const Result both = Qreg({"query", key_, "/reg:32", "/reg:64"});
  EXPECT_EQ(both.code, 1);
  EXPECT_NE(both.out.find("/reg:32 and /reg:64 together"), std::string::npos) << both.out;
}

TEST_F(Tool, MessagesGoToStandardErrorAndResultsToStandardOutput) {
  Qreg({"add", key_, "/v", "v", "/d", "text"});
  Result r = QregApart({"query", key_, "/v", "v"});
  EXPECT_EQ(r.out, "\n" + full_ + "\n    v    REG_SZ    text\n\n");
  EXPECT_EQ(r.err, "");
  r = QregApart({"query", key_ + "\\missing"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR: Cannot open " + full_ + "\\missing: " + kMissing + "\n");
  ASSERT_EQ(Qreg({"export", key_, file_}).out, kDone);
  r = QregApart({"export", key_, "-"});
  EXPECT_EQ(r.out, Plain(FileText(file_)));
  EXPECT_EQ(r.err, "");
  r = QregApart({"add", key_, "/v", "v", "/d", "again"});  // exists, no terminal to ask
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.starts_with("ERROR: Value v of " + full_ + " exists")) << r.err;
}

#ifndef _WIN32
TEST_F(Tool, TheStoreComesFromEitherFormOfStore) {
  const std::string other = std::string(QREG_TEST_DIR) + "/cli-other.regstore";
  std::filesystem::remove(other);
  EXPECT_EQ(Qreg({"--store=" + other, "add", key_, "/v", "v", "/d", "elsewhere"}).out, kDone);
  EXPECT_EQ(Qreg({"query", key_, "/v", "v", "--store", other}).out,
            "\n" + full_ + "\n    v    REG_SZ    elsewhere\n\n");
  EXPECT_EQ(Qreg({"query", key_, "/v", "v"}).code, 1);  // not in the usual store
  EXPECT_EQ(Qreg({"query", key_, "--store="}).code, 1);
  for (const char* suffix : {"", "-wal", "-shm", "-counter"})
    std::filesystem::remove(other + suffix);
}

TEST_F(Tool, CommandsThatOnlyReadOrRemoveNeverCreateAStore) {
  const std::string folder = std::string(QREG_TEST_DIR) + "/no-such-folder";
  const std::string store = folder + "/missing.regstore";
  std::filesystem::remove_all(folder);
  for (const std::vector<std::string>& command : {std::vector<std::string>{"query", key_},
                                                  {"export", key_, file_},
                                                  {"compare", key_, key_ + "\\x"},
                                                  {"watch", key_, "/t", "10"},
                                                  {"delete", key_, "/f"}}) {
    std::vector<std::string> args = {"--store", store};
    args.insert(args.end(), command.begin(), command.end());
    const Result r = QregApart(args);
    EXPECT_EQ(r.code, 1) << command[0];
    EXPECT_EQ(r.err, "ERROR: The registry store " + store +
                         " does not exist (--store FILE or REGKEY_STORE chooses another).\n")
        << command[0];
    EXPECT_FALSE(std::filesystem::exists(folder)) << command[0];
  }
  EXPECT_EQ(Qreg({"--store", store, "add", key_}).out, kDone);
  EXPECT_TRUE(std::filesystem::exists(store));
  std::filesystem::remove_all(folder);
}

// The bash completion, sourced as bash does, with the built qreg on PATH.
TEST_F(Tool, BashCompletesOperationsOptionsTypesAndKeys) {
  if (std::system("command -v bash >/dev/null") != 0) GTEST_SKIP() << "no bash";
  Qreg({"add", key_ + "\\Alpha"});
  Qreg({"add", key_ + "\\beta"});
  const std::string script = std::string(QREG_TEST_DIR) + "/completion-test.sh";
  const std::string exe = QREG_EXE;
  WriteFile(script, "source '" QREG_COMPLETION
                    "'\n"
                    "PATH='" +
                        exe.substr(0, exe.rfind('/')) +
                        "':$PATH\n"
                        "t() { COMP_WORDS=(\"$@\"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
                        "COMPREPLY=(); _qreg; printf '%s|' \"${COMPREPLY[@]}\"; echo; }\n"
                        "t qreg comp\n"
                        "t qreg query \"'hkcu\"\n"
                        "t qreg query \"'HKCU\\x\" /t reg_ex\n"
                        "t qreg export x /\n"
                        "t qreg --store '" +
                        Store() + "' query \"'" + key_ + "\\\\\"\n");
  const Result r = Shell("bash '" + script + "'");
  EXPECT_EQ(r.out, "compare|\n'HKCU\\|\nREG_EXPAND_SZ|\n/y|/a|/reg:32|/reg:64|/?|\n'" + key_ +
                       "\\Alpha\\|'" + key_ + "\\beta\\|\n");
}
#endif

}  // namespace
}  // namespace qreg::test

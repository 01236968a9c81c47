// Runs the built qreg as a child process, as a person or a script would, and
// checks its output and exit code. Natively the child uses a store file of
// this test's own; under Wine it runs under Wine too, on Wine's registry.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "regfile/reg_file.h"
#include "support/scratch_key.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <thread>
#endif

namespace {

struct Result {
  int code;
  std::string out;
};

std::string Exe() {
  std::string exe = QREG_EXE;
#ifdef _WIN32
  if (exe.starts_with("/")) {  // a Unix path: Wine's Z: drive
    for (char& c : exe) c = c == '/' ? '\\' : c;
    exe = "Z:" + exe;
  }
#endif
  return exe;
}

std::string Plain(const std::string& out) {
  std::string text;
  for (char c : out)
    if (c != '\r') text += c;
  return text;
}

#ifdef _WIN32
// The C runtime's rules: backslashes are literal unless they precede a quote.
std::string Quote(const std::string& arg) {
  std::string quoted = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
    slashes = 0;
    quoted += c;
  }
  quoted.append(2 * slashes, '\\');
  return quoted + "\"";
}

// Standard output and error together; input from the file `input` names, else
// from the null device, so the child knows it may not ask.
Result Qreg(const std::vector<std::string>& args, const std::string& input = "") {
  std::string command = Quote(Exe());
  for (const std::string& arg : args) command += " " + Quote(arg);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) return {-1, "no pipe"};
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileA(input.empty() ? "NUL" : input.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = write;
  startup.hStdError = write;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(write);
  CloseHandle(nul);
  if (!started) {
    CloseHandle(read);
    return {-1, "cannot start " + command};
  }
  std::string out;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(read, buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
  CloseHandle(read);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return {static_cast<int>(code), Plain(out)};
}
#else
std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Store() { return std::string(QREG_TEST_DIR) + "/qreg_tool_tests.regstore"; }

// Standard output and error together; input from the file `input` names, else
// from the null device, so the child knows it may not ask.
Result Qreg(const std::vector<std::string>& args, const std::string& input = "") {
  std::string command = Quote(Exe()) + " --store " + Quote(Store());
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " <" + Quote(input.empty() ? "/dev/null" : input) + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, "cannot start " + command};
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Plain(out)};
}
#endif

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

const char kDone[] = "The operation completed successfully.\n";
const char kMissing[] = "The system was unable to find the specified registry key or value.";

class Tool : public ::testing::Test {
 protected:
  Tool() { std::remove(file_.c_str()); }
  ~Tool() override { std::remove(file_.c_str()); }
  regkey::test::ScratchKey scratch_{"qreg"};
  std::string key_ = "HKCU\\" + scratch_.path();
  std::string full_ = "HKEY_CURRENT_USER\\" + scratch_.path();
  std::string file_ = std::string(QREG_TEST_DIR) + "/" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".reg";
};

TEST_F(Tool, AddThenQueryPrintsEveryTypeAsRegDoes) {
  EXPECT_EQ(Qreg({"add", key_ + "\\sub"}).out, kDone);
  EXPECT_EQ(Qreg({"add", key_, "/ve", "/d", "def"}).code, 0);
  EXPECT_EQ(Qreg({"ADD", key_, "-v", "s", "/d", "a\\b\"c"}).code, 0);
  EXPECT_EQ(Qreg({"add", key_, "/v", "m", "/t", "REG_MULTI_SZ", "/d", "x#y", "/s", "#"}).code, 0);
  EXPECT_EQ(Qreg({"add", key_, "/v", "d", "/t", "reg_dword", "/d", "0x1F"}).code, 0);
  EXPECT_EQ(Qreg({"add", key_, "/v", "q", "/t", "REG_QWORD", "/d", "31"}).code, 0);
  EXPECT_EQ(Qreg({"add", key_, "/v", "b", "/t", "REG_BINARY", "/d", "0aFF1"}).code, 0);
  EXPECT_EQ(Qreg({"add", key_, "/v", "n", "/t", "REG_NONE"}).code, 0);

  const Result q = Qreg({"query", key_});
  EXPECT_EQ(q.code, 0);
  // Line order follows the registry's listing order, which differs between
  // the stores; compare the lines as a set apart from the frame.
  for (const char* line : {"    (Default)    REG_SZ    def\n", "    s    REG_SZ    a\\b\"c\n",
                           "    m    REG_MULTI_SZ    x\\0y\n", "    d    REG_DWORD    0x1f\n",
                           "    q    REG_QWORD    0x1f\n", "    b    REG_BINARY    00AFF1\n",
                           "    n    REG_NONE    \n"})
    EXPECT_NE(q.out.find(line), std::string::npos) << line << q.out;
  EXPECT_TRUE(q.out.starts_with("\n" + full_ + "\n    ")) << q.out;
  EXPECT_TRUE(q.out.ends_with("\n\n" + full_ + "\\sub\n")) << q.out;

  EXPECT_EQ(Qreg({"query", key_, "/v", "d"}).out,
            "\n" + full_ + "\n    d    REG_DWORD    0x1f\n\n");
  EXPECT_EQ(Qreg({"query", key_ + "\\sub", "/ve"}).out,
            "\n" + full_ + "\\sub\n    (Default)    REG_SZ    (value not set)\n\n");
  EXPECT_EQ(Qreg({"query", key_, "/s", "/t", "REG_DWORD"}).out,
            "\n" + full_ + "\n    d    REG_DWORD    0x1f\n\n" + full_ + "\\sub\n\n");
}

TEST_F(Tool, QueryOneValueThroughTheSubtree) {
  Qreg({"add", key_, "/v", "x", "/d", "top"});
  Qreg({"add", key_ + "\\a", "/v", "x", "/d", "A"});
  Qreg({"add", key_ + "\\a\\deep", "/v", "X", "/t", "REG_DWORD", "/d", "5"});
  Qreg({"add", key_ + "\\b", "/v", "y", "/d", "B"});
  Qreg({"add", key_ + "\\b", "/ve", "/d", "bdef"});
  Qreg({"add", key_ + "\\c"});

  Result r = Qreg({"query", key_, "/v", "x", "/s"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "\n" + full_ + "\n    x    REG_SZ    top\n\n" + full_ +
                       "\\a\n    x    REG_SZ    A\n\n" + full_ +
                       "\\a\\deep\n    x    REG_DWORD    0x5\n\n"
                       "End of search: 3 match(es) found.\n");
  EXPECT_EQ(Qreg({"query", key_, "/ve", "/s"}).out, "\n" + full_ +
                                                        "\\b\n    (Default)    REG_SZ    bdef\n\n"
                                                        "End of search: 1 match(es) found.\n");
  EXPECT_EQ(Qreg({"query", key_, "/v", "x", "/s", "/t", "REG_DWORD"}).out,
            "\n" + full_ +
                "\\a\\deep\n    x    REG_DWORD    0x5\n\n"
                "End of search: 1 match(es) found.\n");
  r = Qreg({"query", key_, "/v", "nope", "/s"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "\nEnd of search: 0 match(es) found.\n");
  r = Qreg({"query", key_ + "\\missing", "/v", "x", "/s"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "ERROR: Cannot open " + full_ + "\\missing: " + kMissing + "\n");
}

TEST_F(Tool, FailuresSayWhatFailedAndExitOne) {
  Result r = Qreg({"query", key_ + "\\missing"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "ERROR: Cannot open " + full_ + "\\missing: " + kMissing + "\n");
  EXPECT_EQ(Qreg({"add", key_, "/v", "x"}).code, 0);
  r = Qreg({"query", key_, "/v", "nope"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find(kMissing), std::string::npos);
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"query", "HKXX\\a"},
        {"frob"},
        {"add", key_, "/t", "REG_FOO"},
        {"add", key_, "/v", "d", "/t", "REG_DWORD", "/d", "12abc"},
        {"query", key_, "/v"},
        {"delete", "HKCU"}}) {
    r = Qreg(bad);
    EXPECT_EQ(r.code, 1) << bad[0];
    EXPECT_TRUE(r.out.starts_with("ERROR: ")) << r.out;
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line: " << r.out;
  }
  // Nothing was written by the refused add.
  EXPECT_EQ(Qreg({"query", key_, "/v", "d"}).code, 1);
}

TEST_F(Tool, OverwriteAndDeleteRefuseWithoutATerminalUnlessForced) {
  EXPECT_EQ(Qreg({"add", key_, "/v", "v", "/d", "one"}).code, 0);
  Result r = Qreg({"add", key_, "/v", "v", "/d", "two"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.out.starts_with("ERROR: Value v of " + full_ + " exists")) << r.out;
  EXPECT_NE(Qreg({"query", key_, "/v", "v"}).out.find("REG_SZ    one\n"), std::string::npos);
  EXPECT_EQ(Qreg({"add", key_, "/v", "v", "/d", "two", "/f"}).code, 0);
  EXPECT_NE(Qreg({"query", key_, "/v", "v"}).out.find("REG_SZ    two\n"), std::string::npos);

  EXPECT_EQ(Qreg({"delete", key_, "/v", "v"}).code, 1);
  EXPECT_EQ(Qreg({"delete", key_, "/v", "v", "/f"}).out, kDone);
  EXPECT_EQ(Qreg({"query", key_, "/v", "v"}).code, 1);
  EXPECT_EQ(Qreg({"delete", key_, "/v", "v", "/f"}).code, 1);  // already gone
}

TEST_F(Tool, DeleteAllValuesOrTheWholeTree) {
  Qreg({"add", key_, "/ve", "/d", "only default"});
  Qreg({"add", key_ + "\\a\\b", "/v", "x", "/d", "1"});
  EXPECT_EQ(Qreg({"delete", key_, "/va", "/f"}).code, 0);
  EXPECT_EQ(Qreg({"query", key_}).out, "\n" + full_ + "\\a\n");  // default gone, subkey kept
  EXPECT_EQ(Qreg({"delete", key_, "/f"}).code, 0);
  EXPECT_EQ(Qreg({"query", key_}).code, 1);
  EXPECT_EQ(Qreg({"delete", key_, "/f"}).code, 1);
}

TEST_F(Tool, CopyIntoItsOwnSubtreeCopiesOnce) {
  Qreg({"add", key_ + "\\src\\child", "/v", "c", "/d", "1"});
  Qreg({"add", key_ + "\\src", "/v", "top", "/t", "REG_DWORD", "/d", "7"});
  EXPECT_EQ(Qreg({"copy", key_ + "\\src", key_ + "\\src\\child\\copy", "/s", "/f"}).code, 0);
  EXPECT_EQ(Qreg({"query", key_ + "\\src\\child\\copy\\child", "/v", "c"}).code, 0);
  EXPECT_EQ(Qreg({"query", key_ + "\\src\\child\\copy\\child\\copy"}).code, 1);
  EXPECT_NE(Qreg({"query", key_ + "\\src\\child\\copy", "/v", "top"}).out.find("0x7"),
            std::string::npos);
}

TEST_F(Tool, ExportImportRoundTripsAndBadFilesChangeNothing) {
  Qreg({"add", key_ + "\\k", "/v", "b", "/t", "REG_BINARY", "/d", std::string(200, 'a')});
  Qreg({"add", key_ + "\\k", "/v", "e", "/t", "REG_BINARY"});
  Qreg({"add", key_ + "\\k", "/v", "q\"uote", "/d", "back\\slash"});
  Qreg({"add", key_ + "\\k\\deeper", "/v", "m", "/t", "REG_MULTI_SZ", "/d", "a\\0b"});
  EXPECT_EQ(Qreg({"export", key_, file_}).code, 0);
  const std::string exported = FileText(file_);
  EXPECT_TRUE(exported.starts_with("REGEDIT4\r\n\r\n[" + full_ + "]\r\n")) << exported;
  EXPECT_NE(exported.find("\"q\\\"uote\"=\"back\\\\slash\"\r\n"), std::string::npos);
  EXPECT_EQ(Qreg({"export", key_, file_}).code, 1);  // exists, and no terminal to ask
  EXPECT_EQ(Qreg({"export", key_, file_, "/y"}).code, 0);

  const std::string before = Qreg({"query", key_, "/s"}).out;
  EXPECT_EQ(Qreg({"delete", key_, "/f"}).code, 0);
  EXPECT_EQ(Qreg({"import", file_}).out, kDone);
  EXPECT_EQ(Qreg({"query", key_, "/s"}).out, before);

  // A good first section and a bad line later: nothing at all is written.
  WriteFile(file_, "REGEDIT4\r\n\r\n[" + full_ + "\\new]\r\n\"x\"=\"1\"\r\n[-" + full_ +
                       "\\k]\r\n\"y\"=hex:0g\r\n");
  const Result r = Qreg({"import", file_});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("line 6"), std::string::npos) << r.out;
  EXPECT_EQ(Qreg({"query", key_ + "\\new"}).code, 1);
  EXPECT_EQ(Qreg({"query", key_, "/s"}).out, before);

  WriteFile(file_, "REGEDIT4\r\n[-" + full_ + "\\k\\deeper]\r\n[" + full_ + "\\k]\r\n\"b\"=-\r\n");
  EXPECT_EQ(Qreg({"import", file_}).code, 0);
  EXPECT_EQ(Qreg({"query", key_ + "\\k\\deeper"}).code, 1);
  EXPECT_EQ(Qreg({"query", key_ + "\\k", "/v", "b"}).code, 1);
}

TEST_F(Tool, ImportFailingMidwayUndoesWhatItChanged) {
  Qreg({"add", key_ + "\\keep", "/v", "s", "/d", "old"});
  Qreg({"add", key_ + "\\keep", "/v", "d", "/t", "REG_DWORD", "/d", "7"});
  Qreg({"add", key_ + "\\keep", "/v", "gone", "/t", "REG_BINARY", "/d", "00ff10"});
  Qreg({"add", key_ + "\\tree\\sub", "/v", "m", "/t", "REG_MULTI_SZ", "/d", "a\\0b"});
  Qreg({"add", key_ + "\\tree\\sub", "/v", "e", "/t", "REG_EXPAND_SZ", "/d", "%x%"});
  Qreg({"add", key_ + "\\tree\\sub", "/v", "n", "/t", "REG_NONE"});
  Qreg({"add", key_ + "\\tree\\sub\\empty"});
  const std::string before = Qreg({"query", key_, "/s"}).out;
  ASSERT_EQ(Qreg({"export", key_, file_}).code, 0);
  const std::string exported = FileText(file_);

  // A change the registry refuses, after changes of every kind. Wine and
  // Windows refuse a lasting key below the volatile HKLM\HARDWARE (or deny
  // access to it); the embedded registry refuses a key deeper than 512
  // levels, as Windows does (Wine takes it).
#ifdef _WIN32
  const std::string refused =
      "[HKEY_LOCAL_MACHINE\\HARDWARE\\" + scratch_.path() + "]\r\n\"x\"=\"1\"\r\n";
  const std::string failure = "ERROR: Cannot create HKEY_LOCAL_MACHINE\\HARDWARE\\";
#else
  std::string deep = full_ + "\\keep";
  for (int level = 0; level < 520; ++level) deep += "\\d";
  const std::string refused = "[" + deep + "]\r\n\"x\"=\"1\"\r\n";
  const std::string failure = "ERROR: Cannot create " + full_ + "\\keep\\d\\d";
#endif
  WriteFile(file_, "REGEDIT4\r\n\r\n[" + full_ + "\\keep]\r\n\"s\"=\"new\"\r\n\"d\"=dword:9\r\n" +
                       "\"added\"=\"x\"\r\n\"gone\"=-\r\n@=\"default\"\r\n[-" + full_ +
                       "\\tree]\r\n[" + full_ + "\\fresh\\child]\r\n\"c\"=\"1\"\r\n[" + full_ +
                       "\\tree]\r\n\"again\"=\"1\"\r\n" + refused);
  const Result r = Qreg({"import", file_});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.out.starts_with(failure)) << r.out;
  EXPECT_NE(r.out.find("the import was undone: "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line: " << r.out;

  EXPECT_EQ(Qreg({"query", key_, "/s"}).out, before);
  EXPECT_EQ(Qreg({"query", key_ + "\\fresh"}).code, 1);
  EXPECT_EQ(Qreg({"export", key_, file_, "/y"}).code, 0);
  EXPECT_EQ(FileText(file_), exported);
}

TEST_F(Tool, WatchTimesOutWithoutAChange) {
  Qreg({"add", key_});
  const Result r = Qreg({"watch", key_, "/t", "200"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("ERROR: No change under " + full_ + " within 200 ms"), std::string::npos)
      << r.out;
  EXPECT_EQ(Qreg({"watch", key_ + "\\missing", "/t", "10"}).code, 1);
}

TEST_F(Tool, KeyNamesWithBlanksBracketsQuotesAndHighBytesSurviveExportAndImport) {
  const std::vector<std::string> names = {" lead", "trail ", "tab\t", " ",      "a]b",
                                          "a[b",   "[x]",    "q\"uo", "caf\xe9"};
  for (const std::string& name : names)
    ASSERT_EQ(Qreg({"add", key_ + "\\" + name, "/v", "v", "/d", "<" + name + ">"}).code, 0) << name;
  Qreg({"add", key_ + "\\trail", "/v", "v", "/d", "plain"});
  const std::string before = Qreg({"query", key_, "/s"}).out;
  for (const std::string& name : names)
    EXPECT_NE(before.find(full_ + "\\" + name + "\n    v    REG_SZ    <" + name + ">\n"),
              std::string::npos)
        << name << before;
  ASSERT_EQ(Qreg({"export", key_, file_}).code, 0);
  ASSERT_EQ(Qreg({"delete", key_, "/f"}).code, 0);
  EXPECT_EQ(Qreg({"import", file_}).out, kDone);
  EXPECT_EQ(Qreg({"query", key_, "/s"}).out, before);
  EXPECT_EQ(Qreg({"query", key_ + "\\trail", "/v", "v"}).out,
            "\n" + full_ + "\\trail\n    v    REG_SZ    plain\n\n");
}

// A chain of keys below the scratch key down to Windows' limit of 512 levels.
TEST_F(Tool, TreeCommandsWalkAKeyAtTheDepthLimit) {
  int scratchDepth = 1;
  for (char c : scratch_.path()) scratchDepth += c == '\\';
  const int length = 512 - scratchDepth;
  std::string chain;
  for (int level = 0; level < length; ++level) chain += level == 0 ? "d" : "\\d";
  const std::string deepest = key_ + "\\" + chain;
  ASSERT_EQ(Qreg({"add", deepest, "/v", "bottom", "/d", "512"}).code, 0);
#ifndef _WIN32
  // Wine's registry takes deeper keys; the embedded one refuses them as Windows does.
  const Result tooDeep = Qreg({"add", deepest + "\\e"});
  EXPECT_EQ(tooDeep.code, 1);
  EXPECT_EQ(tooDeep.out, "ERROR: Cannot create " + full_ + "\\" + chain +
                             "\\e: The filename or extension is too long.\n");
#endif
  const Result tree = Qreg({"query", key_, "/s"});
  EXPECT_EQ(tree.code, 0);
  size_t headers = 0;
  for (size_t at = 0; (at = tree.out.find("\n" + full_, at)) != std::string::npos; ++at) ++headers;
  EXPECT_EQ(headers, static_cast<size_t>(length));  // the top key has no values: no header
  EXPECT_NE(tree.out.find("    bottom    REG_SZ    512\n"), std::string::npos);
  EXPECT_EQ(Qreg({"query", key_, "/v", "bottom", "/s"}).out,
            "\n" + full_ + "\\" + chain + "\n    bottom    REG_SZ    512\n\n" +
                "End of search: 1 match(es) found.\n");

  ASSERT_EQ(Qreg({"export", key_, file_}).code, 0);
  ASSERT_EQ(Qreg({"delete", key_, "/f"}).out, kDone);
  EXPECT_EQ(Qreg({"query", key_}).code, 1);
  ASSERT_EQ(Qreg({"import", file_}).out, kDone);
  EXPECT_EQ(Qreg({"query", key_, "/s"}).out, tree.out);

  std::string copied = key_ + "\\e";
  for (int level = 1; level < length; ++level) copied += "\\d";
  ASSERT_EQ(Qreg({"copy", key_ + "\\d", key_ + "\\e", "/s", "/f"}).out, kDone);
  EXPECT_EQ(Qreg({"query", copied, "/v", "bottom"}).code, 0);
  ASSERT_EQ(Qreg({"delete", key_, "/f"}).out, kDone);
  EXPECT_EQ(Qreg({"query", key_}).code, 1);
}

TEST_F(Tool, ExportToStandardOutputAndImportFromStandardInput) {
  Qreg({"add", key_ + "\\k", "/v", "s", "/d", "text"});
  ASSERT_EQ(Qreg({"export", key_, file_}).code, 0);
  const Result out = Qreg({"export", key_, "-"});
  EXPECT_EQ(out.code, 0);
  EXPECT_EQ(out.out, Plain(FileText(file_)));  // the file's text and nothing else

  ASSERT_EQ(Qreg({"delete", key_, "/f"}).code, 0);
  EXPECT_EQ(Qreg({"import", "-"}, file_).out, kDone);
  EXPECT_EQ(Qreg({"query", key_ + "\\k", "/v", "s"}).out,
            "\n" + full_ + "\\k\n    s    REG_SZ    text\n\n");
  WriteFile(file_, "REGEDIT4\r\n[" + full_ + "\\k]\r\n\"s\"=hex:zz\r\n");
  EXPECT_EQ(Qreg({"import", "-"}, file_).out,
            "ERROR: standard input line 3: bad hex byte near 'z'; nothing imported.\n");
}

#ifndef _WIN32
bool IsLink(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

TEST_F(Tool, ExportWritesThroughLinksAndReplacesOnlyThePlainFileKeepingItsMode) {
  Qreg({"add", key_, "/v", "s", "/d", "text"});
  const std::string dir = std::string(QREG_TEST_DIR) + "/export-links";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  WriteFile(dir + "/real.reg", "old");
  chmod((dir + "/real.reg").c_str(), 0640);
  ASSERT_EQ(symlink("real.reg", (dir + "/link.reg").c_str()), 0);
  ASSERT_EQ(symlink("link.reg", (dir + "/link2.reg").c_str()), 0);
  ASSERT_EQ(symlink("new.reg", (dir + "/dangling.reg").c_str()), 0);

  EXPECT_EQ(Qreg({"export", key_, dir + "/link2.reg"}).code, 1);  // exists: asks, cannot
  EXPECT_EQ(FileText(dir + "/real.reg"), "old");
  EXPECT_EQ(Qreg({"export", key_, dir + "/link2.reg", "/y"}).out, kDone);
  EXPECT_TRUE(IsLink(dir + "/link.reg") && IsLink(dir + "/link2.reg"));
  EXPECT_TRUE(FileText(dir + "/real.reg").starts_with("REGEDIT4\r\n"))
      << FileText(dir + "/real.reg");
  struct stat st {};
  ASSERT_EQ(stat((dir + "/real.reg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  EXPECT_EQ(Qreg({"export", key_, dir + "/dangling.reg"}).out, kDone);
  EXPECT_TRUE(IsLink(dir + "/dangling.reg"));
  EXPECT_EQ(FileText(dir + "/new.reg"), FileText(dir + "/real.reg"));
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                          std::filesystem::directory_iterator()),
            5);
}

TEST_F(Tool, ExportIntoAPipeOrDevStdoutWritesInPlace) {
  Qreg({"add", key_, "/v", "s", "/d", "text"});
  ASSERT_EQ(Qreg({"export", key_, file_}).code, 0);
  const std::string fifo = std::string(QREG_TEST_DIR) + "/export.fifo";
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string read;
  std::thread reader([&] { read = FileText(fifo); });
  EXPECT_EQ(Qreg({"export", key_, fifo}).out, kDone);
  reader.join();
  EXPECT_EQ(read, FileText(file_));
  struct stat st {};
  EXPECT_TRUE(lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
  std::remove(fifo.c_str());

  const bool wasLink = IsLink("/dev/stdout");
  const Result out = Qreg({"export", key_, "/dev/stdout"});
  EXPECT_EQ(out.code, 0);
  EXPECT_EQ(out.out, Plain(FileText(file_)));
  EXPECT_EQ(IsLink("/dev/stdout"), wasLink);
}

// The child's own peak memory, read by waiting for it.
TEST_F(Tool, ImportStopsReadingAnEndlessLineAtTheLimitWithBoundedMemory) {
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  const std::string output = std::string(QREG_TEST_DIR) + "/endless-line.out";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(input[0], 0);
    close(input[0]);
    close(input[1]);
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(out, 2);
    execl(QREG_EXE, "qreg", "--store", Store().c_str(), "import", "-", nullptr);
    _exit(127);
  }
  close(input[0]);
  void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
  const std::string head = "REGEDIT4\r\n\r\n[" + full_ + "]\r\n\"s\"=\"";
  size_t written = 0;
  bool open = write(input[1], head.data(), head.size()) > 0;
  const std::string filler(1 << 20, 'a');
  while (open && written < (1ull << 30)) {
    const ssize_t n = write(input[1], filler.data(), filler.size());
    open = n > 0;
    written += n > 0 ? static_cast<size_t>(n) : 0;
  }
  close(input[1]);
  signal(SIGPIPE, previous);
  int status = 0;
  struct rusage usage {};
  ASSERT_EQ(wait4(child, &status, 0, &usage), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(FileText(output), "ERROR: standard input line 4: a line longer than " +
                                  std::to_string(qreg::kMaxLineLength) +
                                  " characters; nothing imported.\n");
  EXPECT_LT(written, 100u << 20);           // it stopped reading
  EXPECT_LT(usage.ru_maxrss, 256L * 1024);  // KiB
  EXPECT_EQ(Qreg({"query", key_}).code, 1);
}
#endif

}  // namespace

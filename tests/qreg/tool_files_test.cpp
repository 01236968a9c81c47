// qreg export and import: the .reg formats, key names kept exactly, where
// the text goes (files through links, pipes, standard output) and where it
// comes from (standard input), the limits, and all-or-nothing imports.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/qreg/qreg_runner.h"
#include "tools/qreg/src/regfile/reg_file.h"

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#endif

namespace qreg::test {
namespace {

TEST_F(Tool, ExportImportRoundTripsAndBadFilesChangeNothing) {
  Qreg({"add", key_ + "\\k", "/v", "b", "/t", "REG_BINARY", "/d", std::string(200, 'a')});
  Qreg({"add", key_ + "\\k", "/v", "e", "/t", "REG_BINARY"});
  Qreg({"add", key_ + "\\k", "/v", "q\"uote", "/d", "back\\slash"});
  Qreg({"add", key_ + "\\k\\deeper", "/v", "m", "/t", "REG_MULTI_SZ", "/d", "a\\0b"});
  EXPECT_EQ(Qreg({"export", key_, file_}).code, 0);
  const std::string exported = Utf16Text(FileText(file_));
  EXPECT_TRUE(
      exported.starts_with("Windows Registry Editor Version 5.00\r\n\r\n[" + full_ + "]\r\n"))
      << exported;
  EXPECT_NE(exported.find("\"q\\\"uote\"=\"back\\\\slash\"\r\n"), std::string::npos);
  EXPECT_NE(exported.find("\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"), std::string::npos);
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

TEST_F(Tool, KeyNamesWithBlanksBracketsQuotesAndHighBytesSurviveExportAndImport) {
#ifdef _WIN32
  const std::string high = "caf\xe9";  // the ANSI code page
#else
  const std::string high = "caf\xc3\xa9";  // UTF-8
#endif
  const std::vector<std::string> names = {" lead", "trail ", "tab\t", " ", "a]b",
                                          "a[b",   "[x]",    "q\"uo", high};
  for (const std::string& name : names)
    ASSERT_EQ(Qreg({"add", key_ + "\\" + name, "/v", "v", "/d", "<" + name + ">"}).code, 0) << name;
  Qreg({"add", key_ + "\\trail", "/v", "v", "/d", "plain"});
  const std::string before = Qreg({"query", key_, "/s"}).out;
  for (const std::string& name : names)
    EXPECT_NE(before.find(full_ + "\\" + name + "\n    v    REG_SZ    <" + name + ">\n"),
              std::string::npos)
        << name << before;
  for (const char* format : {"", "/a"}) {
    std::vector<std::string> args = {"export", key_, file_, "/y"};
    if (*format != '\0') args.push_back(format);
    ASSERT_EQ(Qreg(args).code, 0) << format;
    ASSERT_EQ(Qreg({"delete", key_, "/f"}).code, 0);
    EXPECT_EQ(Qreg({"import", file_}).out, kDone);
    EXPECT_EQ(Qreg({"query", key_, "/s"}).out, before) << format;
  }
  EXPECT_EQ(Qreg({"query", key_ + "\\trail", "/v", "v"}).out,
            "\n" + full_ + "\\trail\n    v    REG_SZ    plain\n\n");
}

#ifndef _WIN32
// Bytes that are no UTF-8 have no UTF-16 form: version 5 refuses them and
// names the way out; REGEDIT4 keeps them as hex bytes.
TEST_F(Tool, DataThatIsNoTextExportsAsRegedit4Bytes) {
  Qreg({"add", key_, "/v", "latin1", "/d", "caf\xe9"});
  const Result refused = Qreg({"export", key_, file_});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.out.find("/a exports REGEDIT4"), std::string::npos) << refused.out;
  EXPECT_EQ(Qreg({"export", key_, file_, "/a"}).out, kDone);
  EXPECT_NE(FileText(file_).find("\"latin1\"=hex(1):63,61,66,e9,00\r\n"), std::string::npos)
      << FileText(file_);
  ASSERT_EQ(Qreg({"delete", key_, "/f"}).code, 0);
  EXPECT_EQ(Qreg({"import", file_}).out, kDone);
  EXPECT_EQ(Qreg({"query", key_, "/v", "latin1"}).out,
            "\n" + full_ + "\n    latin1    REG_SZ    caf\xe9\n\n");
}
#endif

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
  EXPECT_TRUE(Utf16Text(FileText(dir + "/real.reg")).starts_with("Windows Registry Editor"));
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
}  // namespace qreg::test

// qreg's commands on keys and values: add, query, delete, copy, and the tree
// walks at the registry's depth limit.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/qreg/qreg_runner.h"

namespace qreg::test {
namespace {

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

TEST_F(Tool, ARootAloneExports) {
  Qreg({"add", key_, "/v", "v", "/d", "1"});
  ASSERT_EQ(Qreg({"export", "HKCU", file_}).out, kDone);
  const std::string text = Utf16Text(FileText(file_));
  EXPECT_NE(text.find("\r\n[HKEY_CURRENT_USER]\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n[" + full_ + "]\r\n\"v\"=\"1\"\r\n"), std::string::npos);
}

#ifndef _WIN32
// HKEY_CURRENT_CONFIG of the tests' own store, which no other test uses.
TEST_F(Tool, ARootAloneIsCopiedEmptiedAndHoldsValues) {
  ASSERT_EQ(Qreg({"delete", "HKCC", "/f"}).out, kDone);
  EXPECT_EQ(Qreg({"query", "HKCC"}).out, "\n");
  Qreg({"add", "HKCC\\qreg-root", "/v", "v", "/d", "2"});
  EXPECT_EQ(Qreg({"add", "HKCC", "/v", "top", "/d", "3"}).out, kDone);
  ASSERT_EQ(Qreg({"copy", "HKCC", key_ + "\\cc", "/s", "/f"}).out, kDone);
  EXPECT_EQ(Qreg({"query", key_ + "\\cc", "/s"}).out,
            "\n" + full_ + "\\cc\n    top    REG_SZ    3\n\n" + full_ +
                "\\cc\\qreg-root\n    v    REG_SZ    2\n\n");
  EXPECT_EQ(Qreg({"delete", "HKCC", "/va", "/f"}).out, kDone);
  EXPECT_EQ(Qreg({"query", "HKCC"}).out, "\nHKEY_CURRENT_CONFIG\\qreg-root\n");
  WriteFile(file_, "REGEDIT4\r\n[HKEY_CURRENT_CONFIG]\r\n\"x\"=\"y\"\r\n");
  EXPECT_EQ(Qreg({"import", file_}).out, kDone);
  EXPECT_EQ(Qreg({"query", "HKCC", "/v", "x"}).out,
            "\nHKEY_CURRENT_CONFIG\n    x    REG_SZ    y\n\n");
  EXPECT_EQ(Qreg({"delete", "HKCC", "/f"}).out, kDone);
  EXPECT_EQ(Qreg({"query", "HKCC"}).out, "\n");
}
#endif

}  // namespace
}  // namespace qreg::test

// qreg query's options as reg documents them: /f searches with /k, /d, /v,
// /c, /e and /t; /z, /se; roots alone; and --json for scripts.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/qreg/qreg_runner.h"

namespace qreg::test {
namespace {

// Values are made in the order of their names, which is how Wine lists them
// (Windows and the embedded registry list them as made).
class Search : public Tool {
 protected:
  Search() {
    Qreg({"add", key_, "/v", "count", "/t", "REG_DWORD", "/d", "7"});
    Qreg({"add", key_, "/v", "greeting", "/d", "Hello System"});
    Qreg({"add", key_ + "\\Alpha", "/v", "other", "/d", "nothing"});
    Qreg({"add", key_ + "\\Alpha", "/v", "path", "/d", "C:\\system32"});
    Qreg({"add", key_ + "\\Alpha\\SystemDeep"});
    Qreg({"add", key_ + "\\beta", "/v", "bin", "/t", "REG_BINARY", "/d", "0F0E"});
    Qreg({"add", key_ + "\\beta", "/v", "SYSTEMNAME", "/d", "x"});
  }
  std::string Found(const std::vector<std::string>& options) {
    std::vector<std::string> args = {"query", key_};
    args.insert(args.end(), options.begin(), options.end());
    const Result r = Qreg(args);
    EXPECT_EQ(r.code, 0) << r.out;
    return r.out;
  }
  std::string Block(const std::string& key, const std::string& values = "") {
    return full_ + key + "\n" + values + "\n";
  }
};

TEST_F(Search, FindsKeyNamesValueNamesAndDataWithoutRegardToCase) {
  EXPECT_EQ(Found({"/f", "system", "/s"}),
            "\n" + Block("", "    greeting    REG_SZ    Hello System\n") +
                Block("\\Alpha", "    path    REG_SZ    C:\\system32\n") +
                Block("\\Alpha\\SystemDeep") + Block("\\beta", "    SYSTEMNAME    REG_SZ    x\n") +
                "End of search: 4 match(es) found.\n");
}

TEST_F(Search, KDAndVNarrowWhereItLooks) {
  EXPECT_EQ(Found({"/f", "system", "/s", "/k"}),
            "\n" + Block("\\Alpha\\SystemDeep") + "End of search: 1 match(es) found.\n");
  EXPECT_EQ(Found({"/f", "system", "/s", "/d"}),
            "\n" + Block("", "    greeting    REG_SZ    Hello System\n") +
                Block("\\Alpha", "    path    REG_SZ    C:\\system32\n") +
                "End of search: 2 match(es) found.\n");
  EXPECT_EQ(Found({"/f", "system", "/s", "/v"}),
            "\n" + Block("\\beta", "    SYSTEMNAME    REG_SZ    x\n") +
                "End of search: 1 match(es) found.\n");
  EXPECT_EQ(Found({"/f", "0F", "/s", "/d", "/t", "REG_BINARY"}),
            "\n" + Block("\\beta", "    bin    REG_BINARY    0F0E\n") +
                "End of search: 1 match(es) found.\n");
}

TEST_F(Search, CaseExactMatchesAndTheTopKeyAlone) {
  EXPECT_EQ(Found({"/f", "System", "/s", "/c"}),
            "\n" + Block("", "    greeting    REG_SZ    Hello System\n") +
                Block("\\Alpha\\SystemDeep") + "End of search: 2 match(es) found.\n");
  EXPECT_EQ(Found({"/f", "x", "/s", "/e"}), "\n" +
                                                Block("\\beta", "    SYSTEMNAME    REG_SZ    x\n") +
                                                "End of search: 1 match(es) found.\n");
  EXPECT_EQ(Found({"/f", "S?stem*", "/s", "/e", "/k"}),
            "\n" + Block("\\Alpha\\SystemDeep") + "End of search: 1 match(es) found.\n");
  // Without /s: the key's own values and its subkeys' names.
  EXPECT_EQ(Found({"/f", "a"}),
            "\n" + Block("\\Alpha") + Block("\\beta") + "End of search: 2 match(es) found.\n");
  EXPECT_EQ(Found({"/f", "nomatch", "/s"}), "\nEnd of search: 0 match(es) found.\n");
}

TEST_F(Search, OptionsThatNeedASearchAreRefusedWithoutOne) {
  for (const char* option : {"/k", "/d", "/c", "/e", "/v"}) {
    const Result r = Qreg({"query", key_, option});
    EXPECT_EQ(r.code, 1) << option;
    EXPECT_TRUE(r.out.starts_with("ERROR: Invalid syntax: ")) << r.out;
  }
}

TEST_F(Search, TypesNumbersAndSeparators) {
  Qreg({"add", key_, "/v", "list", "/t", "REG_MULTI_SZ", "/d", "a\\0b"});
  EXPECT_EQ(Qreg({"query", key_, "/v", "count", "/z"}).out,
            "\n" + Block("", "    count    REG_DWORD (4)    0x7\n"));
  EXPECT_EQ(Qreg({"query", key_, "/v", "list", "/se", "#"}).out,
            "\n" + Block("", "    list    REG_MULTI_SZ    a#b\n"));
  const std::string both = Qreg({"query", key_, "/t", "REG_DWORD,REG_MULTI_SZ"}).out;
  EXPECT_NE(both.find("    count    REG_DWORD    0x7\n"), std::string::npos) << both;
  EXPECT_NE(both.find("    list    REG_MULTI_SZ    a\\0b\n"), std::string::npos) << both;
  EXPECT_EQ(both.find("greeting"), std::string::npos) << both;
  EXPECT_EQ(Qreg({"query", key_, "/se", "##"}).code, 1);
}

TEST_F(Search, JsonLinesForKeysValuesAndSearches) {
  const std::string json = Qreg({"query", key_, "--json"}).out;
  std::string key = full_;
  for (size_t at = 0; (at = key.find('\\', at)) != std::string::npos; at += 2)
    key.insert(at, 1, '\\');
  EXPECT_EQ(json, "{\"key\":\"" + key +
                      "\",\"values\":[{\"name\":\"count\",\"type\":\"REG_DWORD\",\"data\":7},"
                      "{\"name\":\"greeting\",\"type\":\"REG_SZ\",\"data\":\"Hello System\"}]}\n"
                      "{\"key\":\"" +
                      key + "\\\\Alpha\"}\n{\"key\":\"" + key + "\\\\beta\"}\n");
  EXPECT_EQ(
      Qreg({"query", key_ + "\\beta", "/v", "bin", "--json"}).out,
      "{\"key\":\"" + key +
          "\\\\beta\",\"values\":[{\"name\":\"bin\",\"type\":\"REG_BINARY\",\"hex\":\"0F0E\"}]}\n");
  EXPECT_EQ(Qreg({"query", key_, "/f", "deep", "/k", "/s", "--json"}).out,
            "{\"key\":\"" + key + "\\\\Alpha\\\\SystemDeep\"}\n{\"matches\":1}\n");
}

TEST_F(Tool, ARootAloneIsAKeyToo) {
  Qreg({"add", key_});
  const Result r = Qreg({"query", "HKCU"});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.out.starts_with("\n")) << r.out;
  EXPECT_NE(r.out.find("\nHKEY_CURRENT_USER\\Software\n"), std::string::npos) << r.out;
  EXPECT_EQ(Qreg({"query", "HKEY_CURRENT_USER", "/f", scratch_.path().substr(9), "/k"}).out,
            "\nEnd of search: 0 match(es) found.\n");  // not directly below the root
  EXPECT_NE(Qreg({"query", "HKEY_CURRENT_USER\\Software", "/f", scratch_.path().substr(9), "/k"})
                .out.find("End of search: 1 match(es) found."),
            std::string::npos);
}

}  // namespace
}  // namespace qreg::test

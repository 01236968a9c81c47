// qreg on the embedded registry and Wine's own reg on Wine's registry, mixed
// as a user would: each imports what the other exported, with the same keys,
// values, types and bytes.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <sys/wait.h>
#include <vector>

#include <gtest/gtest.h>

#include "tools/qreg/src/regfile/reg_file.h"

namespace {

int Shell(const std::string& command, std::string* out = nullptr) {
  FILE* pipe = popen((command + " </dev/null 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  const int status = pclose(pipe);
  if (out != nullptr) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string kDir = QREG_TEST_DIR;
const std::string kWine = "timeout 120 '" WINE_RUN "' '" + kDir + "/interop-wineprefix' auto ";
const std::string kQreg =
    std::string("'") + QREG_EXE + "' --store '" + kDir + "/interop.regstore' ";
const std::string kKey = "HKCU\\\\Software\\\\qreg-interop";

// The text as one shell word.
std::string Word(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

qreg::RegFile Parse(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  qreg::RegFile file;
  qreg::RegFileError error;
  EXPECT_TRUE(qreg::ParseRegFile(bytes, file, error))
      << path << " line " << error.line << ": " << error.reason;
  return file;
}

void ExpectSame(const qreg::RegFile& a, const qreg::RegFile& b) {
  ASSERT_EQ(a.sections.size(), b.sections.size());
  for (size_t i = 0; i < a.sections.size(); ++i) {
    EXPECT_EQ(a.sections[i].key.FullName(), b.sections[i].key.FullName());
    ASSERT_EQ(a.sections[i].entries.size(), b.sections[i].entries.size());
    for (size_t j = 0; j < a.sections[i].entries.size(); ++j) {
      const qreg::Value &x = a.sections[i].entries[j].value, &y = b.sections[i].entries[j].value;
      EXPECT_EQ(x.name, y.name);
      EXPECT_EQ(x.type, y.type) << x.name;
      EXPECT_EQ(x.data, y.data) << x.name;
    }
  }
}

TEST(WineInterop, EachImportsWhatTheOtherExported) {
  if (Shell("command -v wine >/dev/null") != 0) GTEST_SKIP() << "wine is not installed";
  std::string out;
  Shell(kWine + "reg delete " + kKey + " /f");
  const std::string adds[] = {" /v s /d 'a\\b\"c' /f",
                              " /v m /t REG_MULTI_SZ /d 'a\\0b' /f",
                              " /v d /t REG_DWORD /d 0x1F /f",
                              " /v q /t REG_QWORD /d 31 /f",
                              " /v b /t REG_BINARY /d " + std::string(120, 'e') + " /f",
                              " /v e /t REG_EXPAND_SZ /d '%PATH%' /f"};
  for (const std::string& add : adds)
    ASSERT_EQ(Shell(kWine + "reg add " + kKey + "\\\\k" + add, &out), 0) << out;
  ASSERT_EQ(Shell(kWine + "reg add " + kKey + "\\\\k\\\\child /ve /d x /f", &out), 0) << out;
  const std::string fromWine = kDir + "/interop-wine.reg", fromQreg = kDir + "/interop-qreg.reg",
                    back = kDir + "/interop-back.reg";
  ASSERT_EQ(Shell(kWine + "reg export " + kKey + " '" + fromWine + "' /y", &out), 0) << out;

  Shell(kQreg + "delete " + kKey + " /f");
  ASSERT_EQ(Shell(kQreg + "import '" + fromWine + "'", &out), 0) << out;
  ASSERT_EQ(Shell(kQreg + "export " + kKey + " '" + fromQreg + "' /y", &out), 0) << out;
  ExpectSame(Parse(fromWine), Parse(fromQreg));

  ASSERT_EQ(Shell(kWine + "reg delete " + kKey + " /f", &out), 0) << out;
  ASSERT_EQ(Shell(kWine + "reg import '" + fromQreg + "'", &out), 0) << out;
  ASSERT_EQ(Shell(kWine + "reg export " + kKey + " '" + back + "' /y", &out), 0) << out;
  ExpectSame(Parse(fromWine), Parse(back));

  Shell(kWine + "reg delete " + kKey + " /f");
  Shell(kQreg + "delete " + kKey + " /f");
}

// Key names with leading and trailing blanks, tabs, brackets and quotes: Wine
// keeps them exactly too, and each side reads the other's file back to the
// same keys.
TEST(WineInterop, KeyNamesWithBlanksAndBracketsCrossBothWays) {
  if (Shell("command -v wine >/dev/null") != 0) GTEST_SKIP() << "wine is not installed";
  const std::string key = "HKCU\\Software\\qreg-interop-names";
  const std::vector<std::string> names = {" lead", "trail ", "tab\t", "a]b",
                                          "a[b",   "q\"uo",  "trail"};
  std::string out;
  Shell(kWine + "reg delete " + Word(key) + " /f");
  for (const std::string& name : names)
    ASSERT_EQ(Shell(kWine + "reg add " + Word(key + "\\" + name) + " /v v /d " +
                        Word("<" + name + ">") + " /f",
                    &out),
              0)
        << out;
  const std::string fromWine = kDir + "/names-wine.reg", fromQreg = kDir + "/names-qreg.reg",
                    back = kDir + "/names-back.reg";
  ASSERT_EQ(Shell(kWine + "reg export " + Word(key) + " '" + fromWine + "' /y", &out), 0) << out;
  const qreg::RegFile wine = Parse(fromWine);
  std::set<std::string> seen;
  for (const qreg::RegSection& section : wine.sections) seen.insert(section.key.path);
  for (const std::string& name : names)
    EXPECT_EQ(seen.count("Software\\qreg-interop-names\\" + name), 1u) << "[" << name << "]";

  Shell(kQreg + "delete " + Word(key) + " /f");
  ASSERT_EQ(Shell(kQreg + "import '" + fromWine + "'", &out), 0) << out;
  ASSERT_EQ(Shell(kQreg + "export " + Word(key) + " '" + fromQreg + "' /y", &out), 0) << out;
  ExpectSame(wine, Parse(fromQreg));

  ASSERT_EQ(Shell(kWine + "reg delete " + Word(key) + " /f", &out), 0) << out;
  ASSERT_EQ(Shell(kWine + "reg import '" + fromQreg + "'", &out), 0) << out;
  ASSERT_EQ(Shell(kWine + "reg export " + Word(key) + " '" + back + "' /y", &out), 0) << out;
  ExpectSame(wine, Parse(back));

  Shell(kWine + "reg delete " + Word(key) + " /f");
  Shell(kQreg + "delete " + Word(key) + " /f");
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// qreg's version 5 file, UTF-16LE with non-ASCII names and data, goes into
// Wine's registry and comes back out of Wine's reg as the same bytes. Values
// are made in the order of their names, as Wine lists them.
TEST(WineInterop, WineImportsWhatQregExportsByteForByte) {
  if (Shell("command -v wine >/dev/null") != 0) GTEST_SKIP() << "wine is not installed";
  const std::string key = "HKCU\\Software\\qreg-interop-bytes";
  std::string out;
  Shell(kQreg + "delete " + Word(key) + " /f");
  const std::vector<std::vector<std::string>> adds = {
      {"/ve", "/d", "default"},
      {"/v", "a_sz", "/d", "x\"y\\z"},
      {"/v", "b_exp", "/t", "REG_EXPAND_SZ", "/d", "%PATH%;caf\xc3\xa9"},
      {"/v", "c_multi", "/t", "REG_MULTI_SZ", "/d", "a\\0\xc3\xa9t\xc3\xa9"},
      {"/v", "d_dw", "/t", "REG_DWORD", "/d", "31"},
      {"/v", "e_qw", "/t", "REG_QWORD", "/d", "0x123456789"},
      {"/v", "f_bin", "/t", "REG_BINARY", "/d", std::string(120, 'a')},
      {"/v", "g_none", "/t", "REG_NONE"},
      {"/v", "h_empty", "/d", ""},
      {"/v", "i_caf\xc3\xa9", "/d", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac"},
      {"/v", "j_a_long_value_name_that_is_rather_long_indeed", "/t", "REG_BINARY", "/d",
       std::string(80, 'c')}};
  for (const std::vector<std::string>& add : adds) {
    std::string command = kQreg + "add " + Word(key);
    for (const std::string& word : add) command += " " + Word(word);
    ASSERT_EQ(Shell(command + " /f", &out), 0) << out;
  }
  ASSERT_EQ(Shell(kQreg + "add " + Word(key + "\\sub\\caf\xc3\xa9") + " /v v /d 1", &out), 0)
      << out;
  const std::string fromQreg = kDir + "/bytes-qreg.reg", fromWine = kDir + "/bytes-wine.reg";
  ASSERT_EQ(Shell(kQreg + "export " + Word(key) + " '" + fromQreg + "' /y", &out), 0) << out;
  Shell(kWine + "reg delete " + Word(key) + " /f");
  ASSERT_EQ(Shell(kWine + "reg import '" + fromQreg + "'", &out), 0) << out;
  ASSERT_EQ(Shell(kWine + "reg export " + Word(key) + " '" + fromWine + "' /y", &out), 0) << out;
  const std::string ours = FileBytes(fromQreg), wines = FileBytes(fromWine);
  EXPECT_TRUE(ours.starts_with("\xFF\xFE")) << "no byte-order mark";
  EXPECT_EQ(ours, wines);

  // REGEDIT4 (ASCII data here) reads into Wine to the same values.
  const std::string regedit4 = kDir + "/bytes-regedit4.reg";
  Shell(kQreg + "delete " + Word(key) + " /v i_caf\xc3\xa9 /f");
  Shell(kQreg + "delete " + Word(key) + " /v b_exp /f");
  Shell(kQreg + "delete " + Word(key) + " /v c_multi /f");
  Shell(kQreg + "delete " + Word(key + "\\sub\\caf\xc3\xa9") + " /f");
  ASSERT_EQ(Shell(kQreg + "export " + Word(key) + " '" + regedit4 + "' /y /a", &out), 0) << out;
  EXPECT_TRUE(FileBytes(regedit4).starts_with("REGEDIT4\r\n"));
  Shell(kWine + "reg delete " + Word(key) + " /f");
  ASSERT_EQ(Shell(kWine + "reg import '" + regedit4 + "'", &out), 0) << out;
  ASSERT_EQ(Shell(kWine + "reg export " + Word(key) + " '" + fromWine + "' /y", &out), 0) << out;
  ExpectSame(Parse(regedit4), Parse(fromWine));

  Shell(kWine + "reg delete " + Word(key) + " /f");
  Shell(kQreg + "delete " + Word(key) + " /f");
}

}  // namespace

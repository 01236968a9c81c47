#include <gtest/gtest.h>

#include "cli/key_path.h"
#include "cli/options.h"
#include "values/value_text.h"

namespace qreg {
namespace {

std::optional<std::string> Data(DWORD type, const char* text, const char* sep = nullptr) {
  std::string error;
  const std::string t = text != nullptr ? text : "", s = sep != nullptr ? sep : "";
  return ParseData(type, text != nullptr ? &t : nullptr, sep != nullptr ? &s : nullptr, error);
}

TEST(ValueText, AddDataBecomesTheBytesRegStores) {
  EXPECT_EQ(Data(REG_SZ, "ab"), std::string("ab\0", 3));
  EXPECT_EQ(Data(REG_SZ, nullptr), std::string("\0", 1));
  EXPECT_EQ(Data(REG_MULTI_SZ, "a\\0bc"), std::string("a\0bc\0\0", 6));
  EXPECT_EQ(Data(REG_MULTI_SZ, "a#b", "#"), std::string("a\0b\0\0", 5));
  EXPECT_EQ(Data(REG_MULTI_SZ, "a\\0\\0b"), std::nullopt);  // an empty string would end the list
  EXPECT_EQ(Data(REG_MULTI_SZ, "a", "##"), std::nullopt);
  EXPECT_EQ(Data(REG_DWORD, "0x1F"), std::string("\x1f\0\0\0", 4));
  EXPECT_EQ(Data(REG_DWORD, "4294967295"), std::string("\xff\xff\xff\xff", 4));
  EXPECT_EQ(Data(REG_DWORD, "4294967296"), std::nullopt);
  EXPECT_EQ(Data(REG_DWORD, "-1"), std::nullopt);
  EXPECT_EQ(Data(REG_DWORD, "12abc"), std::nullopt);
  EXPECT_EQ(Data(REG_QWORD, "0xffffffffffffffff"), std::string(8, '\xff'));
  EXPECT_EQ(Data(REG_QWORD, "0x1ffffffffffffffff"), std::nullopt);
  EXPECT_EQ(Data(REG_BINARY, "0aFF1"), std::string("\x00\xaf\xf1", 3));
  EXPECT_EQ(Data(REG_BINARY, "0g"), std::nullopt);
  EXPECT_EQ(Data(REG_BINARY, nullptr), std::string());
}

TEST(ValueText, QueryPrintsDataAsRegDoes) {
  EXPECT_EQ(FormatData(REG_SZ, std::string("abc\0", 4)), "abc");
  EXPECT_EQ(FormatData(REG_MULTI_SZ, std::string("a\0b\0\0", 5)), "a\\0b");
  EXPECT_EQ(FormatData(REG_DWORD, std::string("\x1f\0\0\0", 4)), "0x1f");
  EXPECT_EQ(FormatData(REG_QWORD, std::string("\0\0\0\0\x01\0\0\0", 8)), "0x100000000");
  EXPECT_EQ(FormatData(REG_DWORD, "\x01"), "01");  // a misfit size shows its bytes
  EXPECT_EQ(FormatData(REG_BINARY, "\x0a\xff"), "0AFF");
  EXPECT_EQ(TypeName(REG_EXPAND_SZ), "REG_EXPAND_SZ");
  EXPECT_EQ(TypeName(0x99), "0x99");
  EXPECT_EQ(ParseTypeName("reg_dword"), std::optional<DWORD>(REG_DWORD));
  EXPECT_EQ(ParseTypeName("REG_LINK"), std::nullopt);
}

TEST(KeyNames, ShortAndLongRootsInAnyCaseAndRemoteMachines) {
  EXPECT_EQ(ParseKeyPath("hkcu\\Software\\x\\")->FullName(), "HKEY_CURRENT_USER\\Software\\x");
  EXPECT_EQ(ParseKeyPath("HKEY_LOCAL_MACHINE\\a")->root, HKEY_LOCAL_MACHINE);
  const auto remote = ParseKeyPath("\\\\box\\HKLM\\a");
  ASSERT_TRUE(remote);
  EXPECT_EQ(remote->machine, "box");
  EXPECT_EQ(remote->FullName(), "\\\\box\\HKEY_LOCAL_MACHINE\\a");
  EXPECT_FALSE(ParseKeyPath("\\\\box\\HKCU\\a"));  // reg reaches only HKLM and HKU remotely
  EXPECT_FALSE(ParseKeyPath("HKXX\\a"));
  EXPECT_FALSE(ParseKeyPath("HKCU\\\\a"));
}

TEST(Options, SlashAndDashKeywordsInAnyCase) {
  std::string error;
  const OptionSpec spec{{"f", "ve"}, {"v", "d"}};
  const auto o =
      ParseOptions({"HKCU\\x", "/V", "name", "-d", "-5", "/F", "/tmp/file"}, spec, error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(*o->Get("v"), "name");
  EXPECT_EQ(*o->Get("d"), "-5");
  EXPECT_TRUE(o->Has("f"));
  EXPECT_EQ(o->positional, (std::vector<std::string>{"HKCU\\x", "/tmp/file"}));
  EXPECT_FALSE(ParseOptions({"/v"}, spec, error));
  EXPECT_FALSE(ParseOptions({"/f", "-f"}, spec, error));
  EXPECT_FALSE(ParseOptions({"-zz"}, spec, error));
}

}  // namespace
}  // namespace qreg

#include "tools/qreg/src/values/value_text.h"

#include <gtest/gtest.h>

#include "tools/qreg/src/cli/key_path.h"
#include "tools/qreg/src/cli/options.h"
#include "tools/qreg/src/cli/text.h"
#include "tools/qreg/src/regfile/text_encoding.h"
#include "tools/qreg/src/values/json.h"

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

TEST(Options, UnknownSlashWordsAreErrorsUnlessTheyLookLikePathsAndValuesMayBeOptional) {
  std::string error;
  const OptionSpec spec{{"s"}, {"v", "f"}, {"v"}};
  EXPECT_FALSE(ParseOptions({"/x"}, spec, error));
  EXPECT_EQ(error, "unknown option /x");
  auto o = ParseOptions({"/tmp/out", "./x", "/x.reg", "/f", "pat", "/v", "/s"}, spec, error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->positional, (std::vector<std::string>{"/tmp/out", "./x", "/x.reg"}));
  EXPECT_TRUE(o->Bare("v"));
  EXPECT_EQ(*o->Get("f"), "pat");
  o = ParseOptions({"/v", "name", "/REG:64"}, spec, error);
  ASSERT_TRUE(o) << error;
  EXPECT_FALSE(o->Bare("v"));
  EXPECT_TRUE(o->Has("reg:64"));
  EXPECT_FALSE(ParseOptions({"/reg:32", "/reg:64"}, spec, error));
  EXPECT_FALSE(ParseOptions({"/f"}, spec, error));  // /f needs its value
}

TEST(Patterns, StarsAndQuestionMarksWithOrWithoutCase) {
  EXPECT_TRUE(Matches("*", "", false));
  EXPECT_TRUE(Matches("a*b", "aXbab", false));
  EXPECT_TRUE(Matches("*a*b", "xxaxxbxxb", false));
  EXPECT_FALSE(Matches("*a*b", "xxaxxbxxc", false));
  EXPECT_TRUE(Matches("s?stem", "SYSTEM", false));
  EXPECT_FALSE(Matches("s?stem", "SYSTEM", true));
  EXPECT_FALSE(Matches("abc", "abcd", false));
  EXPECT_TRUE(Matches("*\xe9*", "caf\xe9", true));
  // No blow-up on many stars against a long text without a match.
  EXPECT_FALSE(Matches("*a*a*a*a*a*a*a*a*b", std::string(20000, 'a'), false));
}

TEST(Json, StringsNumbersListsAndBytes) {
  EXPECT_EQ(JsonString("a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
  EXPECT_EQ(ValueJson({"d", REG_DWORD, std::string("\x07\0\0\0", 4)}),
            "{\"name\":\"d\",\"type\":\"REG_DWORD\",\"data\":7}");
  EXPECT_EQ(ValueJson({"q", REG_QWORD, std::string("\0\0\0\0\0\0\0\x80", 8)}),
            "{\"name\":\"q\",\"type\":\"REG_QWORD\",\"data\":9223372036854775808}");
  EXPECT_EQ(ValueJson({"m", REG_MULTI_SZ, std::string("a\0b\0\0", 5)}),
            "{\"name\":\"m\",\"type\":\"REG_MULTI_SZ\",\"data\":[\"a\",\"b\"]}");
  EXPECT_EQ(ValueJson({"", REG_BINARY, "\x0a\xff"}),
            "{\"name\":\"\",\"type\":\"REG_BINARY\",\"hex\":\"0AFF\"}");
  EXPECT_EQ(ValueJson({"short", REG_DWORD, "\x01"}),
            "{\"name\":\"short\",\"type\":\"REG_DWORD\",\"hex\":\"01\"}");
#ifndef _WIN32
  EXPECT_EQ(JsonString("caf\xc3\xa9"), "\"caf\xc3\xa9\"");
  EXPECT_EQ(JsonString("caf\xe9"), "\"caf\\u00e9\"");  // no UTF-8: read as Latin-1
  EXPECT_EQ(ValueJson({"s", REG_SZ, std::string("caf\xe9\0", 5)}),
            "{\"name\":\"s\",\"type\":\"REG_SZ\",\"hex\":\"636166E900\"}");
#endif
}

#ifndef _WIN32
TEST(Encoding, Utf16FromUtf8TakesOnlyWellFormedText) {
  EXPECT_EQ(*Utf16FromNarrow("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"),
            std::string("a\0\xe9\0\xac\x20\x3d\xd8\x00\xde", 10));
  for (const char* bad : {"\xe9", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xc3"})
    EXPECT_FALSE(Utf16FromNarrow(bad)) << bad;
  EXPECT_EQ(*NarrowFromUtf16(*Utf16FromNarrow("x\xf0\x9f\x98\x80")), "x\xf0\x9f\x98\x80");
}
#endif

}  // namespace
}  // namespace qreg

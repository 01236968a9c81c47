// Whatever the .reg reader accepts comes back the same after writing it and
// reading it again (cases the fuzzer found).
#include <gtest/gtest.h>

#include "tools/qreg/src/regfile/reg_file.h"

namespace qreg {
namespace {

RegFile Read(const std::string& text) {
  RegFile file;
  RegFileError error;
  EXPECT_TRUE(ParseRegFile(text, file, error)) << error.line << ": " << error.reason << "\n"
                                               << text;
  return file;
}

TEST(RegFileRoundTrip, DeletionsStayDeletionsInEitherFormat) {
  const RegFile file = Read(
      "REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\old]\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\a]\r\n\"gone\"=-\r\n@=-\r\n\"kept\"=\"x\"\r\n");
  const std::string regedit4 = WriteRegFile(file.sections);
  EXPECT_NE(regedit4.find("[-HKEY_CURRENT_USER\\Software\\old]\r\n"), std::string::npos)
      << regedit4;
  EXPECT_NE(regedit4.find("\"gone\"=-\r\n@=-\r\n"), std::string::npos) << regedit4;

  for (const RegFormat format : {RegFormat::kRegedit4, RegFormat::kVersion5}) {
    const RegFile again = Read(WriteRegFile(file.sections, format));
    ASSERT_EQ(again.sections.size(), 2u);
    EXPECT_TRUE(again.sections[0].remove);
    EXPECT_FALSE(again.sections[1].remove);
    const std::vector<RegEntry>& entries = again.sections[1].entries;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_TRUE(entries[0].remove);
    EXPECT_EQ(entries[0].value.name, "gone");
    EXPECT_TRUE(entries[1].remove);
    EXPECT_EQ(entries[1].value.name, "");
    EXPECT_FALSE(entries[2].remove);
    EXPECT_EQ(entries[2].value.data, std::string("x\0", 2));
  }
}

}  // namespace
}  // namespace qreg

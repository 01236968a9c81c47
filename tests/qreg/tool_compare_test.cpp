// qreg compare: reg's lines ("<", ">", "=") and exit codes (0 identical,
// 2 different, 1 failure).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/qreg/qreg_runner.h"

namespace qreg::test {
namespace {

const char kIdentical[] = "\nResult Compared: Identical\nThe operation completed successfully.\n";
const char kDifferent[] = "\nResult Compared: Different\nThe operation completed successfully.\n";

class Compare : public Tool {
 protected:
  Compare() {
    Qreg({"add", key_ + "\\a", "/v", "x", "/d", "1"});
    Qreg({"add", key_ + "\\a", "/v", "y", "/d", "2"});
    Qreg({"add", key_ + "\\a\\sub", "/v", "z", "/d", "1"});
    Qreg({"add", key_ + "\\b", "/v", "w", "/d", "4"});
    Qreg({"add", key_ + "\\b", "/v", "x", "/d", "1"});
    Qreg({"add", key_ + "\\b", "/v", "y", "/d", "3"});
    Qreg({"add", key_ + "\\b\\other"});
    a_ = full_ + "\\a";
    b_ = full_ + "\\b";
  }
  Result Run(const std::vector<std::string>& options) {
    std::vector<std::string> args = {"compare", key_ + "\\a", key_ + "\\b"};
    args.insert(args.end(), options.begin(), options.end());
    return Qreg(args);
  }
  std::string a_, b_;
};

TEST_F(Compare, DifferencesByDefaultWithExitCodeTwo) {
  const Result r = Run({});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "< Value: " + a_ + "  y  REG_SZ  2\n> Value: " + b_ +
                       "  y  REG_SZ  3\n> Value: " + b_ + "  w  REG_SZ  4\n< Key: " + a_ +
                       "\\sub\n> Key: " + b_ + "\\other\n" + kDifferent);
}

TEST_F(Compare, AllOnlyMatchesOrNothing) {
  Result r = Run({"/oa"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "= Value: " + a_ + "  x  REG_SZ  1\n< Value: " + a_ +
                       "  y  REG_SZ  2\n> Value: " + b_ + "  y  REG_SZ  3\n> Value: " + b_ +
                       "  w  REG_SZ  4\n< Key: " + a_ + "\\sub\n> Key: " + b_ + "\\other\n" +
                       kDifferent);
  r = Run({"/os"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "= Value: " + a_ + "  x  REG_SZ  1\n" + kDifferent);
  r = Run({"/on"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, kDifferent);
  EXPECT_EQ(Run({"/oa", "/od"}).code, 1);
}

TEST_F(Compare, OneValueOrTheWholeSubtree) {
  Result r = Run({"/v", "x"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, kIdentical);
  r = Run({"/v", "y"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out,
            "< Value: " + a_ + "  y  REG_SZ  2\n> Value: " + b_ + "  y  REG_SZ  3\n" + kDifferent);
  EXPECT_EQ(Run({"/ve"}).code, 1);  // neither has a default value

  Qreg({"copy", key_ + "\\a", key_ + "\\c", "/s", "/f"});
  r = Qreg({"compare", key_ + "\\a", key_ + "\\c", "/s"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, kIdentical);
  Qreg({"add", key_ + "\\c\\sub", "/v", "z", "/d", "changed", "/f"});
  r = Qreg({"compare", key_ + "\\a", key_ + "\\c", "/s"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "< Value: " + a_ + "\\sub  z  REG_SZ  1\n> Value: " + full_ +
                       "\\c\\sub  z  REG_SZ  changed\n" + kDifferent);
}

TEST_F(Compare, AMissingKeyIsAFailure) {
  const Result r = Qreg({"compare", key_ + "\\a", key_ + "\\missing"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "ERROR: Cannot open " + full_ + "\\missing: " + kMissing + "\n");
  EXPECT_EQ(Qreg({"compare", key_ + "\\a", key_ + "\\a"}).code, 1);
}

}  // namespace
}  // namespace qreg::test

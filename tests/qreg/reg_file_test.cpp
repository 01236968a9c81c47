#include "tools/qreg/src/regfile/reg_file.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "tools/qreg/src/regfile/line_reader.h"

namespace qreg {
namespace {

RegSection Section(const std::string& path, std::vector<Value> values) {
  RegSection s;
  s.key.root = HKEY_CURRENT_USER;
  s.key.path = path;
  for (Value& v : values) s.entries.push_back({std::move(v), false, 0});
  return s;
}

// The section holds exactly these values, in this order.
void ExpectValues(const RegSection& section, const std::vector<Value>& values) {
  ASSERT_EQ(section.entries.size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    const Value& got = section.entries[i].value;
    EXPECT_EQ(got.name, values[i].name);
    EXPECT_EQ(got.type, values[i].type) << values[i].name;
    EXPECT_EQ(got.data, values[i].data) << values[i].name;
  }
}

RegFileError Refused(const std::string& text) {
  RegFile file;
  RegFileError error;
  EXPECT_FALSE(ParseRegFile(text, file, error)) << text;
  EXPECT_TRUE(file.sections.empty());
  return error;
}

TEST(RegFile, EveryTypeRoundTripsByteForByte) {
  const std::string binary("\x00\x01\xff\x7f\"\\", 6);
  std::string longData;
  for (int i = 0; i < 300; ++i) longData += static_cast<char>(i);
  const std::vector<Value> values = {
      {"", REG_SZ, std::string("default\0", 8)},
      {"quote\"and\\slash", REG_SZ, std::string("a \"b\" \\c\0", 10)},
      {"empty string", REG_SZ, std::string("\0", 1)},
      {"no terminator", REG_SZ, "abc"},
      {"line\nbreak", REG_SZ, std::string("x\r\ny\0", 5)},
      {"inner zero", REG_SZ, std::string("a\0b\0", 4)},
      {"expand", REG_EXPAND_SZ, std::string("%PATH%\0", 7)},
      {"multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
      {"dword", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
      {"short dword", REG_DWORD, std::string("\x01\x02", 2)},
      {"qword", REG_QWORD, std::string("\x01\0\0\0\0\0\0\x80", 8)},
      {"binary", REG_BINARY, binary},
      {"long", REG_BINARY, longData},
      {"none", REG_NONE, ""},
      {"odd type", 0x12345, "zz"},
      {"high bytes \xe9\xff", REG_SZ, std::string("\xe9t\xe9\0", 4)},
  };
  const std::vector<RegSection> sections = {Section("Software\\a", values),
                                            Section("Software\\a\\empty", {})};
  const std::string text = WriteRegFile(sections);
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2)
    EXPECT_LE(end - start, 80u) << text.substr(start, end - start);

  RegFile file;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile(text, file, error)) << error.line << ": " << error.reason << "\n"
                                               << text;
  ASSERT_EQ(file.sections.size(), 2u);
  EXPECT_EQ(file.sections[1].key.FullName(), "HKEY_CURRENT_USER\\Software\\a\\empty");
  ExpectValues(file.sections[0], values);
}

TEST(RegFile, Version5InUtf16CarriesEveryTypeAndNonAsciiText) {
#ifdef _WIN32
  const std::string high = "caf\xe9";  // the ANSI code page
#else
  const std::string high = "caf\xc3\xa9 \xe2\x82\xac";  // UTF-8
#endif
  const std::vector<Value> values = {
      {"", REG_SZ, std::string("default\0", 8)},
      {"quote\"and\\slash", REG_SZ, std::string("a \"b\" \\c\0", 10)},
      {"no terminator", REG_SZ, "abc"},
      {"line\nbreak", REG_SZ, std::string("x\r\ny\0", 5)},
      {"inner zero", REG_SZ, std::string("a\0b\0", 4)},
      {"expand", REG_EXPAND_SZ, "%PATH%;" + high + '\0'},
      {"multi", REG_MULTI_SZ, "a" + std::string(1, '\0') + high + std::string(2, '\0')},
      {"dword", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
      {"qword", REG_QWORD, std::string("\x01\0\0\0\0\0\0\x80", 8)},
      {"binary", REG_BINARY, std::string("\x00\x01\xff", 3)},
      {"none", REG_NONE, ""},
      {high, REG_SZ, high + '\0'},
  };
  const std::string bytes =
      WriteRegFile({Section("Software\\" + high, values)}, RegFormat::kVersion5);
  ASSERT_TRUE(bytes.starts_with(std::string("\xff\xfeW\0i\0n\0", 8)));
  RegFile file;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile(bytes, file, error)) << error.line << ": " << error.reason;
  ASSERT_EQ(file.sections.size(), 1u);
  EXPECT_EQ(file.sections[0].key.path, "Software\\" + high);
  ExpectValues(file.sections[0], values);
#ifndef _WIN32
  std::string out, why;
  EXPECT_FALSE(RegSectionText(Section("Software\\x", {{"s", REG_SZ, std::string("\xe9\0", 2)}}),
                              RegFormat::kVersion5, out, why));
  EXPECT_NE(why.find("value s"), std::string::npos) << why;
  EXPECT_FALSE(RegSectionText(Section("Software\\\xe9", {}), RegFormat::kVersion5, out, why));
#endif
}

TEST(RegFile, Regedit4WritesDataBeyondAsciiAsBytes) {
  const std::string text =
      WriteRegFile({Section("Software\\x", {{"s", REG_SZ, std::string("caf\xc3\xa9\0", 6)},
                                            {"plain", REG_SZ, std::string("cafe\0", 5)}})});
  EXPECT_NE(text.find("\"s\"=hex(1):63,61,66,c3,a9,00\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"plain\"=\"cafe\"\r\n"), std::string::npos) << text;
}

TEST(RegFile, WritesWhatTheRegistryEditorWrites) {
  const std::string text =
      WriteRegFile({Section("Software\\x", {{"", REG_SZ, std::string("v\0", 2)},
                                            {"d", REG_DWORD, std::string("\x1f\0\0\0", 4)},
                                            {"b", REG_BINARY, "\x01\xab"},
                                            {"e", REG_EXPAND_SZ, std::string("%a%\0", 4)}})});
  EXPECT_EQ(text,
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\x]\r\n@=\"v\"\r\n"
            "\"d\"=dword:0000001f\r\n\"b\"=hex:01,ab\r\n\"e\"=hex(2):25,61,25,00\r\n\r\n");
}

TEST(RegFile, ReadsVersion5InUtf16WithDeletionsCommentsAndContinuations) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n; a comment\r\n"
      "[HKEY_CURRENT_USER\\Software\\y]\r\n"
      "\"m\"=hex(7):61,00,00,00,\\\r\n  62,00,00,00,00,00\r\n"
      "\"gone\"=-\r\n"
      "\"s\"=\"caf\xc3\xa9\"\r\n"
      "[-HKEY_CURRENT_USER\\Software\\y\\old]\r\n";
  std::string utf16 = "\xff\xfe";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\xc3\xa9") == 0) {
      utf16 += std::string("\xe9\x00", 2);
      ++i;
      continue;
    }
    utf16 += text[i];
    utf16 += '\0';
  }
  RegFile file;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile(utf16, file, error)) << error.line << ": " << error.reason;
  ASSERT_EQ(file.sections.size(), 2u);
  const auto& entries = file.sections[0].entries;
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].value.type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(entries[0].value.data, std::string("a\0b\0\0", 5));
  EXPECT_TRUE(entries[1].remove);
  EXPECT_EQ(entries[1].value.name, "gone");
#ifndef _WIN32
  EXPECT_EQ(entries[2].value.data, std::string("caf\xc3\xa9\0", 6));
#endif
  EXPECT_TRUE(file.sections[1].remove);
  EXPECT_EQ(file.sections[1].key.path, "Software\\y\\old");
}

TEST(RegFile, MalformedFilesAreRefusedWithTheirLine) {
  EXPECT_EQ(Refused("").line, 1);
  EXPECT_EQ(Refused("[HKEY_CURRENT_USER\\Software\\x]\r\n").line, 1);  // no header
  EXPECT_EQ(Refused("REGEDIT5\r\n").line, 1);
  const std::string head = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\x]\r\n";
  EXPECT_EQ(Refused(head + "\"a\"=hex:01,zz\r\n").line, 4);  // bad hex
  EXPECT_EQ(Refused(head + "\"a\"=hex:01,123\r\n").line, 4);
  EXPECT_EQ(Refused(head + "\"a\"=qword:1\r\n").line, 4);  // unknown type
  EXPECT_EQ(Refused(head + "\"a\"=dword:123456789\r\n").line, 4);
  EXPECT_EQ(Refused(head + "\"a\"=\"open\r\n").line, 4);  // truncated
  EXPECT_EQ(Refused(head + "\"a\r\n").line, 4);
  EXPECT_EQ(Refused(head + "\"a\"=hex:01,\\\r\n").line, 4);  // continued past the end
  EXPECT_EQ(Refused(head + "\"a\"=hex:01,\\\r\n\"b\"=\"x\"\r\n").line, 5);
  EXPECT_EQ(Refused(head + "[HKEY_NOWHERE\\x]\r\n").line, 4);  // outside the roots
  EXPECT_EQ(Refused(head + "[HKEY_CURRENT_USER\\x\r\n").line, 4);
  EXPECT_EQ(Refused(head + "[-HKEY_CURRENT_USER]\r\n").line, 4);
  EXPECT_EQ(Refused(head + "[HKEY_CURRENT_USER\\a\\\\b]\r\n").line, 4);
  EXPECT_EQ(Refused("REGEDIT4\r\n\"a\"=\"x\"\r\n").line, 2);  // value before any key
  EXPECT_EQ(Refused(head + "garbage\r\n").line, 4);
  EXPECT_EQ(Refused(head + "\"a\"=\"x\" trailing\r\n").line, 4);
}

}  // namespace
}  // namespace qreg

namespace qreg {
namespace {

TEST(RegFile, KeyNamesComeBackExactlyBlanksBracketsAndHighBytesIncluded) {
  const std::vector<std::string> names = {
      "Software\\ lead",       "Software\\trail ",  "Software\\tab\t",
      "Software\\ ",           "Software\\a]b",     "Software\\a[b",
      "Software\\[x]",         "Software\\q\"uote", "Software\\; not a comment",
      "Software\\caf\xe9 \xff"};
  std::vector<RegSection> sections;
  for (const std::string& name : names)
    sections.push_back(Section(name, {{"v", REG_SZ, name + '\0'}}));
  RegFile file;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile(WriteRegFile(sections), file, error))
      << error.line << ": " << error.reason;
  ASSERT_EQ(file.sections.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(file.sections[i].key.path, names[i]);
    ASSERT_EQ(file.sections[i].entries.size(), 1u) << names[i];
    EXPECT_EQ(file.sections[i].entries[0].value.data, names[i] + '\0');
  }
}

TEST(RegFile, KeyLineEndsAtItsLastBracketThenBlanksOrAComment) {
  const std::string head = "REGEDIT4\r\n\r\n";
  RegFile file;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile(head + "  [HKEY_CURRENT_USER\\indented]\r\n"
                                  "[HKEY_CURRENT_USER\\blanks after] \t\r\n"
                                  "[HKEY_CURRENT_USER\\commented] ; [a comment\r\n",
                           file, error))
      << error.line << ": " << error.reason;
  ASSERT_EQ(file.sections.size(), 3u);
  EXPECT_EQ(file.sections[0].key.path, "indented");
  EXPECT_EQ(file.sections[1].key.path, "blanks after");
  EXPECT_EQ(file.sections[2].key.path, "commented");
  EXPECT_EQ(Refused(head + "[HKEY_CURRENT_USER\\x] junk\r\n").line, 3);
  // A blank before the root is part of the name, which then names no root.
  EXPECT_EQ(Refused(head + "[ HKEY_CURRENT_USER\\x]\r\n").line, 3);
  EXPECT_EQ(Refused(head + "[HKEY_CURRENT_USER\\x\r\n").line, 3);
}

// Hands out its bytes a few at a time, so that lines, byte-order marks and
// UTF-16 characters fall across reads.
class Trickle final : public ByteSource {
 public:
  Trickle(std::string bytes, size_t step) : bytes_(std::move(bytes)), step_(step) {}
  bool Read(char* buffer, size_t size, size_t& got) override {
    got = std::min({size, step_, bytes_.size() - at_});
    std::copy_n(bytes_.data() + at_, got, buffer);
    at_ += got;
    return true;
  }

 private:
  std::string bytes_;
  size_t step_, at_ = 0;
};

std::string Utf16(const std::string& ascii) {
  std::string out = "\xff\xfe";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

TEST(RegFile, ReadsTheSameWhateverSizeTheReadsHave) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\k]\r\n";
  for (int i = 0; i < 3000; ++i) text += "\"v" + std::to_string(i) + "\"=hex:01,02,\\\r\n  03\r\n";
  text += "\"last\"=\"no final line break\"";
  const std::string bytes = Utf16(text);
  RegFile whole, trickled;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile(bytes, whole, error)) << error.line << ": " << error.reason;
  for (size_t step : {1u, 3u, 65537u}) {
    Trickle source(bytes, step);
    ASSERT_TRUE(ReadRegFile(source, trickled, error)) << step << ": " << error.reason;
    ASSERT_EQ(trickled.sections.size(), 1u);
    ASSERT_EQ(trickled.sections[0].entries.size(), 3001u);
    EXPECT_EQ(trickled.sections[0].entries[0].value.data, "\x01\x02\x03");
    EXPECT_EQ(trickled.sections[0].entries[3000].value.data,
              std::string("no final line break\0", 20));
  }
  EXPECT_EQ(whole.sections[0].entries.size(), 3001u);
  // Half a character at the end.
  EXPECT_FALSE(ParseRegFile(bytes + "x", whole, error));
}

// An endless input: a header, the start of a line, then filler for ever.
// Counts what the reader took.
class Endless final : public ByteSource {
 public:
  Endless(std::string start, std::string filler)
      : start_(std::move(start)), filler_(std::move(filler)) {}
  bool Read(char* buffer, size_t size, size_t& got) override {
    for (got = 0; got < size; ++got, ++taken_)
      buffer[got] = taken_ < start_.size() ? start_[taken_]
                                           : filler_[(taken_ - start_.size()) % filler_.size()];
    return true;
  }
  size_t taken() const { return taken_; }

 private:
  std::string start_, filler_;
  size_t taken_ = 0;
};

TEST(RegFile, AnOverLongLineOrValueIsRefusedAfterReadingLittleMoreThanTheLimit) {
  const std::string head = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\k]\r\n";
  RegFile file;
  RegFileError error;
  Endless line(head + "\"s\"=\"", "a");
  EXPECT_FALSE(ReadRegFile(line, file, error));
  EXPECT_EQ(error.line, 4);
  EXPECT_NE(error.reason.find("a line longer than"), std::string::npos) << error.reason;
  EXPECT_LT(line.taken(), kMaxLineLength + (1u << 20));

  Endless value(head + "\"b\"=hex:", "00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,\\\r\n  ");
  EXPECT_FALSE(ReadRegFile(value, file, error));
  EXPECT_NE(error.reason.find("value larger than 16 MiB"), std::string::npos) << error.reason;
  EXPECT_LT(value.taken(), 4 * kMaxValueBytes);
  EXPECT_TRUE(file.sections.empty());

  // The largest value the registry takes still reads, on one line.
  std::string big = head + "\"b\"=hex:";
  big.reserve(big.size() + 3 * kMaxValueBytes);
  for (size_t i = 0; i < kMaxValueBytes; ++i) big += i + 1 < kMaxValueBytes ? "ab," : "ab\r\n";
  ASSERT_TRUE(ParseRegFile(big, file, error)) << error.line << ": " << error.reason;
  EXPECT_EQ(file.sections[0].entries[0].value.data.size(), kMaxValueBytes);
}

}  // namespace
}  // namespace qreg

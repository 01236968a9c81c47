// The contents of a .reg file: key sections in file order, each with the
// values to set or delete.
#pragma once

#include <string>
#include <vector>

#include "tools/qreg/src/cli/key_path.h"
#include "tools/qreg/src/values/value.h"

namespace qreg {

class ByteSource;

// The largest value a file may hold (the embedded registry's limit), and the
// longest line: room for such a value written as hex bytes on one line.
inline constexpr size_t kMaxValueBytes = 16u << 20;
inline constexpr size_t kMaxLineLength = 3 * kMaxValueBytes + 64 * 1024;

struct RegEntry {
  Value value;
  bool remove = false;  // "name"=-
  int line = 0;
};

struct RegSection {
  KeyPath key;
  bool remove = false;  // [-KEY]: the key with its subtree
  std::vector<RegEntry> entries;
  int line = 0;
};

struct RegFile {
  std::vector<RegSection> sections;
};

struct RegFileError {
  int line = 0;
  std::string reason;
};

// Reads a whole file (ANSI, UTF-8 or UTF-16LE with a byte-order mark) as it
// streams in and checks every line; false with the first bad line and why
// (a line or value over the limits above among them), and file left empty.
bool ReadRegFile(ByteSource& source, RegFile& file, RegFileError& error);
bool ParseRegFile(const std::string& bytes, RegFile& file, RegFileError& error);
// Version 5.00 ("Windows Registry Editor Version 5.00", UTF-16LE with a
// byte-order mark, as reg and the registry editor write), or REGEDIT4 (the
// narrow bytes, data beyond ASCII as hex bytes).
enum class RegFormat { kVersion5, kRegedit4 };

// The file's start: its byte-order mark and header line, encoded.
std::string RegFileHeader(RegFormat format);
// A section with its values and a blank line, lines ending in CR LF,
// encoded; deletions as [-KEY] and "name"=-. False with why when version 5
// cannot carry a name or string, which is then not text in the system's
// narrow encoding.
bool RegSectionText(const RegSection& section, RegFormat format, std::string& out,
                    std::string& why);
// A whole file (for tests and fuzzing); sections the format cannot carry are left out.
std::string WriteRegFile(const std::vector<RegSection>& sections,
                         RegFormat format = RegFormat::kRegedit4);
// Whether a [...] line can carry the key's name: one without a line break.
bool KeyNameFits(const KeyPath& key);

}  // namespace qreg

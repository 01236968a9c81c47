// The contents of a .reg file: key sections in file order, each with the
// values to set or delete.
#pragma once

#include <string>
#include <vector>

#include "cli/key_path.h"
#include "values/value.h"

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
// A REGEDIT4 file, lines ending in CR LF, as Windows' registry editor writes
// ANSI data: the header, then each section with its values and a blank line;
// deletions as [-KEY] and "name"=-.
std::string WriteRegFile(const std::vector<RegSection>& sections);
std::string RegFileHeader();
std::string RegSectionText(const RegSection& section);
// Whether a [...] line can carry the key's name: one without a line break.
bool KeyNameFits(const KeyPath& key);

}  // namespace qreg

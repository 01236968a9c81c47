// The contents of a .reg file: key sections in file order, each with the
// values to set or delete.
#pragma once

#include <string>
#include <vector>

#include "cli/key_path.h"
#include "values/value.h"

namespace qreg {

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

// Reads a whole file (ANSI, UTF-8 or UTF-16LE with a byte-order mark) and
// checks every line; false with the first bad line and why.
bool ParseRegFile(const std::string& bytes, RegFile& file, RegFileError& error);
// A REGEDIT4 file, lines ending in CR LF, as Windows' registry editor writes
// ANSI data; deletions as [-KEY] and "name"=-.
std::string WriteRegFile(const std::vector<RegSection>& sections);

}  // namespace qreg

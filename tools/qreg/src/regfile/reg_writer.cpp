// Writing REGEDIT4 files. Strings that a quoted form cannot carry exactly (a
// missing or inner zero, line breaks) go out as hex(1) so nothing is lost.
#include <windows.h>

#include <cstdio>

#include "regfile/reg_file.h"

namespace qreg {
namespace {

constexpr size_t kWrapColumn = 77;

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    if (c == '\r') {
      out += "\\r";
      continue;
    }
    out += c;
  }
  return out;
}

bool QuotedFits(const Value& value) {
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != '\0') return false;
  const std::string_view text(value.data.data(), value.data.size() - 1);
  return text.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

void WriteHex(std::string& out, size_t column, const Value& value) {
  char prefix[16];
  if (value.type == REG_BINARY)
    std::snprintf(prefix, sizeof prefix, "hex:");
  else
    std::snprintf(prefix, sizeof prefix, "hex(%lx):", static_cast<unsigned long>(value.type));
  out += prefix;
  column += std::string_view(prefix).size();
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < value.data.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(value.data[i]);
    out += digits[byte >> 4];
    out += digits[byte & 15];
    if (i + 1 == value.data.size()) break;
    out += ',';
    column += 3;
    if (column >= kWrapColumn) {
      out += "\\\r\n  ";
      column = 2;
    }
  }
}

void WriteEntry(std::string& out, const RegEntry& entry) {
  const Value& value = entry.value;
  const std::string name = value.name.empty() ? "@" : "\"" + Escape(value.name) + "\"";
  out += name;
  out += '=';
  if (entry.remove) {
    out += '-';
  } else if (QuotedFits(value)) {
    out += '"';
    out += Escape(std::string_view(value.data.data(), value.data.size() - 1));
    out += '"';
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    unsigned long n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(value.data[i]);
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08lx", n);
    out += text;
  } else {
    WriteHex(out, name.size() + 1, value);
  }
  out += "\r\n";
}

}  // namespace

std::string RegFileHeader() { return "REGEDIT4\r\n\r\n"; }

bool KeyNameFits(const KeyPath& key) {
  return key.FullName().find_first_of("\r\n") == std::string::npos;
}

std::string RegSectionText(const RegSection& section) {
  std::string out = section.remove ? "[-" : "[";
  out += section.key.FullName();
  out += "]\r\n";
  for (const RegEntry& entry : section.entries) WriteEntry(out, entry);
  out += "\r\n";
  return out;
}

std::string WriteRegFile(const std::vector<RegSection>& sections) {
  std::string out = RegFileHeader();
  for (const RegSection& section : sections) out += RegSectionText(section);
  return out;
}

}  // namespace qreg

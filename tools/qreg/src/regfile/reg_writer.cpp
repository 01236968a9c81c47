// Writing .reg files as the registry editor does: version 5.00 in UTF-16LE,
// or REGEDIT4. Strings that a quoted form cannot carry exactly (a missing or
// inner zero, line breaks; in REGEDIT4 any byte beyond ASCII) go out as
// hex(1) bytes so nothing is lost or misread; REG_EXPAND_SZ and REG_MULTI_SZ
// always go out as bytes (UTF-16LE in version 5, the narrow bytes in
// REGEDIT4).
#include <cstdio>
#include <windows.h>

#include "tools/qreg/src/regfile/reg_file.h"
#include "tools/qreg/src/regfile/text_encoding.h"

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

bool Ascii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

bool QuotedFits(const Value& value, RegFormat format) {
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != '\0') return false;
  const std::string_view text(value.data.data(), value.data.size() - 1);
  if (format == RegFormat::kRegedit4 ? !Ascii(text) : !Utf16FromNarrow(text)) return false;
  return text.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

bool IsString(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

void WriteHex(std::string& out, size_t column, DWORD type, std::string_view bytes) {
  char prefix[16];
  if (type == REG_BINARY)
    std::snprintf(prefix, sizeof prefix, "hex:");
  else
    std::snprintf(prefix, sizeof prefix, "hex(%lx):", static_cast<unsigned long>(type));
  out += prefix;
  column += std::string_view(prefix).size();
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    out += digits[byte >> 4];
    out += digits[byte & 15];
    if (i + 1 == bytes.size()) break;
    out += ',';
    column += 3;
    if (column >= kWrapColumn) {
      out += "\\\r\n  ";
      column = 2;
    }
  }
}

// False when version 5 cannot carry the string's bytes as UTF-16.
bool WriteEntry(std::string& out, const RegEntry& entry, RegFormat format) {
  const Value& value = entry.value;
  const std::size_t start = out.size();
  if (value.name.empty()) {
    out += '@';
  } else {
    out += '"';
    out += Escape(value.name);
    out += '"';
  }
  out += '=';
  const std::size_t column = out.size() - start;  // where the data begins
  if (entry.remove) {
    out += '-';
  } else if (QuotedFits(value, format)) {
    out += '"';
    out += Escape(std::string_view(value.data.data(), value.data.size() - 1));
    out += '"';
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    unsigned long n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(value.data[i]);
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08lx", n);
    out += text;
  } else if (format == RegFormat::kVersion5 && IsString(value.type)) {
    const auto wide = Utf16FromNarrow(value.data);
    if (!wide) return false;
    WriteHex(out, column, value.type, *wide);
  } else {
    WriteHex(out, column, value.type, value.data);
  }
  out += "\r\n";
  return true;
}

}  // namespace

std::string RegFileHeader(RegFormat format) {
  if (format == RegFormat::kRegedit4) return "REGEDIT4\r\n\r\n";
  return "\xFF\xFE" + *Utf16FromNarrow("Windows Registry Editor Version 5.00\r\n\r\n");
}

bool KeyNameFits(const KeyPath& key) {
  return key.FullName().find_first_of("\r\n") == std::string::npos;
}

bool RegSectionText(const RegSection& section, RegFormat format, std::string& out,
                    std::string& why) {
  std::string text = section.remove ? "[-" : "[";
  text += section.key.FullName();
  text += "]\r\n";
  for (const RegEntry& entry : section.entries)
    if (!WriteEntry(text, entry, format)) {
      why = "the data of value " + (entry.value.name.empty() ? "(Default)" : entry.value.name) +
            " is not text in this system's encoding";
      return false;
    }
  text += "\r\n";
  if (format == RegFormat::kRegedit4) {
    out = std::move(text);
    return true;
  }
  auto wide = Utf16FromNarrow(text);
  if (!wide) {
    why = "a key or value name is not text in this system's encoding";
    return false;
  }
  out = std::move(*wide);
  return true;
}

std::string WriteRegFile(const std::vector<RegSection>& sections, RegFormat format) {
  std::string out = RegFileHeader(format);
  std::string text, why;
  for (const RegSection& section : sections)
    if (RegSectionText(section, format, text, why)) out += text;
  return out;
}

}  // namespace qreg

#include "tools/qreg/src/values/value_text.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "tools/qreg/src/cli/text.h"

namespace qreg {
namespace {

struct TypeEntry {
  const char* name;
  DWORD type;
};

const TypeEntry kTypes[] = {
    {"REG_NONE", REG_NONE},
    {"REG_SZ", REG_SZ},
    {"REG_EXPAND_SZ", REG_EXPAND_SZ},
    {"REG_BINARY", REG_BINARY},
    {"REG_DWORD", REG_DWORD},
    {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
    {"REG_LINK", REG_LINK},
    {"REG_MULTI_SZ", REG_MULTI_SZ},
    {"REG_RESOURCE_LIST", REG_RESOURCE_LIST},
    {"REG_FULL_RESOURCE_DESCRIPTOR", REG_FULL_RESOURCE_DESCRIPTOR},
    {"REG_RESOURCE_REQUIREMENTS_LIST", REG_RESOURCE_REQUIREMENTS_LIST},
    {"REG_QWORD", REG_QWORD},
};

std::string Hex(std::string_view data) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(data.size() * 2);
  for (unsigned char c : data) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

uint64_t LittleEndian(std::string_view data) {
  uint64_t n = 0;
  for (size_t i = data.size(); i-- > 0;) n = (n << 8) | static_cast<unsigned char>(data[i]);
  return n;
}

std::string Number(uint64_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(n));
  return text;
}

// Decimal, or hexadecimal after 0x; the whole text, within max.
std::optional<uint64_t> ParseNumber(std::string_view text, uint64_t max) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  uint64_t n = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) return std::nullopt;
    if (n > (max - static_cast<unsigned>(digit)) / base) return std::nullopt;
    n = n * base + static_cast<unsigned>(digit);
  }
  return n;
}

std::string Bytes(uint64_t n, size_t size) {
  std::string out(size, '\0');
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  return out;
}

}  // namespace

std::optional<DWORD> ParseTypeName(std::string_view name) {
  static const TypeEntry accepted[] = {
      {"REG_SZ", REG_SZ},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ},
      {"REG_MULTI_SZ", REG_MULTI_SZ},
      {"REG_DWORD", REG_DWORD},
      {"REG_DWORD_LITTLE_ENDIAN", REG_DWORD},
      {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
      {"REG_QWORD", REG_QWORD},
      {"REG_QWORD_LITTLE_ENDIAN", REG_QWORD},
      {"REG_BINARY", REG_BINARY},
      {"REG_NONE", REG_NONE},
  };
  for (const TypeEntry& t : accepted)
    if (EqualsNoCase(name, t.name)) return t.type;
  return std::nullopt;
}

std::string TypeName(DWORD type) {
  for (const TypeEntry& t : kTypes)
    if (t.type == type) return t.name;
  return Number(type);
}

std::vector<std::string> MultiStrings(std::string_view data) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find('\0', start);
    if (end == std::string_view::npos) end = data.size();
    parts.emplace_back(data.substr(start, end - start));
    start = end + 1;
  }
  while (!parts.empty() && parts.back().empty()) parts.pop_back();
  return parts;
}

std::string FormatData(DWORD type, std::string_view data, std::string_view separator) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return std::string(data.substr(0, data.find('\0')));
    case REG_MULTI_SZ: {
      const std::vector<std::string> parts = MultiStrings(data);
      std::string out;
      for (size_t i = 0; i < parts.size(); ++i) {
        if (i != 0) out += separator;
        out += parts[i];
      }
      return out;
    }
    case REG_DWORD:
      if (data.size() == 4) return Number(LittleEndian(data));
      break;
    case REG_DWORD_BIG_ENDIAN:
      if (data.size() == 4) {
        const std::string reversed(data.rbegin(), data.rend());
        return Number(LittleEndian(reversed));
      }
      break;
    case REG_QWORD:
      if (data.size() == 8) return Number(LittleEndian(data));
      break;
    default:
      break;
  }
  return Hex(data);
}

std::optional<std::string> ParseData(DWORD type, const std::string* text,
                                     const std::string* separator, std::string& error) {
  const std::string empty;
  const std::string& given = text != nullptr ? *text : empty;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_NONE:
      // reg stores REG_NONE data as a string, as it does REG_SZ.
      if (type == REG_NONE && text == nullptr) return std::string();
      if (given.find('\0') != std::string::npos) break;
      return given + '\0';
    case REG_MULTI_SZ: {
      const std::string sep = separator != nullptr ? *separator : "\\0";
      if (sep.empty() || (separator != nullptr && sep.size() != 1)) {
        error = "the separator must be one character";
        return std::nullopt;
      }
      if (given.empty()) return std::string(1, '\0');
      std::string out;
      size_t start = 0;
      while (true) {
        const size_t end = given.find(sep, start);
        const std::string part = given.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty()) {
          error = "REG_MULTI_SZ data cannot hold an empty string";
          return std::nullopt;
        }
        out += part;
        out += '\0';
        if (end == std::string::npos) break;
        start = end + sep.size();
      }
      return out + '\0';
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
    case REG_QWORD: {
      const bool qword = type == REG_QWORD;
      if (text == nullptr) return std::string(qword ? 8 : 4, '\0');
      const auto n = ParseNumber(given, qword ? UINT64_MAX : UINT32_MAX);
      if (!n) {
        error = std::string("not a ") + (qword ? "64" : "32") + "-bit number: " + given;
        return std::nullopt;
      }
      std::string bytes = Bytes(*n, qword ? 8 : 4);
      if (type == REG_DWORD_BIG_ENDIAN) bytes = std::string(bytes.rbegin(), bytes.rend());
      return bytes;
    }
    case REG_BINARY: {
      std::string out;
      size_t i = 0;
      if (given.size() % 2 == 1) {
        const int d = HexDigit(given[0]);
        if (d < 0) break;
        out += static_cast<char>(d);
        i = 1;
      }
      for (; i < given.size(); i += 2) {
        const int hi = HexDigit(given[i]), lo = HexDigit(given[i + 1]);
        if (hi < 0 || lo < 0) {
          error = "not hexadecimal data: " + given;
          return std::nullopt;
        }
        out += static_cast<char>(hi * 16 + lo);
      }
      return out;
    }
    default:
      break;
  }
  error = "invalid data for " + TypeName(type);
  return std::nullopt;
}

}  // namespace qreg

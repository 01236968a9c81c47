#include "tools/qreg/src/values/json.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <windows.h>

#include "tools/qreg/src/values/value_text.h"

namespace qreg {
namespace {

// The length of the UTF-8 sequence at the start of text, 0 when it is none.
size_t Utf8Length(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  size_t length = lead < 0x80                   ? 1
                  : lead >= 0xC2 && lead < 0xE0 ? 2
                  : lead >= 0xE0 && lead < 0xF0 ? 3
                  : lead >= 0xF0 && lead < 0xF5 ? 4
                                                : 0;
  if (length == 0 || length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i)
    if ((byte(i) & 0xC0) != 0x80) return 0;
  if (length == 3 && ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) >= 0xA0)))
    return 0;
  if (length == 4 && ((lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) >= 0x90)))
    return 0;
  return length;
}

#ifdef _WIN32
std::string Utf8FromAnsi(std::string_view text) {
  if (text.empty()) return std::string();
  const int wide =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring units(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), units.data(), wide);
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, units.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, units.data(), wide, out.data(), size, nullptr, nullptr);
  return out;
}
#endif

// Narrow text is ANSI on Windows, which always converts; elsewhere UTF-8.
bool IsText(std::string_view narrow) {
#ifdef _WIN32
  (void)narrow;
  return true;
#else
  for (size_t i = 0; i < narrow.size();) {
    const size_t n = Utf8Length(narrow.substr(i));
    if (n == 0) return false;
    i += n;
  }
  return true;
#endif
}

std::string Field(const char* name, const std::string& json) {
  return std::string(",\"") + name + "\":" + json;
}

}  // namespace

std::string JsonString(std::string_view narrow) {
#ifdef _WIN32
  const std::string utf8 = Utf8FromAnsi(narrow);
  std::string_view text = utf8;
#else
  std::string_view text = narrow;
#endif
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t n = Utf8Length(text.substr(i));
    if (n > 1) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    ++i;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || n == 0) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string ValueJson(const Value& value) {
  std::string out =
      "{\"name\":" + JsonString(value.name) + Field("type", JsonString(TypeName(value.type)));
  const std::string_view data = value.data;
  switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      const std::string_view text = data.substr(0, data.find('\0'));
      if (IsText(text)) return out + Field("data", JsonString(text)) + "}";
      break;
    }
    case REG_MULTI_SZ: {
      std::string list = "[";
      bool text = true;
      for (const std::string& part : MultiStrings(data)) {
        text = text && IsText(part);
        list += (list.size() > 1 ? "," : "") + JsonString(part);
      }
      if (text) return out + Field("data", list + "]") + "}";
      break;
    }
    case REG_DWORD:
    case REG_QWORD:
      if (data.size() == (value.type == REG_DWORD ? 4u : 8u)) {
        uint64_t n = 0;
        for (size_t i = data.size(); i-- > 0;) n = (n << 8) | static_cast<unsigned char>(data[i]);
        return out + Field("data", std::to_string(n)) + "}";
      }
      break;
    default:
      break;
  }
  return out + Field("hex", "\"" + FormatData(REG_BINARY, data) + "\"") + "}";
}

}  // namespace qreg

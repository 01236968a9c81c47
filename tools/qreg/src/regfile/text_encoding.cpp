#include "tools/qreg/src/regfile/text_encoding.h"

#include <cstdint>
#include <vector>
#include <windows.h>

namespace qreg {
namespace {

#ifdef _WIN32
std::optional<std::string> AnsiFromWide(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::nullopt;
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}
#else
void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}
#endif

#ifdef _WIN32
void AppendUnit(std::string& out, uint32_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
}
#endif

}  // namespace

std::optional<std::string> Utf16FromNarrow(std::string_view narrow) {
  std::string out;
  out.reserve(narrow.size() * 2);
#ifdef _WIN32
  if (narrow.empty()) return out;
  const int size =
      MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), wide.data(), size);
  for (wchar_t unit : wide) AppendUnit(out, static_cast<uint16_t>(unit));
#else
  // Every sequence of the input gives at most two bytes per byte it has.
  out.resize(narrow.size() * 2);
  char* next = out.data();
  const auto put = [&next](uint32_t unit) {
    *next++ = static_cast<char>(unit & 0xFF);
    *next++ = static_cast<char>(unit >> 8);
  };
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(narrow[i]); };
  for (size_t i = 0; i < narrow.size();) {
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
      put(lead);
      ++i;
      continue;
    }
    const size_t length = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    if (length == 0 || i + length > narrow.size()) return std::nullopt;
    uint32_t c = lead & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no UTF-8.
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
        (c >= 0xD800 && c <= 0xDFFF))
      return std::nullopt;
    if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
    i += length;
  }
  out.resize(static_cast<size_t>(next - out.data()));
#endif
  return out;
}

std::optional<std::string> NarrowFromUtf16(std::string_view bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::vector<uint16_t> units(bytes.size() / 2);
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<uint16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
#ifdef _WIN32
  return AnsiFromWide(std::wstring(units.begin(), units.end()));
#else
  std::string out;
  out.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
        return std::nullopt;
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return std::nullopt;
    }
    AppendUtf8(out, c);
  }
  return out;
#endif
}

FileEncoding DetectEncoding(std::string_view start, size_t& markLength) {
  markLength = 0;
  if (start.starts_with("\xFF\xFE")) {
    markLength = 2;
    return FileEncoding::kUtf16;
  }
  if (start.starts_with("\xEF\xBB\xBF")) {
    markLength = 3;
    return FileEncoding::kUtf8;
  }
  return FileEncoding::kNarrow;
}

size_t UnitSize(FileEncoding encoding) { return encoding == FileEncoding::kUtf16 ? 2 : 1; }

std::optional<std::string> DecodeText(FileEncoding encoding, std::string_view bytes) {
  if (encoding == FileEncoding::kUtf16) return NarrowFromUtf16(bytes);
#ifdef _WIN32
  if (encoding == FileEncoding::kUtf8) {
    if (bytes.empty()) return std::string();
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                         static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) return std::nullopt;
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                        size);
    return AnsiFromWide(wide);
  }
#endif
  return std::string(bytes);
}

}  // namespace qreg

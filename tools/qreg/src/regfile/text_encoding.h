// Conversions between .reg file encodings and the narrow text the ANSI
// registry functions take: the ANSI code page on Windows, UTF-8 elsewhere.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qreg {

// How a file's text is encoded, told by its byte-order mark.
enum class FileEncoding { kNarrow, kUtf8, kUtf16 };

// The encoding of a file that starts with `start` (its first bytes, at least
// three unless the file is shorter), and the length of its byte-order mark.
FileEncoding DetectEncoding(std::string_view start, size_t& markLength);
// Bytes per character unit: 2 for UTF-16, else 1.
size_t UnitSize(FileEncoding encoding);
// One line's bytes (after the mark) as narrow text; nullopt when they do not
// decode.
std::optional<std::string> DecodeText(FileEncoding encoding, std::string_view bytes);
// UTF-16LE bytes (an even count) as narrow text.
std::optional<std::string> NarrowFromUtf16(std::string_view bytes);

}  // namespace qreg

// Conversions between .reg file encodings and the narrow text the ANSI
// registry functions take: the ANSI code page on Windows, UTF-8 elsewhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qreg {

// The file's text in narrow form, after its byte-order mark; nullopt when
// UTF-16 or UTF-8 content does not decode.
std::optional<std::string> DecodeFileText(std::string_view bytes);
// UTF-16LE bytes (an even count) as narrow text.
std::optional<std::string> NarrowFromUtf16(std::string_view bytes);

}  // namespace qreg

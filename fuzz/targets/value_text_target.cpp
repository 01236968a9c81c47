// The value text parser (qreg add's /t, /d and /s) and the printer (query's
// output) on any text: parsing never fails silently, and what it accepts
// prints back as it was given (numbers and bytes re-parse to the same bytes).
#include <string>
#include <windows.h>

#include "fuzz/targets/check.h"
#include "fuzz/targets/targets.h"
#include "tools/qreg/src/values/value_text.h"

namespace regkey::fuzz {
namespace {

const DWORD kTypes[] = {REG_SZ,    REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_DWORD_BIG_ENDIAN,
                        REG_QWORD, REG_BINARY,    REG_NONE,     REG_LINK,  0x12345};

std::optional<std::string> Parse(DWORD type, const std::string* text, const std::string* separator,
                                 std::string& error) {
  error.clear();
  auto bytes = qreg::ParseData(type, text, separator, error);
  FUZZ_CHECK(bytes.has_value() || !error.empty(), "refused without a message");
  return bytes;
}

void CheckAccepted(DWORD type, const std::string* text, const std::string* separator,
                   const std::string& bytes) {
  const std::string given = text != nullptr ? *text : std::string();
  const std::string printed = qreg::FormatData(type, bytes);
  std::string error;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      FUZZ_CHECK(bytes == given + '\0', "string stored as " + Show(bytes));
      FUZZ_CHECK(printed == given, "string printed as " + Show(printed));
      break;
    case REG_MULTI_SZ: {
      FUZZ_CHECK(!bytes.empty() && bytes.back() == '\0', "list without its final zero");
      if (separator == nullptr) FUZZ_CHECK(printed == given, "list printed as " + Show(printed));
      // Printed lists join with \0, which the default separator splits again.
      if (separator == nullptr || given.find("\\0") == std::string::npos) {
        const auto again = Parse(type, &printed, nullptr, error);
        FUZZ_CHECK(again && *again == bytes, "printed list " + Show(printed) + " re-parses to " +
                                                 (again ? Show(*again) : error));
      }
      break;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
    case REG_QWORD:
    case REG_BINARY: {
      FUZZ_CHECK(type == REG_BINARY || bytes.size() == (type == REG_QWORD ? 8u : 4u),
                 "number stored in " + std::to_string(bytes.size()) + " bytes");
      const auto again = Parse(type, &printed, nullptr, error);
      FUZZ_CHECK(again && *again == bytes,
                 "printed " + Show(printed) + " re-parses to " + (again ? Show(*again) : error));
      break;
    }
    default:
      break;
  }
}

}  // namespace

// Input: a type selector byte, a flags byte (bit 0: no /d, bit 1: a /s), then
// the /d text, then after a zero byte the /s text.
int FuzzValueText(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const DWORD type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
  const std::uint8_t flags = data[1];
  const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::size_t zero = rest.find('\0');
  const std::string text = rest.substr(0, zero);
  const std::string separator = zero == std::string::npos ? std::string() : rest.substr(zero + 1);

  // Any bytes print, and binary bytes re-parse from their printed form.
  (void)qreg::FormatData(type, rest);
  std::string error;
  const std::string hex = qreg::FormatData(REG_BINARY, rest);
  const auto binary = Parse(REG_BINARY, &hex, nullptr, error);
  FUZZ_CHECK(binary && *binary == rest, "binary bytes printed as " + Show(hex) + " re-parse to " +
                                            (binary ? Show(*binary) : error));

  if (const auto named = qreg::ParseTypeName(text))
    FUZZ_CHECK(qreg::ParseTypeName(qreg::TypeName(*named)) == named,
               "type name " + Show(text) + " does not survive printing");

  const std::string* given = (flags & 1) ? nullptr : &text;
  const std::string* sep = (flags & 2) ? &separator : nullptr;
  if (const auto bytes = Parse(type, given, sep, error)) CheckAccepted(type, given, sep, *bytes);
  return 0;
}

}  // namespace regkey::fuzz

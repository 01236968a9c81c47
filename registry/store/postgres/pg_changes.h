// The text a commit sends with NOTIFY: the number of its first change on
// the server's change counter, then one line per change:
//
//   <first>\n<kind in hex>[t] <path>\n...
//
// with `t` marking a path cut short (only its start is given) and every
// path byte outside '!'..'~', and '%' itself, written as %XX. A payload
// never exceeds NOTIFY's limit: paths are cut short to fit, and when even
// that cannot fit, the changes are sent as a count alone, `<first>*<count>`,
// which wakes every request.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/store/change_feed.h"

namespace regkey::registry::pg {

// NOTIFY takes payloads shorter than 8000 bytes.
inline constexpr std::size_t kMaxPayload = 7999;
// The most changes one commit may report.
inline constexpr std::int64_t kMaxChanges = 100'000'000;

// What follows the first number, for `changes` (at least one).
std::string EncodeChanges(const std::vector<ChangeRow>& changes);

struct Decoded {
  std::int64_t first = 0;  // server number of the first change
  std::int64_t count = 0;  // how many changes the commit made
  // The changes; a count alone gives one row that matches every request.
  std::vector<ChangeRow> rows;
};

// False for text that is not such a payload.
bool DecodeChanges(std::string_view payload, Decoded& decoded);

}  // namespace regkey::registry::pg

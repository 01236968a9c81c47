#include "registry/store/postgres/pg_changes.h"

#include <algorithm>
#include <charconv>

namespace regkey::registry::pg {
namespace {

// Room for the first number, which the server puts in front.
constexpr std::size_t kHeader = 20;
// A line's newline, kind (at most five hex digits), mark and space.
constexpr std::size_t kLineOverhead = 8;

bool Plain(unsigned char byte) { return byte >= '!' && byte <= '~' && byte != '%'; }

std::size_t EscapedSize(unsigned char byte) { return Plain(byte) ? 1 : 3; }

void AppendEscaped(std::string& out, std::string_view path, std::size_t bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < bytes; ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (Plain(byte)) {
      out += static_cast<char>(byte);
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool KnownKind(long kind) {
  return kind == kChangeName || kind == kChangeLastSet || kind == kChangeDeleted ||
         kind == kChangeTreeDeleted;
}

}  // namespace

std::string EncodeChanges(const std::vector<ChangeRow>& changes) {
  const std::size_t count = changes.size();
  std::size_t whole = kHeader;
  for (const ChangeRow& change : changes) {
    whole += kLineOverhead;
    for (const char c : change.path) whole += EscapedSize(static_cast<unsigned char>(c));
  }
  // Too long: every path gets an equal share, and is cut short beyond it.
  std::size_t share = std::string::npos;
  if (whole > kMaxPayload) {
    const std::size_t fixed = kHeader + kLineOverhead * count;
    share = fixed < kMaxPayload ? (kMaxPayload - fixed) / count : 0;
    if (share < 8) {
      std::string bare = "*";
      bare.append(std::to_string(count));
      return bare;
    }
  }
  std::string out;
  out.reserve(std::min(whole, kMaxPayload));
  char kind[16];
  for (const ChangeRow& change : changes) {
    std::size_t bytes = 0;
    std::size_t size = 0;
    while (bytes < change.path.size()) {
      const std::size_t next = EscapedSize(static_cast<unsigned char>(change.path[bytes]));
      if (size + next > share) break;
      size += next;
      ++bytes;
    }
    const bool cut = change.truncated || bytes < change.path.size();
    const auto end = std::to_chars(kind, kind + sizeof kind, change.kind, 16).ptr;
    out += '\n';
    out.append(kind, end);
    if (cut) out += 't';
    out += ' ';
    AppendEscaped(out, change.path, bytes);
  }
  return out;
}

bool DecodeChanges(std::string_view payload, Decoded& decoded) {
  decoded = Decoded{};
  if (payload.size() > kMaxPayload) return false;
  const char* at = payload.data();
  const char* const end = at + payload.size();
  auto [stop, error] = std::from_chars(at, end, decoded.first);
  if (error != std::errc() || stop == at || decoded.first < 1 || decoded.first > kMaxChanges * 1000)
    return false;
  at = stop;
  if (at < end && *at == '*') {
    ++at;
    auto [countStop, countError] = std::from_chars(at, end, decoded.count);
    if (countError != std::errc() || countStop != end || decoded.count < 1 ||
        decoded.count > kMaxChanges)
      return false;
    ChangeRow all;
    all.kind = kChangeTreeDeleted;
    all.truncated = true;
    decoded.rows.push_back(all);
    return true;
  }
  while (at < end) {
    if (*at++ != '\n') return false;
    long kind = 0;
    auto [kindStop, kindError] = std::from_chars(at, end, kind, 16);
    if (kindError != std::errc() || kindStop == at || !KnownKind(kind)) return false;
    at = kindStop;
    ChangeRow row;
    row.kind = static_cast<int>(kind);
    if (at < end && *at == 't') {
      row.truncated = true;
      ++at;
    }
    if (at == end || *at++ != ' ') return false;
    while (at < end && *at != '\n') {
      const auto byte = static_cast<unsigned char>(*at);
      if (byte == '%') {
        if (end - at < 3) return false;
        const int high = HexDigit(at[1]);
        const int low = HexDigit(at[2]);
        if (high < 0 || low < 0) return false;
        row.path += static_cast<char>((high << 4) | low);
        at += 3;
      } else if (Plain(byte)) {
        row.path += static_cast<char>(byte);
        ++at;
      } else {
        return false;
      }
    }
    decoded.rows.push_back(std::move(row));
  }
  decoded.count = static_cast<std::int64_t>(decoded.rows.size());
  return decoded.count > 0;
}

}  // namespace regkey::registry::pg

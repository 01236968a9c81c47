// Reading .reg files: the whole file is parsed and checked before anyone acts
// on it, so a bad line refuses the file as a whole. The file streams in line
// by line; only the parsed values are kept.
#include <string_view>
#include <vector>
#include <windows.h>

#include "tools/qreg/src/cli/text.h"
#include "tools/qreg/src/regfile/line_reader.h"
#include "tools/qreg/src/regfile/reg_file.h"
#include "tools/qreg/src/regfile/text_encoding.h"

namespace qreg {
namespace {

constexpr size_t kMaxKeyPart = 255;
constexpr size_t kMaxValueName = 16383;

bool Blank(char c) { return c == ' ' || c == '\t'; }

bool IsComment(std::string_view trimmed) {
  return trimmed.starts_with(';') || trimmed.starts_with('#');
}

// A quoted string at the start of text (past the opening quote); the rest
// after the closing quote is left in text.
bool ReadQuoted(std::string_view& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      text.remove_prefix(i + 1);
      return true;
    }
    if (c == '\\' && i + 1 < text.size()) {
      const char next = text[++i];
      switch (next) {
        case '\\':
        case '"':
          out += next;
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        default:  // unknown escapes stand as written
          out += '\\';
          out += next;
          break;
      }
      continue;
    }
    out += c;
  }
  return false;
}

// Only blanks or a comment may follow a complete value.
bool OnlyTrailer(std::string_view rest) {
  rest = Trim(rest);
  return rest.empty() || rest.starts_with(';');
}

// A list of hex bytes given piece by piece ("01,ab," then "2f"): a byte may
// be split between pieces, blanks may surround a byte, one trailing comma is
// allowed.
class HexList {
 public:
  bool Add(std::string_view piece, std::string& bytes) {
    for (char c : piece) {
      if (c == ',') {
        if (digits_ == 0) return Bad("an empty hex byte");
        bytes += static_cast<char>(byte_);
        digits_ = byte_ = 0;
        closed_ = false;
      } else if (Blank(c)) {
        closed_ = digits_ != 0;
      } else {
        const int d = HexDigit(c);
        if (d < 0 || closed_ || digits_ == 2)
          return Bad("bad hex byte near '" + std::string(1, c) + "'");
        byte_ = byte_ * 16 + d;
        ++digits_;
      }
    }
    return true;
  }
  // After the last piece.
  void End(std::string& bytes) const {
    if (digits_ != 0) bytes += static_cast<char>(byte_);
  }
  const std::string& Error() const { return error_; }

 private:
  bool Bad(std::string why) {
    error_ = std::move(why);
    return false;
  }

  int byte_ = 0, digits_ = 0;
  bool closed_ = false;  // blanks after a byte's digits
  std::string error_;
};

class Parser {
 public:
  Parser(LineReader& reader, RegFile& file, RegFileError& error)
      : reader_(reader), file_(file), error_(error) {}

  bool Run() {
    std::string line;
    while (reader_.Next(line) && Trim(line).empty()) {
    }
    if (!reader_.Failure().empty()) return ReaderFailed();
    if (reader_.Number() == 0 || Trim(line).empty())
      return Fail(1, "the file is empty: no REGEDIT4 header");
    const std::string_view h = Trim(line);
    if (h == "REGEDIT4") {
      unicode_ = false;
    } else if (h == "Windows Registry Editor Version 5.00") {
      unicode_ = true;
    } else {
      return Fail(reader_.Number(),
                  "missing header (REGEDIT4 or Windows Registry Editor Version 5.00)");
    }
    while (reader_.Next(line)) {
      const int number = reader_.Number();
      const std::string_view t = Trim(line);
      if (t.empty() || IsComment(t)) continue;
      if (t.front() == '[') {
        if (!Section(line, number)) return false;
      } else if (t.front() == '@' || t.front() == '"') {
        if (!Entry(t, number)) return false;
      } else {
        return Fail(number, "neither a [key] nor a value");
      }
    }
    if (!reader_.Failure().empty()) return ReaderFailed();
    return true;
  }

 private:
  bool Fail(int line, std::string reason) {
    error_.line = line;
    error_.reason = std::move(reason);
    return false;
  }

  bool ReaderFailed() { return Fail(reader_.FailureLine(), reader_.Failure()); }

  // The key's name is kept exactly, blanks included: it runs from the [ to
  // the last ] of the line, after which only blanks or a comment may follow.
  bool Section(std::string_view t, int number) {
    while (!t.empty() && Blank(t.front())) t.remove_prefix(1);
    const size_t close = t.rfind(']');
    if (close == std::string_view::npos) return Fail(number, "key name without its closing ]");
    if (!OnlyTrailer(t.substr(close + 1)))
      return Fail(number, "text after the ] that closes the key name");
    std::string_view name = t.substr(1, close - 1);
    RegSection section;
    section.line = number;
    if (name.starts_with('-')) {
      section.remove = true;
      name.remove_prefix(1);
    }
    const auto key = ParseKeyPath(name);
    if (!key && name.starts_with("\\\\"))
      return Fail(number, "not a key of another machine's HKEY_LOCAL_MACHINE or HKEY_USERS: " +
                              std::string(name));
    if (!key) return Fail(number, "key outside the registry roots: " + std::string(name));
    if (key->path.empty() && section.remove) return Fail(number, "a root key cannot be deleted");
    std::string_view rest = key->path;
    while (!rest.empty()) {
      const size_t end = rest.find('\\');
      const std::string_view part = rest.substr(0, end);
      if (part.empty()) return Fail(number, "empty key name between backslashes");
      if (part.size() > kMaxKeyPart) return Fail(number, "key name longer than 255 characters");
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
    section.key = *key;
    file_.sections.push_back(std::move(section));
    return true;
  }

  bool Entry(std::string_view t, int number) {
    if (file_.sections.empty() || file_.sections.back().remove)
      return Fail(number, "value outside a key section");
    RegEntry entry;
    entry.line = number;
    if (t.front() == '@') {
      t.remove_prefix(1);
    } else {
      t.remove_prefix(1);
      if (!ReadQuoted(t, entry.value.name)) return Fail(number, "value name without closing \"");
      if (entry.value.name.empty()) return Fail(number, "empty value name: write @ instead");
      if (entry.value.name.size() > kMaxValueName) return Fail(number, "value name too long");
    }
    t = Trim(t);
    if (!t.starts_with('=')) return Fail(number, "= missing after the value name");
    t = Trim(t.substr(1));
    if (!Data(t, number, entry)) return false;
    file_.sections.back().entries.push_back(std::move(entry));
    return true;
  }

  bool Data(std::string_view t, int number, RegEntry& entry) {
    Value& value = entry.value;
    if (t.starts_with('-') && OnlyTrailer(t.substr(1))) {
      entry.remove = true;
      return true;
    }
    if (t.starts_with('"')) {
      t.remove_prefix(1);
      if (!ReadQuoted(t, value.data)) return Fail(number, "string without closing \"");
      if (!OnlyTrailer(t)) return Fail(number, "text after the closing \"");
      if (value.data.size() >= kMaxValueBytes) return Fail(number, "value larger than 16 MiB");
      value.type = REG_SZ;
      value.data += '\0';
      return true;
    }
    const std::string lower = Lower(t.substr(0, 9));
    if (lower.starts_with("dword:")) {
      std::string_view digits = t.substr(6);
      const size_t end = digits.find_first_of(" \t;");
      if (!OnlyTrailer(digits.substr(end == std::string_view::npos ? digits.size() : end)))
        return Fail(number, "bad dword data");
      digits = digits.substr(0, end);
      if (digits.empty() || digits.size() > 8) return Fail(number, "dword needs 1 to 8 hex digits");
      DWORD n = 0;
      for (char c : digits) {
        const int d = HexDigit(c);
        if (d < 0) return Fail(number, "bad hex digit in dword data");
        n = (n << 4) | static_cast<DWORD>(d);
      }
      value.type = REG_DWORD;
      value.data.assign(4, '\0');
      for (int i = 0; i < 4; ++i) value.data[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
      return true;
    }
    if (lower.starts_with("hex:")) {
      value.type = REG_BINARY;
      t.remove_prefix(4);
    } else if (lower.starts_with("hex(")) {
      const size_t close = t.find("):");
      if (close == std::string_view::npos || close < 5 || close > 12)
        return Fail(number, "bad hex(type) prefix");
      DWORD type = 0;
      for (char c : t.substr(4, close - 4)) {
        const int d = HexDigit(c);
        if (d < 0) return Fail(number, "bad hex digit in the type of hex(type)");
        type = (type << 4) | static_cast<DWORD>(d);
      }
      value.type = type;
      t.remove_prefix(close + 2);
    } else {
      return Fail(number, "unknown value type");
    }
    return Hex(t, number, value);
  }

  // Comma-separated bytes, continued onto further lines by a trailing
  // backslash; taken in line by line, so no more than the value is held.
  bool Hex(std::string_view t, int number, Value& value) {
    std::string bytes;
    HexList list;
    std::string line;
    while (true) {
      std::string_view part = Trim(t.substr(0, t.find(';')));
      const bool continued = part.ends_with('\\');
      if (continued) part.remove_suffix(1);
      if (!list.Add(part, bytes)) return Fail(number, list.Error());
      if (bytes.size() > kMaxValueBytes) return Fail(number, "value larger than 16 MiB");
      if (!continued) break;
      bool more = false;
      while ((more = reader_.Next(line)) && IsComment(Trim(line))) {
      }
      if (!more) {
        if (!reader_.Failure().empty()) return ReaderFailed();
        return Fail(number, "hex data continued past the end of file");
      }
      const std::string_view next = Trim(line);
      if (next.empty() || next.starts_with('[') || next.starts_with('"') || next.starts_with('@'))
        return Fail(reader_.Number(), "hex data continued by a line that does not continue it");
      t = next;
      number = reader_.Number();
    }
    list.End(bytes);
    const bool text =
        value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
    if (unicode_ && text) {
      // Version 5 files hold these types' bytes in UTF-16LE.
      const auto narrow = NarrowFromUtf16(bytes);
      if (!narrow) return Fail(number, "string data that is not UTF-16");
      bytes = *narrow;
      if (bytes.size() > kMaxValueBytes) return Fail(number, "value larger than 16 MiB");
    }
    value.data = std::move(bytes);
    return true;
  }

  LineReader& reader_;
  bool unicode_ = false;
  RegFile& file_;
  RegFileError& error_;
};

}  // namespace

bool ReadRegFile(ByteSource& source, RegFile& file, RegFileError& error) {
  file = RegFile{};
  LineReader reader(source, kMaxLineLength);
  Parser parser(reader, file, error);
  if (parser.Run()) return true;
  file = RegFile{};
  return false;
}

bool ParseRegFile(const std::string& bytes, RegFile& file, RegFileError& error) {
  StringSource source(bytes);
  return ReadRegFile(source, file, error);
}

}  // namespace qreg

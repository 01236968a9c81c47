// Reading .reg files: the whole file is parsed and checked before anyone acts
// on it, so a bad line refuses the file as a whole.
#include <windows.h>

#include <string_view>
#include <vector>

#include "cli/text.h"
#include "regfile/reg_file.h"
#include "regfile/text_encoding.h"

namespace qreg {
namespace {

constexpr size_t kMaxKeyPart = 255;
constexpr size_t kMaxValueName = 16383;

struct Line {
  std::string_view text;
  int number;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  int number = 1;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back({line, number++});
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

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

class Parser {
 public:
  Parser(std::vector<Line> lines, RegFile& file, RegFileError& error)
      : lines_(std::move(lines)), file_(file), error_(error) {}

  bool Run() {
    while (next_ < lines_.size() && Trim(lines_[next_].text).empty()) ++next_;
    if (next_ == lines_.size()) return Fail(1, "the file is empty: no REGEDIT4 header");
    const Line& header = lines_[next_++];
    const std::string_view h = Trim(header.text);
    if (h == "REGEDIT4") {
      unicode_ = false;
    } else if (h == "Windows Registry Editor Version 5.00") {
      unicode_ = true;
    } else {
      return Fail(header.number,
                  "missing header (REGEDIT4 or Windows Registry Editor Version 5.00)");
    }
    while (next_ < lines_.size()) {
      const Line& line = lines_[next_++];
      const std::string_view t = Trim(line.text);
      if (t.empty() || IsComment(t)) continue;
      if (t.front() == '[') {
        if (!Section(t, line.number)) return false;
      } else if (t.front() == '@' || t.front() == '"') {
        if (!Entry(t, line.number)) return false;
      } else {
        return Fail(line.number, "neither a [key] nor a value");
      }
    }
    return true;
  }

 private:
  bool Fail(int line, std::string reason) {
    error_.line = line;
    error_.reason = std::move(reason);
    return false;
  }

  bool Section(std::string_view t, int number) {
    if (!t.ends_with(']')) return Fail(number, "key name without its closing ]");
    std::string_view name = Trim(t.substr(1, t.size() - 2));
    RegSection section;
    section.line = number;
    if (name.starts_with('-')) {
      section.remove = true;
      name.remove_prefix(1);
    }
    if (name.starts_with("\\\\")) return Fail(number, "a key on another machine");
    const auto key = ParseKeyPath(name);
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
    if (file_.sections.back().key.path.empty())
      return Fail(number, "values directly under a root key are not supported");
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
  // backslash.
  bool Hex(std::string_view t, int number, Value& value) {
    std::string list;
    while (true) {
      std::string_view part = t.substr(0, t.find(';'));
      part = Trim(part);
      if (!part.ends_with('\\')) {
        list += part;
        break;
      }
      part.remove_suffix(1);
      list += part;
      while (next_ < lines_.size() && IsComment(Trim(lines_[next_].text))) ++next_;
      if (next_ == lines_.size()) return Fail(number, "hex data continued past the end of file");
      const std::string_view continued = Trim(lines_[next_].text);
      if (continued.empty() || continued.starts_with('[') || continued.starts_with('"') ||
          continued.starts_with('@'))
        return Fail(lines_[next_].number, "hex data continued by a line that does not continue it");
      t = continued;
      number = lines_[next_++].number;
    }
    std::string bytes;
    std::string_view rest = list;
    while (!rest.empty()) {
      const size_t comma = rest.find(',');
      const std::string_view item = Trim(rest.substr(0, comma));
      if (item.empty() && comma == std::string_view::npos) break;  // trailing comma
      if (item.empty() || item.size() > 2)
        return Fail(number, "bad hex byte '" + std::string(item) + "'");
      int byte = 0;
      for (char c : item) {
        const int d = HexDigit(c);
        if (d < 0) return Fail(number, "bad hex byte '" + std::string(item) + "'");
        byte = byte * 16 + d;
      }
      bytes += static_cast<char>(byte);
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    const bool text =
        value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
    if (unicode_ && text) {
      // Version 5 files hold these types' bytes in UTF-16LE.
      const auto narrow = NarrowFromUtf16(bytes);
      if (!narrow) return Fail(number, "string data that is not UTF-16");
      bytes = *narrow;
    }
    value.data = std::move(bytes);
    return true;
  }

  std::vector<Line> lines_;
  size_t next_ = 0;
  bool unicode_ = false;
  RegFile& file_;
  RegFileError& error_;
};

}  // namespace

bool ParseRegFile(const std::string& bytes, RegFile& file, RegFileError& error) {
  file = RegFile{};
  const auto text = DecodeFileText(bytes);
  if (!text) {
    error = {1, "the file's text does not decode"};
    return false;
  }
  if (text->find('\0') != std::string::npos) {
    int line = 1;
    for (char c : text->substr(0, text->find('\0'))) line += c == '\n';
    error = {line, "a zero byte in the text"};
    return false;
  }
  Parser parser(SplitLines(*text), file, error);
  if (parser.Run()) return true;
  file = RegFile{};
  return false;
}

}  // namespace qreg

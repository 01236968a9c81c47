// The .reg reader on any bytes, in every encoding it takes; whatever it
// accepts must come back the same after writing it, as REGEDIT4 and as
// version 5 (UTF-16LE), and reading it again.
#include <algorithm>
#include <string>
#include <string_view>

#include "fuzz/targets/check.h"
#include "fuzz/targets/targets.h"
#include "tools/qreg/src/regfile/line_reader.h"
#include "tools/qreg/src/regfile/reg_file.h"

namespace regkey::fuzz {
namespace {

// The first byte chooses how the rest is presented: as it is, behind a UTF-8
// byte-order mark, or widened to UTF-16LE behind its mark (so that mutations
// of readable text reach the UTF-16 reader).
std::string Present(const std::uint8_t* data, std::size_t size) {
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 1:
      return "\xEF\xBB\xBF" + rest;
    case 2: {
      std::string wide = "\xFF\xFE";
      for (char c : rest) {
        wide += c;
        wide += '\0';
      }
      return wide;
    }
    default:
      return rest;
  }
}

std::string Describe(const qreg::RegFile& file) {
  std::string out;
  for (const qreg::RegSection& section : file.sections) {
    out += (section.remove ? "[-" : "[") + Show(section.key.FullName()) + "]\n";
    for (const qreg::RegEntry& entry : section.entries) {
      out += "  " + Show(entry.value.name) +
             (entry.remove
                  ? " removed"
                  : " type " + std::to_string(entry.value.type) + " " + Show(entry.value.data)) +
             "\n";
    }
  }
  return out;
}

bool SameKey(const qreg::KeyPath& a, const qreg::KeyPath& b) {
  return a.machine == b.machine && a.root == b.root && a.path == b.path;
}

bool SameEntry(const qreg::RegEntry& a, const qreg::RegEntry& b) {
  if (a.remove != b.remove || a.value.name != b.value.name) return false;
  return a.remove || (a.value.type == b.value.type && a.value.data == b.value.data);
}

bool SameFile(const qreg::RegFile& a, const qreg::RegFile& b) {
  if (a.sections.size() != b.sections.size()) return false;
  for (std::size_t i = 0; i < a.sections.size(); ++i) {
    const qreg::RegSection& x = a.sections[i];
    const qreg::RegSection& y = b.sections[i];
    if (!SameKey(x.key, y.key) || x.remove != y.remove || x.entries.size() != y.entries.size())
      return false;
    for (std::size_t j = 0; j < x.entries.size(); ++j)
      if (!SameEntry(x.entries[j], y.entries[j])) return false;
  }
  return true;
}

// Gives the bytes in pieces of 1 to 8 bytes, cycling through sizes chosen by
// the input, so that lines, byte-order marks and UTF-16 units fall across
// reads.
class PieceSource final : public qreg::ByteSource {
 public:
  PieceSource(std::string_view bytes, std::uint8_t sizes) : bytes_(bytes), sizes_(sizes) {}
  bool Read(char* buffer, std::size_t size, std::size_t& got) override {
    const std::size_t piece = 1 + ((sizes_ >> (2 * (turn_++ % 4))) & 7);
    got = std::min({size, piece, bytes_.size()});
    bytes_.copy(buffer, got);
    bytes_.remove_prefix(got);
    return true;
  }

 private:
  std::string_view bytes_;
  std::uint8_t sizes_;
  unsigned turn_ = 0;
};

// Written in `format` and read back, the file is what it was, less the
// sections the format cannot carry (which the writer leaves out).
void RoundTrip(const qreg::RegFile& file, qreg::RegFormat format, const std::string& name) {
  qreg::RegFile kept;
  for (const qreg::RegSection& section : file.sections) {
    std::string text;
    std::string why;
    if (qreg::RegSectionText(section, format, text, why)) kept.sections.push_back(section);
  }
  const std::string written = qreg::WriteRegFile(file.sections, format);
  // For the message: version 5's UTF-16 units shown by their low bytes.
  std::string shown;
  for (std::size_t i = format == qreg::RegFormat::kVersion5 ? 2 : 0; i < written.size();
       i += format == qreg::RegFormat::kVersion5 ? 2 : 1)
    shown += written[i];
  qreg::RegFile again;
  qreg::RegFileError error;
  FUZZ_CHECK(qreg::ParseRegFile(written, again, error),
             "the reader refuses what the " + name + " writer wrote (line " +
                 std::to_string(error.line) + ": " + error.reason + "):\n" + shown);
  FUZZ_CHECK(SameFile(kept, again),
             "written as " + name + " and read back, the file changed:\nread:\n" + Describe(kept) +
                 "read back:\n" + Describe(again) + "written:\n" + shown);
}

}  // namespace

int FuzzRegFile(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string bytes = Present(data, size);
  qreg::RegFile file;
  qreg::RegFileError error;
  const bool accepted = qreg::ParseRegFile(bytes, file, error);
  // Read in small pieces, the file gives the same result.
  PieceSource source(bytes, data[0]);
  qreg::RegFile pieces;
  qreg::RegFileError pieceError;
  const bool piecesAccepted = qreg::ReadRegFile(source, pieces, pieceError);
  FUZZ_CHECK(accepted == piecesAccepted && error.line == pieceError.line &&
                 error.reason == pieceError.reason && SameFile(file, pieces),
             "read in pieces, the file reads differently: " + std::to_string(accepted) + " " +
                 std::to_string(error.line) + " " + error.reason + " / " +
                 std::to_string(piecesAccepted) + " " + std::to_string(pieceError.line) + " " +
                 pieceError.reason);
  if (!accepted) {
    FUZZ_CHECK(file.sections.empty(), "a refused file left sections behind");
    FUZZ_CHECK(!error.reason.empty() && error.line >= 1, "a refusal without a line and reason");
    return 0;
  }
  RoundTrip(file, qreg::RegFormat::kRegedit4, "REGEDIT4");
  RoundTrip(file, qreg::RegFormat::kVersion5, "version 5");
  return 0;
}

}  // namespace regkey::fuzz

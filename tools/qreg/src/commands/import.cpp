// Import reads and checks the whole file (or standard input) first, then
// hands it to the one function that applies it.
#include <string>

#include "tools/qreg/src/commands/apply_reg_file.h"
#include "tools/qreg/src/commands/commands.h"
#include "tools/qreg/src/console/console.h"
#include "tools/qreg/src/files/input_file.h"
#include "tools/qreg/src/regfile/reg_file.h"

namespace qreg {

int Import(const Words& words) {
  const auto options = CommandOptions("IMPORT", words, {{}, {}}, 1);
  if (!options) return kFailure;
  const std::string& file = options->positional[0];
  const std::string shown = file == "-" ? "standard input" : file;
  InputFile in;
  std::string why;
  if (!in.Open(file, why)) return FailText("Cannot open " + file + ": " + why + ".");
  RegFile reg;
  RegFileError error;
  if (!ReadRegFile(in, reg, error))
    return FailText(shown + " line " + std::to_string(error.line) + ": " + error.reason +
                    "; nothing imported.");
  return ApplyRegFile(reg, shown);
}

}  // namespace qreg

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "access/registry_key.h"
#include "commands/commands.h"
#include "console/console.h"
#include "regfile/reg_file.h"

namespace qreg {

int Export(const Words& words) {
  const auto command = ParseKeyCommand("EXPORT", words, {{"y"}, {}}, 2);
  if (!command) return kFailure;
  const Options& options = command->options;
  const KeyPath& path = command->path;
  if (!path.machine.empty()) return FailText("Cannot export a key of another machine.");
  const std::string file = options.positional[1];
  std::error_code ec;
  if (std::filesystem::exists(file, ec) && !options.Has("y")) {
    if (const auto stop = Confirm(
            "File " + file + " exists, overwrite",
            "File " + file + " exists; input is not a terminal, so give /y to overwrite it."))
      return *stop;
  }
  std::vector<RegSection> sections;
  LONG error = 0;
  std::string where;
  {
    Progress progress("Exported", 0);
    if (!ReadTree(path, true, sections, error, where, &progress))
      return Fail("Cannot read " + where, error);
  }
  const std::string text = WriteRegFile(sections);
  // A temporary file renamed over the target: a failed export leaves no
  // half-written file.
  const std::string temporary = file + ".qreg-tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::filesystem::remove(temporary, ec);
      return Fail("Cannot write " + file, ERROR_WRITE_FAULT);
    }
  }
  std::filesystem::rename(temporary, file, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    return Fail("Cannot write " + file, ERROR_ACCESS_DENIED);
  }
  return Succeed();
}

}  // namespace qreg

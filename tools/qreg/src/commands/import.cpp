#include <fstream>
#include <iterator>

#include "access/registry_key.h"
#include "commands/commands.h"
#include "console/console.h"
#include "regfile/reg_file.h"

namespace qreg {

int Import(const Words& words) {
  const auto options = CommandOptions("IMPORT", words, {{}, {}}, 1);
  if (!options) return kFailure;
  const std::string& file = options->positional[0];
  std::ifstream in(file, std::ios::binary);
  if (!in) return Fail("Cannot open " + file, ERROR_PATH_NOT_FOUND);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return Fail("Cannot read " + file, ERROR_READ_FAULT);

  RegFile reg;
  RegFileError error;
  if (!ParseRegFile(bytes, reg, error))
    return FailText(file + " line " + std::to_string(error.line) + ": " + error.reason +
                    "; nothing imported.");

  Progress progress("Imported", reg.sections.size());
  for (const RegSection& section : reg.sections) {
    progress.Step();
    if (section.key.path.empty()) continue;
    const std::string at = " (" + file + " line " + std::to_string(section.line) + ")";
    if (section.remove) {
      RegistryKey key(section.key, false);
      if (!key.RemoveTree() && key.Error() != ERROR_FILE_NOT_FOUND)
        return Fail("Cannot delete " + section.key.FullName() + at, key.Error());
      continue;
    }
    RegistryKey key(section.key, true);
    if (!key.Open()) return Fail("Cannot create " + section.key.FullName() + at, key.Error());
    for (const RegEntry& entry : section.entries) {
      const bool ok = entry.remove
                          ? key.Remove(entry.value.name) || key.Error() == ERROR_FILE_NOT_FOUND
                          : key.Write(entry.value);
      if (!ok)
        return Fail("Cannot write value " + entry.value.name + " of " + section.key.FullName() +
                        " (" + file + " line " + std::to_string(entry.line) + ")",
                    key.Error());
    }
  }
  return Succeed();
}

}  // namespace qreg

// Copy reads the whole source first, so a target inside the source's own
// subtree is copied once and never chased.
#include "tools/qreg/src/access/tree_walk.h"
#include "tools/qreg/src/commands/commands.h"
#include "tools/qreg/src/console/console.h"
#include "tools/qreg/src/regfile/reg_file.h"

namespace qreg {

int Copy(const Words& words) {
  const auto options = CommandOptions("COPY", words, {{"s", "f"}, {}}, 2);
  if (!options) return kFailure;
  const auto from = CommandKey(options->positional[0]);
  if (!from) return kFailure;
  const auto to = CommandKey(options->positional[1]);
  if (!to) return kFailure;
  if (from->FullName() == to->FullName()) return FailText("Cannot copy a key onto itself.");
  std::vector<RegSection> sections;
  WalkFailure failure;
  if (!ReadTree(*from, options->Has("s"), sections, failure)) return failure.Report();
  // Each key's path below the source, appended to the destination's.
  for (RegSection& section : sections) {
    const std::string& path = section.key.path;
    const size_t below = from->path.empty() ? 0 : from->path.size() + 1;
    section.key = to->Child(path.size() > from->path.size() ? path.substr(below) : std::string());
  }

  if (!options->Has("f")) {
    for (RegSection& section : sections) {
      RegistryKey target(section.key, Access::kRead);
      for (auto it = section.entries.begin(); it != section.entries.end();) {
        Value existing;
        if (!target.Read(it->value.name, existing)) {
          ++it;
          continue;
        }
        const std::string shown = it->value.name.empty() ? "(Default)" : it->value.name;
        const Answer answer = Ask("Value " + shown + " exists, overwrite");
        if (answer == Answer::kNotTerminal)
          return FailText("Value " + shown + " of " + section.key.FullName() +
                          " exists; input is not a terminal, so give /f to overwrite it.");
        it = answer == Answer::kYes ? it + 1 : section.entries.erase(it);
      }
    }
  }
  for (const RegSection& section : sections) {
    RegistryKey target(section.key, Access::kCreate);
    if (!target.Open()) return Fail("Cannot create " + section.key.FullName(), target.Error());
    for (const RegEntry& entry : section.entries)
      if (!target.Write(entry.value))
        return Fail("Cannot write value " + entry.value.name + " of " + section.key.FullName(),
                    target.Error());
  }
  return Succeed();
}

}  // namespace qreg

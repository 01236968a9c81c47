#include "tools/qreg/src/access/tree_walk.h"
#include "tools/qreg/src/commands/commands.h"
#include "tools/qreg/src/console/console.h"

namespace qreg {

int Delete(const Words& words) {
  const auto command = ParseKeyCommand("DELETE", words, {{"ve", "va", "f"}, {"v"}}, 1);
  if (!command) return kFailure;
  const Options& options = command->options;
  const KeyPath& path = command->path;
  if (options.Has("v") + options.Has("ve") + options.Has("va") > 1)
    return FailText("Invalid syntax: give one of /v, /ve and /va.");
  const std::string full = path.FullName();
  const std::string name = options.Has("v") ? *options.Get("v") : std::string();
  const std::string shown = name.empty() ? "(Default)" : name;
  if (!StoreThere(path)) return kFailure;
  RegistryKey key(path, Access::kWrite);
  if (!key.Open()) return Fail("Cannot open " + full, key.Error());

  const bool oneValue = options.Has("v") || options.Has("ve");
  if (!options.Has("f")) {
    const std::string question =
        oneValue            ? "Delete the registry value " + shown + " "
        : options.Has("va") ? "Delete all values under the registry key " + full + " "
        : path.path.empty() ? "Permanently delete every subkey and value of " + full + " "
                            : "Permanently delete the registry key " + full + " ";
    if (const auto stop = Confirm(question, "Not deleted (" + full +
                                                "): input is not a terminal, so give /f to "
                                                "delete without asking."))
      return *stop;
  }
  if (oneValue) {
    if (!key.Remove(name)) return Fail("Cannot delete value " + shown + " of " + full, key.Error());
  } else if (options.Has("va")) {
    if (!key.RemoveAllValues()) return Fail("Cannot delete the values of " + full, key.Error());
  } else {
    WalkFailure failure;
    if (!DeleteTree(path, failure)) return failure.Report();
  }
  return Succeed();
}

}  // namespace qreg

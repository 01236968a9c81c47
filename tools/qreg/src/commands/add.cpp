#include "tools/qreg/src/access/registry_key.h"
#include "tools/qreg/src/commands/commands.h"
#include "tools/qreg/src/console/console.h"
#include "tools/qreg/src/values/value_text.h"

namespace qreg {

int Add(const Words& words) {
  const auto command = ParseKeyCommand("ADD", words, {{"ve", "f"}, {"v", "t", "s", "d"}}, 1);
  if (!command) return kFailure;
  const Options& options = command->options;
  const KeyPath& path = command->path;
  if (options.Has("v") && options.Has("ve"))
    return FailText("Invalid syntax: /v and /ve together.");
  DWORD type = REG_SZ;
  if (const std::string* t = options.Get("t")) {
    const auto parsed = ParseTypeName(*t);
    if (!parsed) return FailText("Invalid syntax: unknown type " + *t + ".");
    type = *parsed;
  }
  if (options.Has("s") && type != REG_MULTI_SZ)
    return FailText("Invalid syntax: /s is for REG_MULTI_SZ only.");
  std::string error;
  const auto data = ParseData(type, options.Get("d"), options.Get("s"), error);
  if (!data) return FailText("Invalid data: " + error + ".");
  const bool valueGiven =
      options.Has("v") || options.Has("ve") || options.Has("t") || options.Has("d");
  Value value{options.Has("v") ? *options.Get("v") : std::string(), type, *data};
  const std::string shown = value.name.empty() ? "(Default)" : value.name;

  RegistryKey key(path, Access::kCreate);
  if (!key.Open()) return Fail("Cannot create " + path.FullName(), key.Error());
  if (valueGiven && !options.Has("f")) {
    Value existing;
    if (key.Read(value.name, existing)) {
      if (const auto stop = Confirm("Value " + shown + " exists, overwrite",
                                    "Value " + shown + " of " + path.FullName() +
                                        " exists; input is not a terminal, so give /f to "
                                        "overwrite it."))
        return *stop;
    } else if (key.Error() != ERROR_FILE_NOT_FOUND) {
      return Fail("Cannot read value " + shown + " of " + path.FullName(), key.Error());
    }
  }
  if (valueGiven && !key.Write(value))
    return Fail("Cannot write value " + shown + " of " + path.FullName(), key.Error());
  return Succeed();
}

}  // namespace qreg

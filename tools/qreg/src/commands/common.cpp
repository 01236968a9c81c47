#include <cstdio>
#include <utility>

#include "tools/qreg/src/access/registry_key.h"
#include "tools/qreg/src/access/store_presence.h"
#include "tools/qreg/src/cli/text.h"
#include "tools/qreg/src/commands/commands.h"
#include "tools/qreg/src/console/console.h"

namespace qreg {

std::optional<Options> CommandOptions(const char* command, const Words& words,
                                      const OptionSpec& spec, size_t positional) {
  std::string error;
  auto options = ParseOptions(words, spec, error);
  if (options && options->positional.size() != positional)
    error = options->positional.size() < positional
                ? "expected " + std::to_string(positional) + " argument(s), got " +
                      std::to_string(options->positional.size())
                : "unexpected argument " + options->positional[positional];
  if (!options || options->positional.size() != positional) {
    FailText("Invalid syntax: " + error + ". Type \"QREG " + std::string(command) +
             " /?\" for usage.");
    return std::nullopt;
  }
  SetRegistryView(options->Has("reg:32")   ? KEY_WOW64_32KEY
                  : options->Has("reg:64") ? KEY_WOW64_64KEY
                                           : 0);
  return options;
}

std::optional<KeyPath> CommandKey(const std::string& text) {
  auto key = ParseKeyPath(text);
  if (!key) {
    FailText("Invalid key name: " + text +
             (text.starts_with("\\\\")
                  ? " (\\\\Machine\\ROOT[\\Path]: on another machine ROOT is HKLM or HKU)."
                  : " (ROOT[\\Path] with ROOT one of HKLM, HKCU, HKCR, HKU, HKCC)."));
    return std::nullopt;
  }
  return key;
}

std::optional<KeyCommand> ParseKeyCommand(const char* command, const Words& words,
                                          const OptionSpec& spec, size_t positional) {
  auto options = CommandOptions(command, words, spec, positional);
  if (!options) return std::nullopt;
  auto path = CommandKey(options->positional[0]);
  if (!path) return std::nullopt;
  return KeyCommand{std::move(*options), std::move(*path)};
}

bool StoreThere(const KeyPath& key) {
  bool mapped = false;
  const std::string missing = MissingStore(key, &mapped);
  if (missing.empty()) return true;
  if (mapped)
    FailText("The registry store " + missing + " of \\\\" + key.machine +
             " does not exist (the machine map, REGKEY_MACHINES, names it).");
  else
    FailText("The registry store " + missing +
             " does not exist (--store FILE or REGKEY_STORE chooses another).");
  return false;
}

std::optional<int> Confirm(const std::string& question, const std::string& notTerminal) {
  switch (Ask(question)) {
    case Answer::kYes:
      return std::nullopt;
    case Answer::kNo:
      std::printf("The operation was canceled by the user.\n");
      return kSuccess;
    case Answer::kNotTerminal:
      break;
  }
  return FailText(notTerminal);
}

}  // namespace qreg

#include "commands/commands.h"

#include <cstdio>
#include <utility>

#include "console/console.h"

namespace qreg {

std::optional<Options> CommandOptions(const char* command, const Words& words,
                                      const OptionSpec& spec, size_t positional) {
  std::string error;
  auto options = ParseOptions(words, spec, error);
  if (options && options->positional.size() != positional)
    error = "expected " + std::to_string(positional) + " argument(s)";
  if (!options || options->positional.size() != positional) {
    FailText("Invalid syntax (" + error + "). Type \"QREG " + std::string(command) +
             " /?\" for usage.");
    return std::nullopt;
  }
  return options;
}

std::optional<KeyPath> CommandKey(const std::string& text) {
  auto key = ParseKeyPath(text);
  if (!key || key->path.empty()) {
    FailText("Invalid key name: " + text +
             " (ROOT\\Path with ROOT one of HKLM, HKCU, HKCR, HKU, HKCC).");
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

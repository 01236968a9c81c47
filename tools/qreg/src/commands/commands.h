// The tool's commands; each takes the words after its name and returns the
// exit code (0 success, 1 failure).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/qreg/src/cli/key_path.h"
#include "tools/qreg/src/cli/options.h"

namespace qreg {

using Words = std::vector<std::string>;

int Query(const Words& words);
int Add(const Words& words);
int Delete(const Words& words);
int Copy(const Words& words);
int Export(const Words& words);
int Import(const Words& words);
int Watch(const Words& words);
int Compare(const Words& words);

// Shared by the commands: options parsed (and the registry view they ask
// for set), or an "Invalid syntax" failure.
std::optional<Options> CommandOptions(const char* command, const Words& words,
                                      const OptionSpec& spec, size_t positional);
// A key name (a root alone included), or an "Invalid key name" failure.
std::optional<KeyPath> CommandKey(const std::string& text);

// A command whose first argument names a key: its options and that key, or
// one of the failures above.
struct KeyCommand {
  Options options;
  KeyPath path;
};
std::optional<KeyCommand> ParseKeyCommand(const char* command, const Words& words,
                                          const OptionSpec& spec, size_t positional);

// For commands that only read or remove: false, after a failure naming the
// store, when the embedded store that serves key does not exist, so that
// such a command never creates one.
bool StoreThere(const KeyPath& key);

// Asks QUESTION(Yes/No)? before a change: nullopt to go on; otherwise the exit
// code, after "The operation was canceled by the user." for No, or after the
// failure notTerminal when there is no terminal to ask.
std::optional<int> Confirm(const std::string& question, const std::string& notTerminal);

}  // namespace qreg

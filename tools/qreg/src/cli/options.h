// Command options: /x or -x, keywords in any case. Which options take a value
// depends on the command (/s is a separator for add, a switch elsewhere).
// /reg:32 and /reg:64 are accepted by every command.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qreg {

struct OptionSpec {
  std::vector<std::string> switches;  // lower case, without the prefix
  std::vector<std::string> valued;
  // Valued options whose value may be left out (the next word is another
  // option, or there is none).
  std::vector<std::string> optional = {};
};

struct Options {
  std::vector<std::string> positional;
  std::map<std::string, std::string> given;  // switches map to ""
  std::vector<std::string> bare;             // optional-valued options given without one

  bool Has(const std::string& name) const { return given.count(name) != 0; }
  bool Bare(const std::string& name) const;
  const std::string* Get(const std::string& name) const;
};

// nullopt with a reason for an unknown, repeated or incomplete option. A word
// that starts with '/' but names no option is positional when it looks like a
// path (another '/' or a '.' in it, as /tmp/x.reg); otherwise it is an
// unknown option.
std::optional<Options> ParseOptions(const std::vector<std::string>& words, const OptionSpec& spec,
                                    std::string& error);

}  // namespace qreg

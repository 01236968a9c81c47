// Command options: /x or -x, keywords in any case. Which options take a value
// depends on the command (/s is a separator for add, a switch elsewhere).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qreg {

struct OptionSpec {
  std::vector<std::string> switches;  // lower case, without the prefix
  std::vector<std::string> valued;
};

struct Options {
  std::vector<std::string> positional;
  std::map<std::string, std::string> given;  // switches map to ""

  bool Has(const std::string& name) const { return given.count(name) != 0; }
  const std::string* Get(const std::string& name) const;
};

// nullopt with a reason for an unknown, repeated or incomplete option. A word
// that starts with '/' but names no option is positional (a Unix path).
std::optional<Options> ParseOptions(const std::vector<std::string>& words, const OptionSpec& spec,
                                    std::string& error);

}  // namespace qreg

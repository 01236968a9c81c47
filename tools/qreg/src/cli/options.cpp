#include "tools/qreg/src/cli/options.h"

#include <algorithm>

#include "tools/qreg/src/cli/text.h"

namespace qreg {
namespace {

bool Known(const std::vector<std::string>& list, const std::string& name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

bool Prefixed(const std::string& word) {
  return word.size() > 1 && (word[0] == '/' || word[0] == '-');
}

bool LooksLikePath(const std::string& word) {
  return word[0] == '/' && word.find_first_of("/.", 1) != std::string::npos;
}

}  // namespace

const std::string* Options::Get(const std::string& name) const {
  auto it = given.find(name);
  return it == given.end() ? nullptr : &it->second;
}

bool Options::Bare(const std::string& name) const { return Known(bare, name); }

std::optional<Options> ParseOptions(const std::vector<std::string>& words, const OptionSpec& spec,
                                    std::string& error) {
  const auto isOption = [&](const std::string& word) {
    if (!Prefixed(word)) return false;
    const std::string name = Lower(word.substr(1));
    return Known(spec.switches, name) || Known(spec.valued, name) || name == "reg:32" ||
           name == "reg:64";
  };
  Options options;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (!isOption(word)) {
      if (Prefixed(word) && !LooksLikePath(word)) {
        error = "unknown option " + word;
        return std::nullopt;
      }
      options.positional.push_back(word);
      continue;
    }
    const std::string name = Lower(word.substr(1));
    if (options.Has(name)) {
      error = "option " + word + " given twice";
      return std::nullopt;
    }
    if (!Known(spec.valued, name)) {
      options.given[name] = "";
      continue;
    }
    const bool mayOmit = Known(spec.optional, name);
    if (i + 1 >= words.size() || (mayOmit && isOption(words[i + 1]))) {
      if (!mayOmit) {
        error = "option " + word + " needs a value";
        return std::nullopt;
      }
      options.given[name] = "";
      options.bare.push_back(name);
      continue;
    }
    options.given[name] = words[++i];
  }
  if (options.Has("reg:32") && options.Has("reg:64")) {
    error = "/reg:32 and /reg:64 together";
    return std::nullopt;
  }
  return options;
}

}  // namespace qreg

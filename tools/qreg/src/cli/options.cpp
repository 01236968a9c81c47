#include "cli/options.h"

#include <algorithm>

#include "cli/text.h"

namespace qreg {

const std::string* Options::Get(const std::string& name) const {
  auto it = given.find(name);
  return it == given.end() ? nullptr : &it->second;
}

std::optional<Options> ParseOptions(const std::vector<std::string>& words, const OptionSpec& spec,
                                    std::string& error) {
  auto known = [](const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  Options options;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    const bool prefixed = word.size() > 1 && (word[0] == '/' || word[0] == '-');
    const std::string name = prefixed ? Lower(word.substr(1)) : std::string();
    const bool isSwitch = prefixed && known(spec.switches, name);
    const bool isValued = prefixed && known(spec.valued, name);
    if (!isSwitch && !isValued) {
      if (word.size() > 1 && word[0] == '-') {
        error = "unknown option " + word;
        return std::nullopt;
      }
      options.positional.push_back(word);
      continue;
    }
    if (options.Has(name)) {
      error = "option " + word + " given twice";
      return std::nullopt;
    }
    if (isValued) {
      if (i + 1 >= words.size()) {
        error = "option " + word + " needs a value";
        return std::nullopt;
      }
      options.given[name] = words[++i];
    } else {
      options.given[name] = "";
    }
  }
  return options;
}

}  // namespace qreg

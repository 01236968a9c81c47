// Compare: two keys' values (and, with /s, their subtrees) side by side, as
// reg prints them: "<" for the first key's side of a difference, ">" for the
// second's, "=" for what is the same; exit code 0 identical, 2 different.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tools/qreg/src/access/tree_walk.h"
#include "tools/qreg/src/cli/text.h"
#include "tools/qreg/src/commands/commands.h"
#include "tools/qreg/src/console/console.h"
#include "tools/qreg/src/values/value_text.h"

namespace qreg {
namespace {

constexpr int kDifferent = 2;

// One side: each key's values by relative path, in walk order.
struct Side {
  KeyPath top;
  std::vector<std::string> order;                 // relative paths, pre-order
  std::map<std::string, const RegSection*> keys;  // folded relative path
  std::vector<RegSection> sections;

  std::string Relative(const KeyPath& key) const {
    return key.path.size() > top.path.size()
               ? key.path.substr(top.path.empty() ? 0 : top.path.size() + 1)
               : std::string();
  }
  void Index() {
    for (const RegSection& section : sections) {
      const std::string relative = Relative(section.key);
      order.push_back(relative);
      keys[Lower(relative)] = &section;
    }
  }
  const RegSection* Find(const std::string& relative) const {
    auto it = keys.find(Lower(relative));
    return it == keys.end() ? nullptr : it->second;
  }
};

class Report {
 public:
  Report(bool differences, bool matches) : differences_(differences), matches_(matches) {}

  void Value(char mark, const std::string& key, const qreg::Value& v) {
    Print(mark, "Value: " + key + "  " + (v.name.empty() ? "(Default)" : v.name) + "  " +
                    TypeName(v.type) + "  " + FormatData(v.type, v.data));
  }
  void Key(char mark, const std::string& key) { Print(mark, "Key: " + key); }
  bool Different() const { return different_; }

 private:
  void Print(char mark, const std::string& line) {
    if (mark != '=') different_ = true;
    if (mark == '=' ? matches_ : differences_) std::printf("%c %s\n", mark, line.c_str());
  }

  bool differences_, matches_;
  bool different_ = false;
};

const qreg::Value* FindValue(const RegSection& section, const std::string& name) {
  for (const RegEntry& entry : section.entries)
    if (EqualsNoCase(entry.value.name, name)) return &entry.value;
  return nullptr;
}

// The values of two keys; only `only` when given.
void CompareValues(const RegSection& a, const RegSection& b, const std::string* only,
                   Report& report) {
  const std::string first = a.key.FullName(), second = b.key.FullName();
  for (const RegEntry& entry : a.entries) {
    const qreg::Value& x = entry.value;
    if (only != nullptr && !EqualsNoCase(x.name, *only)) continue;
    const qreg::Value* y = FindValue(b, x.name);
    if (y != nullptr && y->type == x.type && y->data == x.data) {
      report.Value('=', first, x);
      continue;
    }
    report.Value('<', first, x);
    if (y != nullptr) report.Value('>', second, *y);
  }
  for (const RegEntry& entry : b.entries) {
    if (only != nullptr && !EqualsNoCase(entry.value.name, *only)) continue;
    if (FindValue(a, entry.value.name) == nullptr) report.Value('>', second, entry.value);
  }
}

// Reads one side: the key's values, and its subkeys' (with /s every key
// below, else the subkeys' names only).
bool ReadSide(Side& side, bool subtree, std::vector<std::string>& children, WalkFailure& failure) {
  if (!ReadTree(side.top, subtree, side.sections, failure)) return false;
  if (!subtree) {
    RegistryKey key(side.top, Access::kRead);
    if (!key.SubKeys(children)) return failure.Set("read", key);
  }
  side.Index();
  return true;
}

// KEY2 may be \\Machine alone: the first key's name on that machine.
std::optional<KeyPath> SecondKey(const std::string& text, const KeyPath& first) {
  if (text.starts_with("\\\\") && text.find('\\', 2) == std::string::npos && text.size() > 2) {
    KeyPath local = first;
    local.machine.clear();
    // Named in full, so that a root other machines lack is refused.
    return text == "\\\\." ? std::optional<KeyPath>(local)
                           : CommandKey(text + "\\" + local.FullName());
  }
  return CommandKey(text);
}

const OptionSpec kSpec = {{"ve", "s", "oa", "od", "os", "on"}, {"v"}};

}  // namespace

int Compare(const Words& words) {
  const auto options = CommandOptions("COMPARE", words, kSpec, 2);
  if (!options) return kFailure;
  const auto first = CommandKey(options->positional[0]);
  if (!first) return kFailure;
  const auto second = SecondKey(options->positional[1], *first);
  if (!second) return kFailure;
  if (options->Has("v") && options->Has("ve"))
    return FailText("Invalid syntax: /v and /ve together.");
  if (options->Has("oa") + options->Has("od") + options->Has("os") + options->Has("on") > 1)
    return FailText("Invalid syntax: give one of /oa, /od, /os and /on.");
  if (first->FullName() == second->FullName()) return FailText("Cannot compare a key with itself.");
  if (!StoreThere(*first) || !StoreThere(*second)) return kFailure;
  const bool oneValue = options->Has("v") || options->Has("ve");
  const std::string name = options->Has("v") ? *options->Get("v") : std::string();
  const bool subtree = options->Has("s") && !oneValue;

  Side a{*first, {}, {}, {}}, b{*second, {}, {}, {}};
  std::vector<std::string> childrenA, childrenB;
  WalkFailure failure;
  if (!ReadSide(a, subtree, childrenA, failure) || !ReadSide(b, subtree, childrenB, failure))
    return failure.Report();

  Report report(!options->Has("os") && !options->Has("on"),
                options->Has("oa") || options->Has("os"));
  if (oneValue) {
    const qreg::Value* x = FindValue(a.sections[0], name);
    const qreg::Value* y = FindValue(b.sections[0], name);
    if (x == nullptr && y == nullptr)
      return Fail("Cannot read value " + (name.empty() ? "(Default)" : name) + " of " +
                      first->FullName() + " or " + second->FullName(),
                  ERROR_FILE_NOT_FOUND);
    RegSection onlyA = a.sections[0], onlyB = b.sections[0];
    CompareValues(onlyA, onlyB, &name, report);
  } else {
    for (const std::string& relative : a.order) {
      const RegSection* x = a.Find(relative);
      const RegSection* y = b.Find(relative);
      if (y == nullptr) {
        report.Key('<', x->key.FullName());
        continue;
      }
      if (!relative.empty()) report.Key('=', x->key.FullName());
      CompareValues(*x, *y, nullptr, report);
    }
    for (const std::string& relative : b.order)
      if (a.Find(relative) == nullptr) report.Key('>', b.Find(relative)->key.FullName());
    if (!subtree) {
      const auto has = [](const std::vector<std::string>& list, const std::string& child) {
        for (const std::string& c : list)
          if (EqualsNoCase(c, child)) return true;
        return false;
      };
      for (const std::string& child : childrenA)
        report.Key(has(childrenB, child) ? '=' : '<', first->Child(child).FullName());
      for (const std::string& child : childrenB)
        if (!has(childrenA, child)) report.Key('>', second->Child(child).FullName());
    }
  }
  std::printf("\nResult Compared: %s\n", report.Different() ? "Different" : "Identical");
  Succeed();
  return report.Different() ? kDifferent : kSuccess;
}

}  // namespace qreg

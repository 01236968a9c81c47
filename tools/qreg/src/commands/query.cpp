#include <cstdio>
#include <string>

#include "access/tree_walk.h"
#include "commands/commands.h"
#include "console/console.h"
#include "values/value_text.h"

namespace qreg {
namespace {

void PrintValue(const Value& v) {
  const std::string name = v.name.empty() ? "(Default)" : v.name;
  std::printf("    %s    %s    %s\n", name.c_str(), TypeName(v.type).c_str(),
              FormatData(v.type, v.data).c_str());
}

// Prints the key's values (those of the wanted type) under its name.
bool PrintValues(RegistryKey& key, const std::optional<DWORD>& type, bool headerAlways) {
  std::vector<Value> values;
  if (!key.Values(values)) return false;
  bool any = false;
  for (const Value& v : values) {
    if (type && v.type != *type) continue;
    if (!any) std::printf("%s\n", key.FullName().c_str());
    any = true;
    PrintValue(v);
  }
  if (!any && headerAlways) std::printf("%s\n", key.FullName().c_str());
  if (any || headerAlways) std::printf("\n");
  return true;
}

// Every key of the subtree with its values of the wanted type; keys below the
// top one print their name even without such values.
class TreePrinter final : public TreeVisitor {
 public:
  explicit TreePrinter(const std::optional<DWORD>& type) : type_(type) {}
  bool Enter(RegistryKey& key, WalkFailure& failure) override {
    const bool top = first_;
    first_ = false;
    return PrintValues(key, type_, !top) || failure.Set("read", key);
  }

 private:
  const std::optional<DWORD>& type_;
  bool first_ = true;
};

// Each key of the subtree that has the named value (of the wanted type), with
// that value; counts the matches.
class ValueSearch final : public TreeVisitor {
 public:
  ValueSearch(const std::string& name, const std::optional<DWORD>& type)
      : name_(name), type_(type) {}
  bool Enter(RegistryKey& key, WalkFailure& failure) override {
    Value value;
    if (!key.Read(name_, value))
      return key.Error() == ERROR_FILE_NOT_FOUND || failure.Set("read", key);
    if (type_ && value.type != *type_) return true;
    std::printf("%s\n", key.FullName().c_str());
    PrintValue(value);
    std::printf("\n");
    ++matches_;
    return true;
  }
  size_t matches() const { return matches_; }

 private:
  const std::string& name_;
  const std::optional<DWORD>& type_;
  size_t matches_ = 0;
};

}  // namespace

int Query(const Words& words) {
  const auto command = ParseKeyCommand("QUERY", words, {{"ve", "s"}, {"v", "t"}}, 1);
  if (!command) return kFailure;
  const Options& options = command->options;
  const KeyPath& path = command->path;
  if (options.Has("v") && options.Has("ve"))
    return FailText("Invalid syntax: /v and /ve together.");
  std::optional<DWORD> type;
  if (const std::string* t = options.Get("t")) {
    type = ParseTypeName(*t);
    if (!type) return FailText("Invalid syntax: unknown type " + *t + ".");
  }
  RegistryKey key(path, Access::kRead);
  if (!key.Open()) return Fail("Cannot open " + path.FullName(), key.Error());
  if (options.Has("v") || options.Has("ve")) {
    const std::string name = options.Has("v") ? *options.Get("v") : std::string();
    if (options.Has("s")) {
      std::printf("\n");
      ValueSearch search(name, type);
      WalkFailure failure;
      if (!WalkTree(path, Access::kRead, true, search, failure)) return failure.Report();
      std::printf("End of search: %s match(es) found.\n", std::to_string(search.matches()).c_str());
      return kSuccess;
    }
    Value value;
    if (!key.Read(name, value)) {
      if (key.Error() == ERROR_FILE_NOT_FOUND && name.empty()) {
        std::printf("\n%s\n    (Default)    REG_SZ    (value not set)\n\n", key.FullName().c_str());
        return kSuccess;
      }
      return Fail(
          "Cannot read value " + (name.empty() ? "(Default)" : name) + " of " + key.FullName(),
          key.Error());
    }
    std::printf("\n%s\n", key.FullName().c_str());
    PrintValue(value);
    std::printf("\n");
    return kSuccess;
  }
  std::printf("\n");
  if (options.Has("s")) {
    TreePrinter printer(type);
    WalkFailure failure;
    if (!WalkTree(path, Access::kRead, true, printer, failure)) return failure.Report();
    return kSuccess;
  }
  std::vector<std::string> children;
  if (!PrintValues(key, type, false) || !key.SubKeys(children))
    return Fail("Cannot read " + key.FullName(), key.Error());
  for (const std::string& child : children)
    std::printf("%s\n", path.Child(child).FullName().c_str());
  return kSuccess;
}

}  // namespace qreg

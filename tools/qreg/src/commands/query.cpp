#include <cstdio>
#include <string>

#include "access/registry_key.h"
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

bool PrintTree(const KeyPath& path, const std::optional<DWORD>& type, bool top, LONG& error,
               std::string& where) {
  RegistryKey key(path, false);
  std::vector<std::string> children;
  if (!PrintValues(key, type, !top) || !key.SubKeys(children)) {
    error = key.Error();
    where = key.FullName();
    return false;
  }
  for (const std::string& child : children)
    if (!PrintTree(path.Child(child), type, false, error, where)) return false;
  return true;
}

// Prints, for the key and every key below it that has the named value (of
// the wanted type), the key's name and that value; counts the matches.
bool SearchTree(const KeyPath& path, const std::string& name, const std::optional<DWORD>& type,
                size_t& matches, LONG& error, std::string& where) {
  RegistryKey key(path, false);
  Value value;
  if (key.Read(name, value)) {
    if (!type || value.type == *type) {
      std::printf("%s\n", key.FullName().c_str());
      PrintValue(value);
      std::printf("\n");
      ++matches;
    }
  } else if (key.Error() != ERROR_FILE_NOT_FOUND) {
    error = key.Error();
    where = key.FullName();
    return false;
  }
  std::vector<std::string> children;
  if (!key.SubKeys(children)) {
    error = key.Error();
    where = key.FullName();
    return false;
  }
  for (const std::string& child : children)
    if (!SearchTree(path.Child(child), name, type, matches, error, where)) return false;
  return true;
}

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
  RegistryKey key(path, false);
  if (!key.Open()) return Fail("Cannot open " + path.FullName(), key.Error());
  if (options.Has("v") || options.Has("ve")) {
    const std::string name = options.Has("v") ? *options.Get("v") : std::string();
    if (options.Has("s")) {
      std::printf("\n");
      size_t matches = 0;
      LONG error = 0;
      std::string where;
      if (!SearchTree(path, name, type, matches, error, where))
        return Fail("Cannot read " + where, error);
      std::printf("End of search: %s match(es) found.\n", std::to_string(matches).c_str());
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
    LONG error = 0;
    std::string where;
    if (!PrintTree(path, type, true, error, where)) return Fail("Cannot read " + where, error);
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

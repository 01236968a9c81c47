// Query: a key's values and subkeys, a whole subtree, one value through a
// subtree, or a search (/f) over key names, value names and data.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/qreg/src/access/tree_walk.h"
#include "tools/qreg/src/cli/text.h"
#include "tools/qreg/src/commands/commands.h"
#include "tools/qreg/src/console/console.h"
#include "tools/qreg/src/values/json.h"
#include "tools/qreg/src/values/value_text.h"

namespace qreg {
namespace {

// How values are shown and which are: types (empty: all), /z, /se, --json.
struct Shown {
  std::vector<DWORD> types;
  bool verbose = false;
  std::string separator = "\\0";
  bool json = false;

  bool Wanted(DWORD type) const {
    if (types.empty()) return true;
    for (DWORD t : types)
      if (t == type) return true;
    return false;
  }
};

// Prints blocks: a key's name, its values, a blank line; or, as JSON, one
// line {"key":...,"values":[...]} per block.
class Printer {
 public:
  explicit Printer(const Shown& shown) : shown_(shown) {}
  ~Printer() { End(); }

  void Begin(const std::string& key) {
    End();
    if (shown_.json)
      json_ = "{\"key\":" + JsonString(key);
    else
      std::printf("%s\n", key.c_str());
    open_ = true;
  }
  void Add(const Value& v) {
    if (shown_.json) {
      json_ += (values_++ == 0 ? ",\"values\":[" : ",") + ValueJson(v);
      return;
    }
    std::string type = TypeName(v.type);
    if (shown_.verbose) type += " (" + std::to_string(v.type) + ")";
    std::printf("    %s    %s    %s\n", v.name.empty() ? "(Default)" : v.name.c_str(), type.c_str(),
                FormatData(v.type, v.data, shown_.separator).c_str());
  }
  // A subkey named on its own line, without a block.
  void Line(const std::string& key) {
    End();
    if (shown_.json)
      std::printf("{\"key\":%s}\n", JsonString(key).c_str());
    else
      std::printf("%s\n", key.c_str());
  }
  void Text(const std::string& text) {
    if (!shown_.json) std::printf("%s", text.c_str());
  }
  void End() {
    if (!open_) return;
    open_ = false;
    if (shown_.json) {
      std::printf("%s%s}\n", json_.c_str(), values_ != 0 ? "]" : "");
      values_ = 0;
    } else {
      std::printf("\n");
    }
  }

 private:
  const Shown& shown_;
  bool open_ = false;
  std::string json_;
  size_t values_ = 0;
};

// Prints the key's wanted values under its name; the name alone when asked
// to even without such values.
bool PrintValues(RegistryKey& key, Printer& out, const Shown& shown, bool headerAlways) {
  std::vector<Value> values;
  if (!key.Values(values)) return false;
  bool any = false;
  for (const Value& v : values) {
    if (!shown.Wanted(v.type)) continue;
    if (!any) out.Begin(key.FullName());
    any = true;
    out.Add(v);
  }
  if (!any && headerAlways) out.Begin(key.FullName());
  out.End();
  return true;
}

// Every key of the subtree with its wanted values; keys below the top one
// print their name even without such values.
class TreePrinter final : public TreeVisitor {
 public:
  TreePrinter(Printer& out, const Shown& shown) : out_(out), shown_(shown) {}
  bool Enter(RegistryKey& key, WalkFailure& failure) override {
    const bool top = first_;
    first_ = false;
    return PrintValues(key, out_, shown_, !top) || failure.Set("read", key);
  }

 private:
  Printer& out_;
  const Shown& shown_;
  bool first_ = true;
};

// Each key of the subtree that has the named value (of a wanted type), with
// that value.
class ValueSearch final : public TreeVisitor {
 public:
  ValueSearch(Printer& out, const Shown& shown, const std::string& name)
      : out_(out), shown_(shown), name_(name) {}
  bool Enter(RegistryKey& key, WalkFailure& failure) override {
    Value value;
    if (!key.Read(name_, value))
      return key.Error() == ERROR_FILE_NOT_FOUND || failure.Set("read", key);
    if (!shown_.Wanted(value.type)) return true;
    out_.Begin(key.FullName());
    out_.Add(value);
    out_.End();
    ++matches;
    return true;
  }
  size_t matches = 0;

 private:
  Printer& out_;
  const Shown& shown_;
  const std::string& name_;
};

// /f: what to look in and how to match.
struct Search {
  std::string pattern;
  bool keys = true, names = true, data = true;
  bool caseSensitive = false;
  bool subtree = false;

  bool Match(std::string_view text) const { return Matches(pattern, text, caseSensitive); }
};

// The keys whose names match (subkeys of the top key, or every key below it
// with /s) and the values whose names or data match, of the top key (and
// every key below it with /s).
class Finder final : public TreeVisitor {
 public:
  Finder(Printer& out, const Shown& shown, const Search& search)
      : out_(out), shown_(shown), search_(search) {}

  bool Enter(RegistryKey& key, WalkFailure& failure) override {
    const bool top = first_;
    first_ = false;
    bool begun = false;
    if (!top && search_.keys && search_.Match(Name(key))) {
      out_.Begin(key.FullName());
      begun = true;
      ++matches;
    }
    if (search_.names || search_.data) {
      std::vector<Value> values;
      if (!key.Values(values)) return failure.Set("read", key);
      for (const Value& v : values) {
        if (!shown_.Wanted(v.type)) continue;
        const bool hit =
            (search_.names && search_.Match(v.name.empty() ? "(Default)" : v.name)) ||
            (search_.data && search_.Match(FormatData(v.type, v.data, shown_.separator)));
        if (!hit) continue;
        if (!begun) out_.Begin(key.FullName());
        begun = true;
        out_.Add(v);
        ++matches;
      }
    }
    out_.End();
    if (top && !search_.subtree && search_.keys) {
      std::vector<std::string> children;
      if (!key.SubKeys(children)) return failure.Set("read", key);
      for (const std::string& child : children)
        if (search_.Match(child)) {
          out_.Begin(key.Path().Child(child).FullName());
          out_.End();
          ++matches;
        }
    }
    return true;
  }
  size_t matches = 0;

 private:
  static std::string Name(const RegistryKey& key) {
    const std::string& path = key.Path().path;
    return path.substr(path.rfind('\\') + 1);
  }

  Printer& out_;
  const Shown& shown_;
  const Search& search_;
  bool first_ = true;
};

const OptionSpec kSpec = {
    {"ve", "s", "k", "d", "c", "e", "z", "-json"}, {"v", "f", "t", "se"}, {"v"}};

int EndOfSearch(Printer& out, const Shown& shown, size_t matches) {
  out.End();
  if (shown.json)
    std::printf("{\"matches\":%zu}\n", matches);
  else
    std::printf("End of search: %zu match(es) found.\n", matches);
  return kSuccess;
}

}  // namespace

int Query(const Words& words) {
  const auto command = ParseKeyCommand("QUERY", words, kSpec, 1);
  if (!command) return kFailure;
  const Options& options = command->options;
  const KeyPath& path = command->path;
  const bool find = options.Has("f");
  if (options.Has("v") && options.Has("ve"))
    return FailText("Invalid syntax: /v and /ve together.");
  if (options.Bare("v") && !find)
    return FailText("Invalid syntax: /v needs a value name (or /f to search value names).");
  for (const char* onlyWithFind : {"k", "d", "c", "e"})
    if (options.Has(onlyWithFind) && !find)
      return FailText(std::string("Invalid syntax: /") + onlyWithFind + " is for /f searches.");
  if (find && options.Has("v") && !options.Bare("v"))
    return FailText("Invalid syntax: with /f, /v takes no name (it searches value names).");
  if (find && options.Has("ve")) return FailText("Invalid syntax: /ve and /f together.");
  Shown shown;
  shown.verbose = options.Has("z");
  shown.json = options.Has("-json");
  if (const std::string* t = options.Get("t")) {
    for (size_t start = 0; start <= t->size();) {
      const size_t end = std::min(t->find(',', start), t->size());
      const auto type = ParseTypeName(Trim(std::string_view(*t).substr(start, end - start)));
      if (!type) return FailText("Invalid syntax: unknown type " + *t + ".");
      shown.types.push_back(*type);
      start = end + 1;
    }
  }
  if (const std::string* sep = options.Get("se")) {
    if (sep->size() != 1 && *sep != "\\0")
      return FailText("Invalid syntax: /se takes one character.");
    shown.separator = *sep;
  }
  if (!StoreThere(path)) return kFailure;
  RegistryKey key(path, Access::kRead);
  if (!key.Open()) return Fail("Cannot open " + path.FullName(), key.Error());
  Printer out(shown);
  WalkFailure failure;

  if (find) {
    Search search;
    search.pattern = *options.Get("f");
    if (search.pattern.empty()) search.pattern = "*";
    if (!options.Has("e")) search.pattern = "*" + search.pattern + "*";
    search.caseSensitive = options.Has("c");
    search.subtree = options.Has("s");
    if (options.Has("k") || options.Has("d") || options.Has("v")) {
      search.keys = options.Has("k");
      search.data = options.Has("d");
      search.names = options.Has("v");
    }
    out.Text("\n");
    Finder finder(out, shown, search);
    if (!WalkTree(path, Access::kRead, search.subtree, finder, failure)) return failure.Report();
    return EndOfSearch(out, shown, finder.matches);
  }
  if (options.Has("v") || options.Has("ve")) {
    const std::string name = options.Has("v") ? *options.Get("v") : std::string();
    out.Text("\n");
    if (options.Has("s")) {
      ValueSearch search(out, shown, name);
      if (!WalkTree(path, Access::kRead, true, search, failure)) return failure.Report();
      return EndOfSearch(out, shown, search.matches);
    }
    Value value;
    if (!key.Read(name, value)) {
      if (key.Error() != ERROR_FILE_NOT_FOUND || !name.empty())
        return Fail(
            "Cannot read value " + (name.empty() ? "(Default)" : name) + " of " + key.FullName(),
            key.Error());
      // reg shows an unset default value as an empty string.
      value = {"", REG_SZ, std::string()};
      out.Begin(key.FullName());
      if (shown.json) {
        out.Add(value);
      } else {
        std::printf("    (Default)    REG_SZ    (value not set)\n");
      }
      return kSuccess;
    }
    out.Begin(key.FullName());
    if (shown.Wanted(value.type)) out.Add(value);
    return kSuccess;
  }
  out.Text("\n");
  if (options.Has("s")) {
    TreePrinter printer(out, shown);
    if (!WalkTree(path, Access::kRead, true, printer, failure)) return failure.Report();
    return kSuccess;
  }
  std::vector<std::string> children;
  if (!PrintValues(key, out, shown, false) || !key.SubKeys(children))
    return Fail("Cannot read " + key.FullName(), key.Error());
  for (const std::string& child : children) out.Line(path.Child(child).FullName());
  return kSuccess;
}

}  // namespace qreg

// Watch: waits for changes under a key and says what changed. The request is
// armed again before each look at the registry, so a change made while the
// tool compares is seen at the next round, never missed.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
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

std::string Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char text[40];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(millis));
  return text;
}

// What the watched keys hold: each key by its folded full name, in walk
// order; without /s the subkeys' values are not read.
struct Snapshot {
  struct Key {
    std::string name;
    bool valuesRead = false;
    std::map<std::string, Value> values;  // by folded name
  };
  std::vector<std::string> order;
  std::map<std::string, Key> keys;

  void Add(const std::string& name, const std::vector<RegEntry>* entries) {
    Key key{name, entries != nullptr, {}};
    if (entries != nullptr)
      for (const RegEntry& entry : *entries) key.values[Lower(entry.value.name)] = entry.value;
    order.push_back(Lower(name));
    keys[order.back()] = std::move(key);
  }
};

bool Take(const KeyPath& top, bool subtree, Snapshot& snapshot, WalkFailure& failure) {
  snapshot = Snapshot{};
  std::vector<RegSection> sections;
  if (!ReadTree(top, subtree, sections, failure)) return false;
  for (const RegSection& section : sections) snapshot.Add(section.key.FullName(), &section.entries);
  if (!subtree) {
    RegistryKey key(top, Access::kRead);
    std::vector<std::string> children;
    if (!key.SubKeys(children)) return failure.Set("read", key);
    for (const std::string& child : children) snapshot.Add(top.Child(child).FullName(), nullptr);
  }
  return true;
}

class Changes {
 public:
  explicit Changes(bool json) : json_(json) {}

  // Prints what differs from before to after; the number of changes.
  size_t Between(const Snapshot& before, const Snapshot& after) {
    const std::string time = Now();
    size_t count = 0;
    for (const std::string& id : before.order)
      if (after.keys.count(id) == 0) {
        Key(time, "key deleted", before.keys.at(id).name);
        ++count;
      }
    for (const std::string& id : after.order) {
      const Snapshot::Key& now = after.keys.at(id);
      const auto old = before.keys.find(id);
      if (old == before.keys.end()) {
        Key(time, "key added", now.name);
        ++count;
        for (const auto& [name, v] : now.values) count += Value(time, "value added", now.name, v);
        continue;
      }
      if (!now.valuesRead || !old->second.valuesRead) continue;
      for (const auto& [name, v] : old->second.values)
        if (now.values.count(name) == 0) count += Value(time, "value deleted", now.name, v);
      for (const auto& [name, v] : now.values) {
        const auto was = old->second.values.find(name);
        if (was == old->second.values.end())
          count += Value(time, "value added", now.name, v);
        else if (was->second.type != v.type || was->second.data != v.data)
          count += Value(time, "value changed", now.name, v);
      }
    }
    std::fflush(stdout);
    return count;
  }

 private:
  void Key(const std::string& time, const char* change, const std::string& key) {
    if (json_)
      std::printf("{\"time\":%s,\"change\":\"%s\",\"key\":%s}\n", JsonString(time).c_str(), change,
                  JsonString(key).c_str());
    else
      std::printf("%s  %-13s  %s\n", time.c_str(), change, key.c_str());
  }
  size_t Value(const std::string& time, const char* change, const std::string& key,
               const qreg::Value& v) {
    const bool deleted = std::string(change) == "value deleted";
    const std::string name = v.name.empty() ? "(Default)" : v.name;
    if (json_) {
      std::printf(
          "{\"time\":%s,\"change\":\"%s\",\"key\":%s,\"value\":%s}\n", JsonString(time).c_str(),
          change, JsonString(key).c_str(),
          deleted ? ("{\"name\":" + JsonString(v.name) + "}").c_str() : ValueJson(v).c_str());
    } else if (deleted) {
      std::printf("%s  %-13s  %s  %s\n", time.c_str(), change, key.c_str(), name.c_str());
    } else {
      std::printf("%s  %-13s  %s  %s  %s  %s\n", time.c_str(), change, key.c_str(), name.c_str(),
                  TypeName(v.type).c_str(), FormatData(v.type, v.data).c_str());
    }
    return 1;
  }

  bool json_;
};

const OptionSpec kSpec = {{"s", "once", "-once", "-json"}, {"t"}};

}  // namespace

int Watch(const Words& words) {
  const auto command = ParseKeyCommand("WATCH", words, kSpec, 1);
  if (!command) return kFailure;
  const Options& options = command->options;
  const KeyPath& path = command->path;
  const bool subtree = options.Has("s"), once = options.Has("once") || options.Has("-once");
  DWORD timeout = INFINITE;
  if (const std::string* t = options.Get("t")) {
    char* end = nullptr;
    const unsigned long long ms = std::strtoull(t->c_str(), &end, 10);
    if (t->empty() || *end != '\0' || ms >= INFINITE)
      return FailText("Invalid syntax: /t takes milliseconds, not " + *t + ".");
    timeout = static_cast<DWORD>(ms);
  }
  if (!StoreThere(path)) return kFailure;
  RegistryKey key(path, Access::kRead);
  if (!key.Open()) return Fail("Cannot open " + path.FullName(), key.Error());
  CEvent event;
  Snapshot before, after;
  WalkFailure failure;
  if (!key.Arm(event, subtree)) return Fail("Cannot watch " + path.FullName(), key.Error());
  if (!Take(path, subtree, before, failure)) return failure.Report();
  std::fprintf(stderr, "Watching %s%s; Ctrl+C stops.\n", path.FullName().c_str(),
               subtree ? " and its subkeys" : "");
  Changes changes(options.Has("-json"));
  const auto start = std::chrono::steady_clock::now();
  bool seen = false;
  while (true) {
    DWORD wait = timeout;
    if (timeout != INFINITE) {
      const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
      wait = spent >= timeout ? 0 : timeout - static_cast<DWORD>(spent);
    }
    if (!event.Lock(wait)) {
      if (seen) return kSuccess;
      return Fail("No change under " + path.FullName() + " within " + *options.Get("t") + " ms",
                  ERROR_TIMEOUT);
    }
    const bool armed = key.Arm(event, subtree);
    if (!Take(path, subtree, after, failure)) {
      if (failure.error != ERROR_FILE_NOT_FOUND && failure.error != ERROR_KEY_DELETED)
        return failure.Report();
      changes.Between(before, Snapshot{});  // the watched key itself went
      return kSuccess;
    }
    if (!armed) return Fail("Cannot watch " + path.FullName(), key.Error());
    if (changes.Between(before, after) != 0) {
      seen = true;
      if (once) return kSuccess;
    }
    before = std::move(after);
  }
}

}  // namespace qreg

#include <chrono>
#include <cstdio>
#include <ctime>

#include "access/registry_key.h"
#include "commands/commands.h"
#include "console/console.h"

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

}  // namespace

int Watch(const Words& words) {
  const auto command = ParseKeyCommand("WATCH", words, {{"s"}, {"t"}}, 1);
  if (!command) return kFailure;
  const Options& options = command->options;
  const KeyPath& path = command->path;
  DWORD timeout = INFINITE;
  if (const std::string* t = options.Get("t")) {
    char* end = nullptr;
    const unsigned long long ms = std::strtoull(t->c_str(), &end, 10);
    if (t->empty() || *end != '\0' || ms >= INFINITE)
      return FailText("Invalid syntax: /t takes milliseconds, not " + *t + ".");
    timeout = static_cast<DWORD>(ms);
  }
  RegistryKey key(path, Access::kRead);
  if (!key.Open()) return Fail("Cannot open " + path.FullName(), key.Error());
  std::fprintf(stderr, "Watching %s%s; Ctrl+C stops.\n", path.FullName().c_str(),
               options.Has("s") ? " and its subkeys" : "");
  while (true) {
    if (key.WaitForChange(timeout, options.Has("s"))) {
      std::printf("%s  %s changed\n", Now().c_str(), path.FullName().c_str());
      std::fflush(stdout);
      continue;
    }
    if (key.Error() == ERROR_TIMEOUT)
      return Fail("No change under " + path.FullName() + " within " + *options.Get("t") + " ms",
                  ERROR_TIMEOUT);
    return Fail("Cannot watch " + path.FullName(), key.Error());
  }
}

}  // namespace qreg

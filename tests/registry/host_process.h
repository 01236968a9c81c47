// A registry_host_child process, standing for another host: its own
// environment (machine map, user store), commands written to it one line at
// a time, one line of answer each.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/child_process.h"

extern char** environ;

namespace regkey::test {

class HostProcess {
 public:
  struct Options {
    std::map<std::string, std::string> env;  // set; REGKEY_* and XDG_* are cleared first
    bool asNobody = false;                   // when running as root: drop to nobody
  };

  explicit HostProcess(const Options& options)
      : child_({REGKEY_HOST_CHILD}, {.env = Environment(options),
                                     .folder = {},
                                     .asNobody = options.asNobody,
                                     .errors = true}) {}

  bool started() const { return child_.started(); }
  pid_t pid() const { return child_.pid(); }

  bool Send(const std::string& line) { return child_.WriteLine(line); }

  // The next line of answer; "(no answer)" when none comes within `timeoutMs`.
  std::string Read(int timeoutMs = 60'000) {
    std::string line;
    return child_.ReadLine(line, timeoutMs) ? line : "(no answer)";
  }

  std::string Ask(const std::string& line, int timeoutMs = 60'000) {
    return Send(line) ? Read(timeoutMs) : "(not sent)";
  }

  void Kill() { child_.Kill(); }

  // Ends the process (quit), then everything it wrote to standard error.
  std::string Finish() {
    Send("quit");
    child_.CloseInput();
    child_.Wait();
    return child_.Errors();
  }

  int Wait() { return child_.Wait(); }

 private:
  static std::vector<std::string> Environment(const Options& options) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      if (!text.starts_with("REGKEY_") && !text.starts_with("XDG_") &&
          !text.starts_with("PGPASSFILE="))
        env.emplace_back(text);
    }
    for (const auto& [name, value] : options.env) env.push_back(name + "=" + value);
    return env;
  }

  ChildProcess child_;
};

}  // namespace regkey::test

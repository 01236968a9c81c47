// A registry_host_child process, standing for another host: its own
// environment (machine map, user store), commands written to it one line at
// a time, one line of answer each.
#pragma once

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <poll.h>
#include <signal.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace regkey::test {

class HostProcess {
 public:
  struct Options {
    std::map<std::string, std::string> env;  // set; REGKEY_* and XDG_* are cleared first
    bool asNobody = false;                   // when running as root: drop to nobody
  };

  explicit HostProcess(const Options& options) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      if (!text.starts_with("REGKEY_") && !text.starts_with("XDG_") &&
          !text.starts_with("PGPASSFILE="))
        env.emplace_back(text);
    }
    for (const auto& [name, value] : options.env) env.push_back(name + "=" + value);
    std::vector<std::string> argv{REGKEY_HOST_CHILD};
    std::vector<char*> envp;
    std::vector<char*> argp;
    for (std::string& e : env) envp.push_back(e.data());
    for (std::string& a : argv) argp.push_back(a.data());
    envp.push_back(nullptr);
    argp.push_back(nullptr);
    int in[2];
    int out[2];
    int err[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return;
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    const bool drop = options.asNobody && ::geteuid() == 0;
    // Only async-signal-safe calls between fork and exec.
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(err[1], STDERR_FILENO);
      if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
        ::_exit(126);
      ::execve(argp[0], argp.data(), envp.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    input_ = in[1];
    output_ = out[0];
    errors_ = err[0];
    if (pid_ < 0) pid_ = 0;
  }
  ~HostProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    for (int fd : {input_, output_, errors_})
      if (fd >= 0) ::close(fd);
  }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  bool Send(const std::string& line) {
    const std::string text = line + "\n";
    return ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }

  // The next line of answer; "(no answer)" when none comes within `timeoutMs`.
  std::string Read(int timeoutMs = 60'000) {
    std::string line;
    return ReadLine(output_, out_, line, timeoutMs) ? line : "(no answer)";
  }

  std::string Ask(const std::string& line, int timeoutMs = 60'000) {
    return Send(line) ? Read(timeoutMs) : "(not sent)";
  }

  void Kill() { ::kill(pid_, SIGKILL); }

  // Ends the process (quit), then everything it wrote to standard error.
  std::string Finish() {
    Send("quit");
    ::close(input_);
    input_ = -1;
    if (pid_ > 0) Wait();
    std::string all;
    char chunk[4096];
    for (ssize_t got; (got = ::read(errors_, chunk, sizeof chunk)) > 0;)
      all.append(chunk, static_cast<std::size_t>(got));
    return all;
  }

  int Wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
    return status;
  }

 private:
  static bool ReadLine(int fd, std::string& buffer, std::string& line, int timeoutMs) {
    for (;;) {
      if (const std::size_t end = buffer.find('\n'); end != std::string::npos) {
        line = buffer.substr(0, end);
        buffer.erase(0, end + 1);
        return true;
      }
      pollfd ready{fd, POLLIN, 0};
      if (::poll(&ready, 1, timeoutMs) <= 0) return false;
      char chunk[4096];
      const ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got <= 0) return false;
      buffer.append(chunk, static_cast<std::size_t>(got));
    }
  }

  pid_t pid_ = 0;
  int input_ = -1;
  int output_ = -1;
  int errors_ = -1;
  std::string out_;
};

}  // namespace regkey::test

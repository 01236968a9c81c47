// A helper program run as a child process (Linux): its own environment,
// standard input and output through pipes (standard error too when asked),
// optionally as the nobody user; killed if still running when it goes.
#pragma once

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <initializer_list>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace regkey::test {

class ChildProcess {
 public:
  struct Options {
    std::vector<std::string> env;  // the child's whole environment, NAME=VALUE
    std::string folder;            // working folder; empty: this process's
    bool asNobody = false;         // when running as root: drop to the nobody user
    bool errors = false;           // standard error through a pipe as well
  };

  // argv[0] is the program's path.
  ChildProcess(std::vector<std::string> argv, Options options) {
    std::vector<char*> envp;
    std::vector<char*> argp;
    for (std::string& e : options.env) envp.push_back(e.data());
    for (std::string& a : argv) argp.push_back(a.data());
    envp.push_back(nullptr);
    argp.push_back(nullptr);
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        (options.errors && ::pipe2(err, O_CLOEXEC) != 0)) {
      CloseAll({in[0], in[1], out[0], out[1], err[0], err[1]});
      return;
    }
    const bool drop = options.asNobody && ::geteuid() == 0;
    const char* folder = options.folder.empty() ? nullptr : options.folder.c_str();
    // Only async-signal-safe calls between fork and exec.
    pid_ = ::fork();
    if (pid_ == 0) {
      if (folder != nullptr && ::chdir(folder) != 0) ::_exit(125);
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      if (err[1] >= 0) ::dup2(err[1], STDERR_FILENO);
      if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
        ::_exit(126);
      ::execve(argp[0], argp.data(), envp.data());
      ::_exit(127);
    }
    CloseAll({in[0], out[1], err[1]});
    input_ = in[1];
    output_ = out[0];
    errors_ = err[0];
    if (pid_ < 0) {
      pid_ = 0;
      CloseAll({input_, output_, errors_});
      input_ = output_ = errors_ = -1;
    }
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      Kill();
      Wait();
    }
    CloseAll({input_, output_, errors_});
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  bool WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    return ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }

  // The next line it prints, without its newline; false at the end of its
  // output or when it prints nothing for timeoutMs.
  bool ReadLine(std::string& line, int timeoutMs) {
    for (;;) {
      if (const std::size_t end = buffer_.find('\n'); end != std::string::npos) {
        line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return true;
      }
      pollfd ready{output_, POLLIN, 0};
      if (::poll(&ready, 1, timeoutMs) <= 0) return false;
      char chunk[4096];
      const ssize_t got = ::read(output_, chunk, sizeof chunk);
      if (got <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(got));
    }
  }

  void CloseInput() {
    CloseAll({input_});
    input_ = -1;
  }

  // What it wrote to standard error, read to the end (Options::errors).
  std::string Errors() {
    std::string all;
    char chunk[4096];
    for (ssize_t got; errors_ >= 0 && (got = ::read(errors_, chunk, sizeof chunk)) > 0;)
      all.append(chunk, static_cast<std::size_t>(got));
    return all;
  }

  // Never signals anything but the child: a process that was not started or
  // was already waited for has no id.
  void Kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
  }

  // Waits for the child to end; its wait status (the last one again once it
  // has ended).
  int Wait() {
    if (pid_ <= 0) return status_;
    while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
    return status_;
  }

 private:
  static void CloseAll(std::initializer_list<int> fds) {
    for (int fd : fds)
      if (fd >= 0) ::close(fd);
  }

  pid_t pid_ = 0;
  int status_ = 127 << 8;  // as a program that could not run
  int input_ = -1;
  int output_ = -1;
  int errors_ = -1;
  std::string buffer_;
};

}  // namespace regkey::test

#include "tools/qreg/src/console/console.h"

#include <cstdio>
#include <iostream>

#include "tools/qreg/src/cli/text.h"
#include "tools/qreg/src/console/messages.h"

#ifdef _WIN32
#include <io.h>
#define QREG_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define QREG_ISATTY(fd) isatty(fd)
#endif

namespace qreg {

int Fail(const std::string& what, LONG code) {
  std::fflush(stdout);
  std::fprintf(stderr, "ERROR: %s: %s\n", what.c_str(), SystemMessage(code).c_str());
  return kFailure;
}

int FailText(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "ERROR: %s\n", text.c_str());
  return kFailure;
}

int Succeed() {
  std::printf("%s\n", SystemMessage(0).c_str());
  return kSuccess;
}

bool InputIsTerminal() {
#ifdef _WIN32
  // _isatty is true for any character device, NUL included; a console is not.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
#else
  return QREG_ISATTY(0) != 0;
#endif
}

Answer Ask(const std::string& question) {
  if (!InputIsTerminal()) return Answer::kNotTerminal;
  while (true) {
    std::printf("%s(Yes/No)? ", question.c_str());
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line)) {
      std::printf("\n");
      return Answer::kNo;
    }
    const std::string answer = Lower(Trim(line));
    if (answer == "y" || answer == "yes") return Answer::kYes;
    if (answer == "n" || answer == "no") return Answer::kNo;
  }
}

Progress::Progress(const char* what, size_t total)
    : what_(what),
      total_(total),
      terminal_(QREG_ISATTY(2) != 0),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

Progress::~Progress() {
  if (!shown_) return;
  if (total_ == 0)
    std::fprintf(stderr, "\r%s %zu keys.\n", what_, done_);
  else
    std::fprintf(stderr, "\r%s %zu of %zu keys.\n", what_, done_, total_);
}

void Progress::Step() {
  ++done_;
  if (!terminal_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(100))
    return;
  last_ = now;
  shown_ = true;
  if (total_ == 0)
    std::fprintf(stderr, "\r%s %zu keys...", what_, done_);
  else
    std::fprintf(stderr, "\r%s %zu of %zu keys...", what_, done_, total_);
}

}  // namespace qreg

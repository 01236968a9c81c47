// The terminal side: errors, questions, progress.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <windows.h>

namespace qreg {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

// "ERROR: WHAT: <the system's message for code>" on standard error; kFailure.
int Fail(const std::string& what, LONG code);
// "ERROR: TEXT" on standard error; kFailure.
int FailText(const std::string& text);
int Succeed();  // "The operation completed successfully."

bool InputIsTerminal();
enum class Answer { kYes, kNo, kNotTerminal };
// Asks QUESTION(Yes/No)? until the answer is one or the other; end of input
// counts as No.
Answer Ask(const std::string& question);

// Progress on standard error for work that runs longer than a second, when
// standard error is a terminal.
class Progress {
 public:
  // total 0: not known in advance.
  Progress(const char* what, size_t total);
  ~Progress();
  void Step();

 private:
  const char* what_;
  size_t total_, done_ = 0;
  bool shown_ = false, terminal_;
  std::chrono::steady_clock::time_point start_, last_;
};

}  // namespace qreg

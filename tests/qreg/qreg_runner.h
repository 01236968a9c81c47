// Runs the built qreg as a child process, as a person or a script would.
// Natively the child uses a store file of the tests' own; under Wine it runs
// under Wine too, on Wine's registry. Output goes to files, never to pipes,
// so that a child may print any amount and may run while the test acts.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/scratch_key.h"

namespace qreg::test {

struct Result {
  int code = -1;
  std::string out;  // standard output, with standard error after it when merged
  std::string err;  // standard error when not merged
};

// A child started and not yet waited for; one still running when this goes
// is stopped.
struct Child {
  Child() = default;
  Child(Child&& other) noexcept;
  Child& operator=(Child&&) = delete;
  ~Child();
  long long id = 0;  // the process id, or its handle on Windows
  std::string out, err, input;
  bool merged = true;
};

// Input from the file `input` names, else from the null device, so the child
// knows it may not ask; standard error merged into standard output unless
// told otherwise. Carriage returns are taken out of the output.
Child Start(const std::vector<std::string>& args, const std::string& input = "",
            bool merged = true);
Result Finish(Child& child);
Result Qreg(const std::vector<std::string>& args, const std::string& input = "");
// Standard output and standard error apart.
Result QregApart(const std::vector<std::string>& args);

#ifndef _WIN32
// A shell command's exit code and standard output (standard error merged).
Result Shell(const std::string& command);
#endif

// The tests' native store file (and, through --store, the child's).
std::string Store();

std::string FileText(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
// A version 5 file's UTF-16LE text as narrow text (for ASCII text).
std::string Utf16Text(const std::string& bytes);
std::string Plain(const std::string& out);  // without carriage returns
// Whether the file comes to hold text (carriage returns aside) within 30 s.
bool FileShows(const std::string& file, const std::string& text);

inline const char kDone[] = "The operation completed successfully.\n";
inline const char kMissing[] = "The system was unable to find the specified registry key or value.";

// A scratch key of the test's own (key_ as typed, full_ as qreg prints it)
// and a file named after the test.
class Tool : public ::testing::Test {
 protected:
  Tool();
  ~Tool() override;
  regkey::test::ScratchKey scratch_{"qreg"};
  std::string key_ = "HKCU\\" + scratch_.path();
  std::string full_ = "HKEY_CURRENT_USER\\" + scratch_.path();
  std::string file_;
};

}  // namespace qreg::test

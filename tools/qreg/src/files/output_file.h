// Where an export goes. "-" is standard output. A plain file, also one
// reached through symbolic links, is replaced atomically: the text goes to a
// temporary file in the same folder, which is renamed over it at the end and
// keeps its mode; a failed export leaves it as it was. Anything else (a pipe,
// a terminal, a device, and every path under /dev and /proc, such as
// /dev/stdout) is written in place and never replaced.
#pragma once

#include <string>
#include <string_view>

namespace qreg {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // without Commit: the temporary file is removed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // True when path names an existing plain file that Commit would replace.
  static bool ReplacesFile(const std::string& path);

  // False with the reason in why.
  bool Open(const std::string& path, std::string& why);
  bool Write(std::string_view bytes, std::string& why);
  bool Commit(std::string& why);
  // Whether the text goes to this process's standard output.
  bool IsStandardOutput() const { return standardOutput_; }

 private:
  int fd_ = -1;
  bool owned_ = false, standardOutput_ = false;
  std::string temporary_, target_;  // set when replacing a plain file
  // Text not yet written to a temporary file, which nobody reads before
  // Commit; anything else is written as it comes.
  std::string pending_;
};

}  // namespace qreg

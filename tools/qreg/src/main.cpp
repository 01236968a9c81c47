// qreg: reads and changes the registry as Windows' reg command does.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/afx.h"
#include "tools/qreg/src/cli/help.h"
#include "tools/qreg/src/cli/text.h"
#include "tools/qreg/src/commands/commands.h"
#include "tools/qreg/src/console/console.h"

namespace {

bool IsHelp(const std::string& word) { return word == "/?" || word == "-?" || word == "--help"; }

// Takes each --store FILE or --store=FILE out of the words (the last one
// counts); false after a failure.
bool TakeStore(std::vector<std::string>& words) {
  for (size_t i = 0; i < words.size();) {
    std::string file;
    size_t taken = 0;
    if (words[i] == "--store") {
      if (i + 1 < words.size()) file = words[i + 1];
      taken = 2;
    } else if (words[i].starts_with("--store=")) {
      file = words[i].substr(8);
      taken = 1;
    } else {
      ++i;
      continue;
    }
    if (file.empty()) {
      qreg::FailText("Invalid syntax: --store needs a file.");
      return false;
    }
#ifdef _WIN32
    (void)taken;
    qreg::FailText("--store chooses an embedded store, which Windows does not use.");
    return false;
#else
    setenv("REGKEY_STORE", file.c_str(), 1);
    words.erase(words.begin() + static_cast<std::ptrdiff_t>(i),
                words.begin() + static_cast<std::ptrdiff_t>(i + taken));
#endif
  }
  return true;
}

int Run(std::vector<std::string> words) {
  for (const std::string& word : words)
    if (word == "--version") {
      std::printf("qreg %s\n", QREG_VERSION);
      return qreg::kSuccess;
    }
  if (!TakeStore(words)) return qreg::kFailure;
  if (words.empty())
    return qreg::FailText("Invalid syntax: no operation. Type \"QREG /?\" for usage.");
  if (IsHelp(words[0]) || words[0] == "-h") {
    std::fputs(qreg::GeneralHelp(), stdout);
    return qreg::kSuccess;
  }
  const char* help = qreg::CommandHelp(words[0]);
  if (help == nullptr)
    return qreg::FailText("Invalid syntax: unknown operation " + words[0] +
                          ". Type \"QREG /?\" for usage.");
  const qreg::Words rest(words.begin() + 1, words.end());
  for (const std::string& word : rest)
    if (IsHelp(word) || (rest.size() == 1 && word == "-h")) {
      std::fputs(help, stdout);
      return qreg::kSuccess;
    }
  const std::string command = qreg::Lower(words[0]);
  if (command == "query") return qreg::Query(rest);
  if (command == "add") return qreg::Add(rest);
  if (command == "delete") return qreg::Delete(rest);
  if (command == "copy") return qreg::Copy(rest);
  if (command == "export") return qreg::Export(rest);
  if (command == "import") return qreg::Import(rest);
  if (command == "compare") return qreg::Compare(rest);
  return qreg::Watch(rest);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (CException* e) {
    e->Delete();
    return qreg::FailText("Out of memory or resources; the operation was stopped.");
  } catch (...) {
    return qreg::FailText("The operation was stopped by an unexpected failure.");
  }
}

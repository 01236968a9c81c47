// qreg: reads and changes the registry as Windows' reg command does.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/text.h"
#include "commands/commands.h"
#include "console/console.h"
#include "framework/afx.h"

namespace {

const char kUsage[] =
    "QREG QUERY KEY [/v NAME | /ve] [/s] [/t TYPE]\n"
    "QREG ADD KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
    "QREG DELETE KEY [/v NAME | /ve | /va] [/f]\n"
    "QREG COPY KEY1 KEY2 [/s] [/f]\n"
    "QREG EXPORT KEY FILE [/y]\n"
    "QREG IMPORT FILE\n"
    "QREG WATCH KEY [/s] [/t MILLISECONDS]\n"
    "\n"
    "KEY is [\\\\Machine\\]ROOT\\Path, ROOT one of HKLM, HKCU, HKCR, HKU, HKCC.\n"
    "TYPE is REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE.\n"
#ifndef _WIN32
    "--store FILE (or REGKEY_STORE) chooses the registry store file.\n"
#endif
    ;

int Run(std::vector<std::string> words) {
  for (size_t i = 0; i < words.size(); ++i) {
    if (!qreg::EqualsNoCase(words[i], "--store")) continue;
    if (i + 1 >= words.size()) return qreg::FailText("Invalid syntax: --store needs a file.");
#ifdef _WIN32
    return qreg::FailText("--store chooses an embedded store, which Windows does not use.");
#else
    setenv("REGKEY_STORE", words[i + 1].c_str(), 1);
    words.erase(words.begin() + static_cast<std::ptrdiff_t>(i),
                words.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    break;
#endif
  }
  if (words.empty() || words[0] == "/?" || words[0] == "-?" || words[0] == "--help") {
    std::fputs(kUsage, stdout);
    return words.empty() ? qreg::kFailure : qreg::kSuccess;
  }
  const std::string command = qreg::Lower(words[0]);
  const qreg::Words rest(words.begin() + 1, words.end());
  if (rest.size() == 1 && (rest[0] == "/?" || rest[0] == "-?")) {
    std::fputs(kUsage, stdout);
    return qreg::kSuccess;
  }
  if (command == "query") return qreg::Query(rest);
  if (command == "add") return qreg::Add(rest);
  if (command == "delete") return qreg::Delete(rest);
  if (command == "copy") return qreg::Copy(rest);
  if (command == "export") return qreg::Export(rest);
  if (command == "import") return qreg::Import(rest);
  if (command == "watch") return qreg::Watch(rest);
  return qreg::FailText("Invalid syntax: unknown command " + words[0] +
                        ". Type \"QREG /?\" for usage.");
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

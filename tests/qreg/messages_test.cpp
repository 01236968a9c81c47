// Every code the embedded registry can return has a message of its own: the
// codes named in its README and in its sources, looked up in the platform's
// windows.h.
#include "tools/qreg/src/console/messages.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace qreg {
namespace {

#ifndef _WIN32
std::string Text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::set<std::string> CodeNames(const std::string& text) {
  std::set<std::string> names;
  static const std::regex name("ERROR_[A-Z0-9_]+");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), name); it != std::sregex_iterator();
       ++it)
    names.insert(it->str());
  return names;
}
#endif

TEST(Messages, EveryCodeOfTheEmbeddedRegistryHasItsText) {
#ifdef _WIN32
  GTEST_SKIP() << "the embedded registry serves Linux only";
#else
  const std::filesystem::path source = REGKEY_SOURCE_DIR;
  std::map<std::string, long> values;
  static const std::regex define("#define (ERROR_[A-Z0-9_]+) ([0-9]+)L");
  const std::string header = Text(source / "platform/include/platform/windows.h");
  for (auto it = std::sregex_iterator(header.begin(), header.end(), define);
       it != std::sregex_iterator(); ++it)
    values[(*it)[1]] = std::stol((*it)[2]);
  ASSERT_GT(values.size(), 20u);

  std::set<std::string> names = CodeNames(Text(source / "registry/README.md"));
  const size_t documented = names.size();
  for (const auto& entry : std::filesystem::recursive_directory_iterator(source / "registry"))
    if (entry.path().extension() == ".cpp" || entry.path().extension() == ".h")
      for (const std::string& name : CodeNames(Text(entry.path()))) names.insert(name);
  ASSERT_GT(documented, 5u);
  for (const std::string& name : names) {
    const auto value = values.find(name);
    ASSERT_NE(value, values.end()) << name << " is not in windows.h";
    const std::string message = SystemMessage(value->second);
    EXPECT_FALSE(message.starts_with("Error code")) << name << " (" << value->second << ")";
  }
#endif
}

}  // namespace
}  // namespace qreg

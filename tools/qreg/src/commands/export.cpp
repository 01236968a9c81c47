// Export streams the tree into the file as it walks it.
#include <cstdio>

#include "tools/qreg/src/access/tree_walk.h"
#include "tools/qreg/src/commands/commands.h"
#include "tools/qreg/src/console/console.h"
#include "tools/qreg/src/files/output_file.h"
#include "tools/qreg/src/regfile/reg_file.h"

namespace qreg {
namespace {

class TreeExporter final : public TreeVisitor {
 public:
  TreeExporter(OutputFile& out, const std::string& file, RegFormat format)
      : out_(out), file_(file), format_(format) {}

  bool Enter(RegistryKey& key, WalkFailure& failure) override {
    progress_.Step();
    RegSection section;
    section.key = key.Path();
    if (!KeyNameFits(section.key)) {
      failure = {"export", key.FullName() + " (a line break in its name)", ERROR_INVALID_DATA};
      return false;
    }
    std::vector<Value> values;
    if (!key.Values(values)) {
      if (key.Error() == ERROR_KEY_DELETED) return true;
      return failure.Set("read", key);
    }
    for (Value& v : values) section.entries.push_back({std::move(v), false, 0});
    std::string text, why;
    if (!RegSectionText(section, format_, text, why)) {
      failure = {"export",
                 key.FullName() + " (" + why + "; /a exports REGEDIT4, which keeps its bytes)",
                 ERROR_INVALID_DATA};
      return false;
    }
    if (out_.Write(text, why)) return true;
    failure = {"write", file_ + " (" + why + ")", ERROR_WRITE_FAULT};
    return false;
  }

 private:
  OutputFile& out_;
  const std::string& file_;
  RegFormat format_;
  Progress progress_{"Exported", 0};
};

}  // namespace

int Export(const Words& words) {
  const auto command = ParseKeyCommand("EXPORT", words, {{"y", "a"}, {}}, 2);
  if (!command) return kFailure;
  const Options& options = command->options;
  const KeyPath& path = command->path;
  const std::string file = options.positional[1];
  if (!options.Has("y") && OutputFile::ReplacesFile(file)) {
    if (const auto stop = Confirm(
            "File " + file + " exists, overwrite",
            "File " + file + " exists; input is not a terminal, so give /y to overwrite it."))
      return *stop;
  }
  const RegFormat format = options.Has("a") ? RegFormat::kRegedit4 : RegFormat::kVersion5;
  if (!StoreThere(path)) return kFailure;
  RegistryKey top(path, Access::kRead);
  if (!top.Open()) return Fail("Cannot open " + path.FullName(), top.Error());
  OutputFile out;
  std::string why;
  if (!out.Open(file, why)) return FailText("Cannot write " + file + ": " + why + ".");
  if (!out.Write(RegFileHeader(format), why))
    return FailText("Cannot write " + file + ": " + why + ".");
  WalkFailure failure;
  {
    TreeExporter exporter(out, file, format);
    if (!WalkTree(path, Access::kRead, true, exporter, failure)) return failure.Report();
  }
  if (!out.Commit(why)) return FailText("Cannot write " + file + ": " + why + ".");
  // Into standard output the file is the result: no line of success after it.
  return out.IsStandardOutput() ? kSuccess : Succeed();
}

}  // namespace qreg

// A checked .reg file applied change by change. On the embedded registry the
// whole file is one transaction, so a failure midway leaves nothing changed;
// elsewhere the importer notes, before each change, what the change
// overwrites, deletes or creates, so that a failure midway can put the
// registry back as it was.
#include "tools/qreg/src/commands/apply_reg_file.h"

#include <optional>
#include <string>
#include <vector>

#include "tools/qreg/src/access/tree_walk.h"
#include "tools/qreg/src/cli/text.h"
#include "tools/qreg/src/console/console.h"

#ifndef _WIN32
#include "registry/transaction.h"
#endif

namespace qreg {
namespace {

// One step that takes back one change.
struct UndoStep {
  enum class Kind { kRestoreValue, kRemoveValue, kRemoveKey, kRestoreTree };
  Kind kind;
  KeyPath key;
  Value value;                   // kRestoreValue: the old value; kRemoveValue: its name
  std::vector<RegSection> tree;  // kRestoreTree: the deleted keys in pre-order
};

std::string Shown(const std::string& name) { return name.empty() ? "(Default)" : name; }

class Importer {
 public:
  // undoable: note what each change replaces, for Failed() to put back.
  Importer(const std::string& file, bool undoable) : file_(file), undoable_(undoable) {}

  // False with the failure described in what_ and error_.
  bool Apply(const RegSection& section) {
    const std::string at = Where(section.line);
    return section.remove ? RemoveSection(section, at) : Update(section, at);
  }

  // The failure of an import that changed nothing: a change refused, or
  // the commit of them all (`outcome`).
  int FailedUnchanged(LONG outcome) {
    if (what_.empty()) return Fail("Cannot commit the import of " + file_, outcome);
    return Fail(what_ + "; the import was undone", error_);
  }
  LONG Error() const { return error_ != 0 ? error_ : ERROR_INVALID_DATA; }

  int Failed() {
    std::string undoWhat;
    LONG undoError = 0;
    if (Undo(undoWhat, undoError)) return Fail(what_ + "; the import was undone", error_);
    Fail(what_, error_);
    return Fail("Cannot undo the import, which is left partly applied: " + undoWhat, undoError);
  }

 private:
  std::string Where(int line) const { return " (" + file_ + " line " + std::to_string(line) + ")"; }

  bool Stop(std::string what, LONG error) {
    what_ = std::move(what);
    error_ = error;
    return false;
  }

  bool RemoveSection(const RegSection& section, const std::string& at) {
    const std::string full = section.key.FullName();
    RegistryKey key(section.key, Access::kWrite);
    if (!key.Open()) {
      if (key.Error() == ERROR_FILE_NOT_FOUND) return true;
      return Stop("Cannot open " + full + at, key.Error());
    }
    WalkFailure failure;
    if (undoable_) {
      UndoStep step{UndoStep::Kind::kRestoreTree, section.key, {}, {}};
      if (!ReadTree(section.key, true, step.tree, failure))
        return Stop("Cannot read " + failure.key + " before deleting it" + at, failure.error);
      undo_.push_back(std::move(step));
    }
    if (!DeleteTree(section.key, failure))
      return Stop("Cannot delete " + failure.key + at, failure.error);
    return true;
  }

  bool Update(const RegSection& section, const std::string& at) {
    const std::string full = section.key.FullName();
    if (undoable_) {
      if (const auto missing = TopMissing(section.key))
        undo_.push_back({UndoStep::Kind::kRemoveKey, *missing, {}, {}});
    }
    RegistryKey key(section.key, Access::kCreate);
    if (!key.Open()) return Stop("Cannot create " + full + at, key.Error());
    for (const RegEntry& entry : section.entries) {
      const std::string value = "value " + Shown(entry.value.name) + " of " + full;
      if (!undoable_) {
        const bool ok = entry.remove
                            ? key.Remove(entry.value.name) || key.Error() == ERROR_FILE_NOT_FOUND
                            : key.Write(entry.value);
        if (!ok)
          return Stop(
              (entry.remove ? "Cannot delete " : "Cannot write ") + value + Where(entry.line),
              key.Error());
        continue;
      }
      UndoStep step{UndoStep::Kind::kRestoreValue, section.key, {}, {}};
      if (!key.Read(entry.value.name, step.value)) {
        if (key.Error() != ERROR_FILE_NOT_FOUND)
          return Stop("Cannot read " + value + Where(entry.line), key.Error());
        if (entry.remove) continue;
        step.kind = UndoStep::Kind::kRemoveValue;
        step.value.name = entry.value.name;
      }
      undo_.push_back(std::move(step));
      const bool ok = entry.remove
                          ? key.Remove(entry.value.name) || key.Error() == ERROR_FILE_NOT_FOUND
                          : key.Write(entry.value);
      if (!ok)
        return Stop((entry.remove ? "Cannot delete " : "Cannot write ") + value + Where(entry.line),
                    key.Error());
    }
    return true;
  }

  // The highest key on the way to path (path itself included) that does not
  // exist yet, and which creating path would create. Searched from path
  // upwards: usually the parent exists.
  static std::optional<KeyPath> TopMissing(const KeyPath& path) {
    if (Exists(path)) return std::nullopt;
    KeyPath missing = path;
    KeyPath parent = path;
    while (true) {
      const size_t end = parent.path.rfind('\\');
      if (end == std::string::npos) return missing;
      parent.path.resize(end);
      if (Exists(parent)) return missing;
      missing = parent;
    }
  }

  // Only "not found" means missing: a key that cannot be opened otherwise
  // (access denied) is there.
  static bool Exists(const KeyPath& path) {
    RegistryKey key(path, Access::kRead);
    return key.Open() || key.Error() != ERROR_FILE_NOT_FOUND;
  }

  // Takes every step back, latest first, going on past failures; false with
  // the first failure.
  bool Undo(std::string& what, LONG& error) {
    bool ok = true;
    const auto note = [&](const std::string& failed, LONG code) {
      if (ok) {
        what = failed;
        error = code;
      }
      ok = false;
    };
    for (auto step = undo_.rbegin(); step != undo_.rend(); ++step) {
      const std::string full = step->key.FullName();
      switch (step->kind) {
        case UndoStep::Kind::kRestoreValue: {
          RegistryKey key(step->key, Access::kCreate);
          if (!key.Write(step->value))
            note("cannot restore value " + Shown(step->value.name) + " of " + full, key.Error());
          break;
        }
        case UndoStep::Kind::kRemoveValue: {
          RegistryKey key(step->key, Access::kWrite);
          if (!key.Remove(step->value.name) && key.Error() != ERROR_FILE_NOT_FOUND)
            note("cannot delete value " + Shown(step->value.name) + " of " + full, key.Error());
          break;
        }
        case UndoStep::Kind::kRemoveKey: {
          WalkFailure failure;
          if (!DeleteTree(step->key, failure) && failure.error != ERROR_FILE_NOT_FOUND)
            note("cannot delete " + failure.key, failure.error);
          break;
        }
        case UndoStep::Kind::kRestoreTree:
          for (const RegSection& section : step->tree) {
            RegistryKey key(section.key, Access::kCreate);
            if (!key.Open()) {
              note("cannot recreate " + section.key.FullName(), key.Error());
              continue;
            }
            for (const RegEntry& entry : section.entries)
              if (!key.Write(entry.value))
                note("cannot restore value " + Shown(entry.value.name) + " of " +
                         section.key.FullName(),
                     key.Error());
          }
          break;
      }
    }
    return ok;
  }

  const std::string& file_;
  const bool undoable_;
  std::vector<UndoStep> undo_;
  std::string what_;
  LONG error_ = 0;
};

}  // namespace

int ApplyRegFile(const RegFile& file, const std::string& source) {
#ifndef _WIN32
  {
    Importer importer(source, false);
    // One machine's keys only: nullptr, for a second machine, makes it refuse.
    const std::string machine =
        file.sections.empty() ? std::string() : file.sections[0].key.machine;
    std::vector<HKEY> roots;
    for (const RegSection& section : file.sections)
      roots.push_back(EqualsNoCase(section.key.machine, machine) ? section.key.root : nullptr);
    const long outcome = regkey::registry::RunInOneTransaction(machine, roots, [&]() -> long {
      Progress progress("Imported", file.sections.size());
      for (const RegSection& section : file.sections) {
        progress.Step();
        if (!importer.Apply(section)) return importer.Error();
      }
      return ERROR_SUCCESS;
    });
    if (outcome == ERROR_SUCCESS) return Succeed();
    if (outcome != ERROR_NOT_SUPPORTED) return importer.FailedUnchanged(outcome);
  }
#endif
  Importer importer(source, true);
  Progress progress("Imported", file.sections.size());
  for (const RegSection& section : file.sections) {
    progress.Step();
    if (!importer.Apply(section)) return importer.Failed();
  }
  return Succeed();
}

}  // namespace qreg

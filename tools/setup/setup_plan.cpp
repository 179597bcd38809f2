#include "tools/setup/setup_plan.h"

namespace tolvan {
namespace tools {

namespace {

unsigned long const kSharingViolation = 32;
// Not a system error: the check step found the installation incomplete.
unsigned long const kCheckIncomplete = 0xfffffffeu;

// The folder's paths; the facts were gathered only when they all fit.
struct FolderPaths {
  explicit FolderPaths(std::string const& folder)
      : module(Join(folder, kModuleFileName)),
        engine(Join(folder, kEngineFileName)),
        incoming(Join(folder, kModuleIncomingFileName)),
        backup(Join(folder, kModuleBackupFileName)),
        valueTypes(Join(folder, kValueTypesFileName)) {}
  static std::string Join(std::string const& folder, char const* name) {
    return JoinPath(folder, name).value_or(std::string());
  }
  std::string module;
  std::string engine;
  std::string incoming;
  std::string backup;
  std::string valueTypes;
};

void AddStep(SetupPlan& plan, StepKind kind, std::string const& from, std::string const& to = std::string()) {
  plan.steps.push_back({kind, from, to});
}

// "REFUSED: PATH: " - the caller ends the line with the reason.
void Refuse(Output& out, std::string const& path) {
  Put(out, "REFUSED: ");
  Put(out, path);
  Put(out, ": ");
}

void RefuseWith(Output& out, std::string const& path, char const* reason) {
  Refuse(out, path);
  Put(out, reason);
  Put(out, "\n");
}

bool RefuseFolder(Output& out, FolderFacts const& facts, PutSystemError const& putError) {
  if (!facts.folderError) return false;
  Refuse(out, facts.folder);
  if (facts.folderError == kNotAFolder) {
    Put(out, "it is not a folder");
  } else {
    Put(out, "the folder cannot be used: ");
    putError(out, facts.folderError);
  }
  Put(out, "\n");
  return true;
}

bool RefuseUnreadable(Output& out, std::string const& path, FileFacts const& file, PutSystemError const& putError) {
  if (!file.readError) return false;
  Refuse(out, path);
  Put(out, "it cannot be read as a library: ");
  putError(out, file.readError);
  Put(out, "\n");
  return true;
}

// A file that is to be renamed or deleted must be free: a host that has it
// loaded would keep running on a file that is no longer where it was.
bool RefuseUnchangeable(Output& out, std::string const& path, FileFacts const& file, PutSystemError const& putError) {
  if (file.readOnly) {
    RefuseWith(out, path, "it is read-only");
    return true;
  }
  if (!file.lockError) return false;
  Refuse(out, path);
  Put(out, "it cannot be changed: ");
  putError(out, file.lockError);
  if (file.lockError == kSharingViolation) Put(out, " - is the host application running?");
  Put(out, "\n");
  return true;
}

bool RefuseWithoutValueTypes(Output& out, FolderFacts const& facts, std::string const& path) {
  if (facts.valueTypesFound) return false;
  RefuseWith(out, path,
             "it was found neither in the folder nor by the system's library search: the module does not load "
             "without it");
  return true;
}

// Files of the names used on the way would never be replaced.
bool RefuseInTheWay(Output& out, FileFacts const& file, std::string const& path) {
  if (!file.present) return false;
  RefuseWith(out, path, "it is in the way (left by an earlier attempt?): remove it first");
  return true;
}

// Both ways start from a Tolvan32.dll that can be read: the engine before
// installation, the module after.
bool RefuseWithoutTolvan32(Output& out, FolderFacts const& facts, FolderPaths const& paths,
                           PutSystemError const& putError) {
  if (!facts.module.present) {
    RefuseWith(out, paths.module,
               facts.engine.present ? "it is missing, while Tolvan33.dll is there: put the folder right by hand"
                                    : "it is missing: there is no engine here (is this the host's folder?)");
    return true;
  }
  return RefuseUnreadable(out, paths.module, facts.module, putError);
}

// With the module installed, Tolvan33.dll must be the engine it forwards to.
bool RefuseWithoutEngine(Output& out, FolderFacts const& facts, FolderPaths const& paths,
                         PutSystemError const& putError) {
  if (!facts.engine.present) {
    RefuseWith(out, paths.engine, "it is missing: Tolvan32.dll is the module, and its engine is not there");
    return true;
  }
  if (RefuseUnreadable(out, paths.engine, facts.engine, putError)) return true;
  if (facts.engine.identity != kVersionProxyModule) return false;
  RefuseWith(out, paths.engine, "it is a copy of the module, not the engine: put the original engine back by hand");
  return true;
}

void PutVersionLine(Output& out, char const* what, std::string const& path, FileVersion version) {
  Put(out, what);
  Put(out, path);
  Put(out, ", version ");
  PutFileVersion(out, version);
  Put(out, "\n");
}

// Tolvan32.dll is the module already: the same version is checked, an older
// one replaced.
PlanOutcome PlanReplacement(Output& out, FolderFacts const& facts, FolderPaths const& paths,
                            PutSystemError const& putError, SetupPlan& plan) {
  if (RefuseWithoutEngine(out, facts, paths, putError)) return kPlanRefused;
  PutVersionLine(out, "Installed module:  ", paths.module, facts.module.version);
  int const order = CompareFileVersions(facts.module.version, facts.sourceFacts.version);
  if (order == 0) {
    Put(out, "Already installed: the module in place is this version, the engine beside it.\n");
    AddStep(plan, kStepCheck, paths.engine);
    return kPlanRun;
  }
  if (order > 0) {
    RefuseWith(out, paths.module, "it is a newer module than the one to install: uninstall it first to go back");
    return kPlanRefused;
  }
  if (RefuseWithoutValueTypes(out, facts, paths.valueTypes) ||
      RefuseUnchangeable(out, paths.module, facts.module, putError) ||
      RefuseInTheWay(out, facts.incoming, paths.incoming) || RefuseInTheWay(out, facts.backup, paths.backup)) {
    return kPlanRefused;
  }
  Put(out, "Replacing the older module.\n");
  AddStep(plan, kStepCopy, facts.source, paths.incoming);
  AddStep(plan, kStepRename, paths.module, paths.backup);
  AddStep(plan, kStepRename, paths.incoming, paths.module);
  AddStep(plan, kStepCheck, paths.engine);
  // Last: a deletion cannot be undone.
  AddStep(plan, kStepDelete, paths.backup);
  return kPlanRun;
}

void PutPieces(Output& out, std::string_view a, std::string_view b, std::string_view c = "",
               std::string_view d = "") {
  Put(out, a);
  Put(out, b);
  Put(out, c);
  Put(out, d);
}

void PutStep(Output& out, SetupStep const& step) {
  switch (step.kind) {
    case kStepRename:
      return PutPieces(out, "rename ", step.from, " to ", step.to);
    case kStepCopy:
      return PutPieces(out, "copy ", step.from, " to ", step.to);
    case kStepDelete:
      return PutPieces(out, "delete ", step.from);
    case kStepCheck:
      return PutPieces(out, "check the installation (engine ", step.from, ")");
  }
}

// A step's opposite: renamed back, or the copy deleted. Checks change
// nothing; deletions come last and are never undone.
bool HasUndo(SetupStep const& step) { return step.kind == kStepRename || step.kind == kStepCopy; }

void PutUndo(Output& out, SetupStep const& step) {
  if (step.kind == kStepRename) return PutPieces(out, "rename ", step.to, " back to ", step.from);
  PutPieces(out, "delete ", step.to);
}

unsigned long Undo(SetupActions const& actions, SetupStep const& step) {
  if (step.kind == kStepRename) return actions.rename(step.to, step.from);
  return actions.remove(step.to);
}

unsigned long Do(SetupActions const& actions, Output& out, SetupStep const& step) {
  switch (step.kind) {
    case kStepRename:
      return actions.rename(step.from, step.to);
    case kStepCopy:
      return actions.copy(step.from, step.to);
    case kStepDelete:
      return actions.remove(step.from);
    case kStepCheck:
      return actions.check(out, step.from) ? 0 : kCheckIncomplete;
  }
  return kCheckIncomplete;
}

void PutOutcome(Output& out, unsigned long error, PutSystemError const& putError) {
  if (!error) {
    Put(out, "  done\n");
    return;
  }
  Put(out, "  FAILED: ");
  if (error == kCheckIncomplete) {
    Put(out, "the check found the installation incomplete (above)");
  } else {
    putError(out, error);
  }
  Put(out, "\n");
}

// Undoes steps `last` down to 1; returns a SetupStatus.
int UndoFrom(Output& out, SetupPlan const& plan, int last, SetupActions const& actions) {
  for (int number = last; number >= 1; --number) {
    SetupStep const& step = plan.steps[number - 1];
    if (!HasUndo(step)) continue;
    Put(out, "Undo of step ");
    PutNumber(out, static_cast<uint64_t>(number));
    Put(out, ": ");
    PutUndo(out, step);
    Put(out, "\n");
    unsigned long const error = Undo(actions, step);
    PutOutcome(out, error, actions.putError);
    Flush(out);
    if (!error) continue;
    // Undoing further would work on a folder in an unknown state.
    Put(out, "UNDO FAILED: the folder is NOT as it was. Still to be done by hand, in this order:\n");
    for (; number >= 1; --number) {
      if (!HasUndo(plan.steps[number - 1])) continue;
      Put(out, "  ");
      PutUndo(out, plan.steps[number - 1]);
      Put(out, "\n");
    }
    return kSetupUndoFailed;
  }
  Put(out, last ? "Undone: the folder is as it was.\n" : "Nothing was changed.\n");
  return kSetupNotDone;
}

}  // namespace

std::optional<std::string> JoinPath(std::string_view folder, std::string_view name, size_t size) {
  std::string path(folder);
  if (!path.empty() && path.back() != '\\' && path.back() != '/' && path.back() != ':') path += '\\';
  path += name;
  if (path.size() >= size) return std::nullopt;
  return path;
}

PlanOutcome PlanInstall(Output& out, FolderFacts const& facts, PutSystemError const& putError, SetupPlan& plan) {
  plan.steps.clear();
  FolderPaths const paths(facts.folder);
  if (RefuseFolder(out, facts, putError)) return kPlanRefused;

  FileFacts const& source = facts.sourceFacts;
  if (!source.present) {
    RefuseWith(out, facts.source, "the module to install was not found");
    return kPlanRefused;
  }
  if (RefuseUnreadable(out, facts.source, source, putError)) return kPlanRefused;
  if (source.identity != kVersionProxyModule) {
    RefuseWith(out, facts.source, "it is not the module: its version resource does not name \"Tolvan32 Share\"");
    return kPlanRefused;
  }
  PutVersionLine(out, "Module to install: ", facts.source, source.version);

  if (RefuseWithoutTolvan32(out, facts, paths, putError)) return kPlanRefused;
  if (facts.module.identity == kVersionProxyModule) return PlanReplacement(out, facts, paths, putError, plan);

  if (facts.engine.present) {
    RefuseWith(out, paths.engine,
               facts.engine.identity == kVersionProxyModule
                   ? "it is already there, and it is a copy of the module, which would call itself"
                   : "it is already there: the engine cannot be renamed to it");
    return kPlanRefused;
  }
  if (RefuseWithoutValueTypes(out, facts, paths.valueTypes) ||
      RefuseUnchangeable(out, paths.module, facts.module, putError) ||
      RefuseInTheWay(out, facts.incoming, paths.incoming)) {
    return kPlanRefused;
  }
  AddStep(plan, kStepCopy, facts.source, paths.incoming);
  AddStep(plan, kStepRename, paths.module, paths.engine);
  AddStep(plan, kStepRename, paths.incoming, paths.module);
  AddStep(plan, kStepCheck, paths.engine);
  return kPlanRun;
}

PlanOutcome PlanUninstall(Output& out, FolderFacts const& facts, PutSystemError const& putError, SetupPlan& plan) {
  plan.steps.clear();
  FolderPaths const paths(facts.folder);
  if (RefuseFolder(out, facts, putError)) return kPlanRefused;

  if (RefuseWithoutTolvan32(out, facts, paths, putError)) return kPlanRefused;
  if (facts.module.identity != kVersionProxyModule) {
    if (!facts.engine.present) {
      Put(out, "Not installed: ");
      Put(out, paths.module);
      Put(out, " is not the module, and there is no Tolvan33.dll. Nothing to do.\n");
      return kPlanNothingToDo;
    }
    RefuseWith(out, paths.module, "it is not the module, yet Tolvan33.dll is there too: put the folder right by hand");
    return kPlanRefused;
  }
  PutVersionLine(out, "Installed module:  ", paths.module, facts.module.version);
  if (RefuseWithoutEngine(out, facts, paths, putError)) return kPlanRefused;
  if (RefuseUnchangeable(out, paths.module, facts.module, putError) ||
      RefuseUnchangeable(out, paths.engine, facts.engine, putError) ||
      RefuseInTheWay(out, facts.backup, paths.backup)) {
    return kPlanRefused;
  }
  AddStep(plan, kStepRename, paths.module, paths.backup);
  AddStep(plan, kStepRename, paths.engine, paths.module);
  AddStep(plan, kStepDelete, paths.backup);
  return kPlanRun;
}

int RunPlan(Output& out, SetupPlan const& plan, SetupActions const& actions, bool dryRun) {
  int const count = static_cast<int>(plan.steps.size());
  for (int number = 1; number <= count; ++number) {
    SetupStep const& step = plan.steps[number - 1];
    Put(out, "Step ");
    PutNumber(out, static_cast<uint64_t>(number));
    Put(out, " of ");
    PutNumber(out, static_cast<uint64_t>(count));
    Put(out, ": ");
    PutStep(out, step);
    Put(out, "\n");
    Flush(out);
    if (dryRun) continue;
    if (actions.beforeStep) actions.beforeStep(number, step);
    unsigned long const error = Do(actions, out, step);
    if (actions.afterStep) actions.afterStep(number, step);
    PutOutcome(out, error, actions.putError);
    Flush(out);
    if (error) return UndoFrom(out, plan, number - 1, actions);
  }
  Put(out, dryRun ? "Dry run: nothing was done.\n" : "Done.\n");
  return kSetupDone;
}

}  // namespace tools
}  // namespace tolvan

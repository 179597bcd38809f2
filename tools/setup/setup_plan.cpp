#include "tools/setup/setup_plan.h"

#include "tools/setup/folder_state.h"

namespace tolvan {
namespace tools {

namespace {

unsigned long const kSharingViolation = 32;
unsigned long const kFileNotFound = 2;
unsigned long const kFileExists = 80;
unsigned long const kAlreadyExists = 183;

// Not a system error: the check step found the installation incomplete.
unsigned long const kCheckIncomplete = 0xfffffffeu;

void AddStep(SetupPlan& plan, StepKind kind, std::string const& from, std::string const& to = std::string()) {
  plan.steps.push_back({kind, from, to});
}

// "REFUSED: PATH: " - the caller ends the line with the reason.
void Refuse(Output& out, std::string const& path) {
  Put(out, "REFUSED: ");
  Put(out, path.empty() ? std::string("\"\" (an empty name)") : path);
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
             "it was found neither in the folder nor in the system's folders or PATH, where the host looks for "
             "it: the module does not load without it");
  return true;
}

// A folder that is not as install and uninstall begin: an interrupted
// run is for repair, anything else for the person who knows the host.
bool RefuseState(Output& out, FolderFacts const& facts, Diagnosis const& diagnosis, PutSystemError const& putError) {
  if (diagnosis.state != kStateInterrupted && diagnosis.state != kStateBroken &&
      diagnosis.state != kStateNotAHostFolder) {
    return false;
  }
  Put(out, "REFUSED: ");
  PutFinding(out, diagnosis, putError);
  if (diagnosis.state == kStateInterrupted) {
    Put(out, ": run tolvan32-setup repair ");
    Put(out, facts.folder);
    Put(out, " first\n");
  } else {
    Put(out, ": ");
    Put(out, diagnosis.remedy);
    Put(out, "\n");
  }
  return true;
}

// The engine's entries, read from its export table as check finds them.
bool RefuseMissingEntries(Output& out, std::string const& path, FileFacts const& engine, bool allowMissing) {
  size_t const missing = engine.image.operationsMissing;
  if (!missing) return false;
  std::string const count = std::to_string(missing) + " of the " + std::to_string(engine.image.operationsTotal);
  if (allowMissing) {
    Put(out, "Allowed (--allow-missing): the engine " + path + " lacks " + count +
                 " entries; the host fails only in those calls\n");
    return false;
  }
  RefuseWith(out, path,
             ("the engine lacks " + count +
              " entries the module forwards (check --all lists them): --allow-missing takes it all the same")
                 .c_str());
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
                            PutSystemError const& putError, SetupPlan& plan, bool allowMissing) {
  PutVersionLine(out, "Installed module:  ", paths.module, facts.module.version);
  int const order = CompareFileVersions(facts.module.version, facts.sourceFacts.version);
  if (order == 0) {
    Put(out, "Already installed: the module in place is this version, the engine beside it.\n");
    if (RefuseMissingEntries(out, paths.engine, facts.engine, allowMissing)) return kPlanRefused;
    AddStep(plan, kStepCheck, paths.engine);
    return kPlanRun;
  }
  if (order > 0) {
    RefuseWith(out, paths.module, "it is a newer module than the one to install: uninstall it first to go back");
    return kPlanRefused;
  }
  if (RefuseMissingEntries(out, paths.engine, facts.engine, allowMissing) ||
      RefuseWithoutValueTypes(out, facts, paths.valueTypes) ||
      RefuseUnchangeable(out, paths.module, facts.module, putError)) {
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
  return kSetupNotDone;
}

// Whether the folder holds what it should; exit status 3 and what to do when not.
bool Proven(Output& out, Snapshot const& expected, SetupActions const& actions, std::string const& folder) {
  Snapshot const found = actions.snapshot();
  if (!PutDifferences(out, "NOT AS IT SHOULD BE: the folder differs from what the steps should have left:\n",
                      expected, found)) {
    return true;
  }
  Put(out, "What to do: tolvan32-setup repair ");
  Put(out, folder);
  Put(out,
      " finishes what an interrupted run leaves, or says which file to move by hand (--dry-run first shows its "
      "steps); a copy of this program's own left as Tolvan32.dll.setup-new or .setup-old can be deleted once no "
      "program holds it.\n");
  return false;
}

}  // namespace

std::optional<std::string> JoinPath(std::string_view folder, std::string_view name, size_t size) {
  std::string path(folder);
  if (!path.empty() && path.back() != '\\' && path.back() != '/' && path.back() != ':') path += '\\';
  path += name;
  if (path.size() >= size) return std::nullopt;
  return path;
}

PlanOutcome PlanInstall(Output& out, FolderFacts const& facts, PutSystemError const& putError, SetupPlan& plan,
                        bool allowMissing) {
  plan.steps.clear();
  FolderPaths const paths(facts);
  if (RefuseFolder(out, facts, putError)) return kPlanRefused;

  FileFacts const& source = facts.sourceFacts;
  if (!source.present) {
    RefuseWith(out, facts.source, "the module to install was not found");
    return kPlanRefused;
  }
  if (RefuseUnreadable(out, facts.source, source, putError)) return kPlanRefused;
  if (source.identity != kVersionProxyModule || !source.image.library32) {
    RefuseWith(out, facts.source,
               source.image.library32 ? "it is not the module: its version resource does not name \"Tolvan32 Share\""
                                      : "it is not the module: it is not a 32-bit Windows library");
    return kPlanRefused;
  }
  PutVersionLine(out, "Module to install: ", facts.source, source.version);

  Diagnosis const diagnosis = Diagnose(facts);
  if (RefuseState(out, facts, diagnosis, putError)) return kPlanRefused;
  if (diagnosis.state == kStateInstalled) return PlanReplacement(out, facts, paths, putError, plan, allowMissing);

  if (RefuseMissingEntries(out, paths.module, facts.module, allowMissing) ||
      RefuseWithoutValueTypes(out, facts, paths.valueTypes) ||
      RefuseUnchangeable(out, paths.module, facts.module, putError)) {
    return kPlanRefused;
  }
  AddStep(plan, kStepCopy, facts.source, paths.incoming);
  AddStep(plan, kStepRename, paths.module, paths.engine);
  AddStep(plan, kStepRename, paths.incoming, paths.module);
  AddStep(plan, kStepCheck, paths.engine);
  return kPlanRun;
}

PlanOutcome PlanUninstall(Output& out, FolderFacts const& facts, PutSystemError const& putError, SetupPlan& plan,
                          bool allowMissing) {
  plan.steps.clear();
  FolderPaths const paths(facts);
  if (RefuseFolder(out, facts, putError)) return kPlanRefused;

  Diagnosis const diagnosis = Diagnose(facts);
  if (diagnosis.state == kStateNotInstalled) {
    Put(out, "Not installed: ");
    Put(out, paths.module);
    Put(out, " is not the module, and there is no Tolvan33.dll. Nothing to do.\n");
    return kPlanNothingToDo;
  }
  if (RefuseState(out, facts, diagnosis, putError)) return kPlanRefused;
  PutVersionLine(out, "Installed module:  ", paths.module, facts.module.version);
  if (RefuseMissingEntries(out, paths.engine, facts.engine, allowMissing) ||
      RefuseUnchangeable(out, paths.module, facts.module, putError) ||
      RefuseUnchangeable(out, paths.engine, facts.engine, putError)) {
    return kPlanRefused;
  }
  AddStep(plan, kStepRename, paths.module, paths.backup);
  AddStep(plan, kStepRename, paths.engine, paths.module);
  AddStep(plan, kStepDelete, paths.backup);
  return kPlanRun;
}

PlanOutcome PlanRepair(Output& out, FolderFacts const& facts, PutSystemError const& putError, SetupPlan& plan) {
  plan.steps.clear();
  if (RefuseFolder(out, facts, putError)) return kPlanRefused;
  Diagnosis const diagnosis = Diagnose(facts);
  if (diagnosis.state == kStateInstalled || diagnosis.state == kStateNotInstalled) {
    Put(out, "Nothing to repair: ");
    Put(out, diagnosis.finding);
    Put(out, ".\n");
    return kPlanNothingToDo;
  }
  if (diagnosis.state == kStateBroken || diagnosis.state == kStateNotAHostFolder) {
    RefuseState(out, facts, diagnosis, putError);
    return kPlanRefused;
  }
  Put(out, "Found: ");
  PutFinding(out, diagnosis, putError);
  Put(out, "\n");
  FileFacts const* const files[] = {&facts.module, &facts.engine, &facts.incoming, &facts.backup};
  FolderPaths const paths(facts);
  std::string const* const names[] = {&paths.module, &paths.engine, &paths.incoming, &paths.backup};
  for (SetupStep const& step : diagnosis.repair.steps) {
    if (step.kind == kStepCheck) continue;
    for (int i = 0; i < 4; ++i) {
      if (*names[i] == step.from && RefuseUnchangeable(out, step.from, *files[i], putError)) return kPlanRefused;
    }
  }
  plan = diagnosis.repair;
  return kPlanRun;
}

int RunPlan(Output& out, FolderFacts const& facts, SetupPlan const& plan, SetupActions const& actions, bool dryRun) {
  Snapshot const before = SnapshotOf(facts);
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
    if (error && step.kind == kStepCopy && error != kFileExists && error != kAlreadyExists) {
      // What a failed copy leaves is this program's own, and incomplete.
      unsigned long const removed = actions.remove(step.to);
      if (!removed) Put(out, "  the incomplete copy was deleted\n");
      if (removed && removed != kFileNotFound) {
        Put(out, "  the incomplete copy could not be deleted: ");
        actions.putError(out, removed);
        Put(out, "\n");
      }
    }
    if (!error) continue;
    int const status = UndoFrom(out, plan, number - 1, actions);
    if (status != kSetupNotDone) return status;
    if (!Proven(out, before, actions, facts.folder)) return kSetupUndoFailed;
    Put(out, number > 1 ? "Undone: the folder is as it was (compared: names, sizes, hashes).\n"
                        : "Nothing was changed (compared: names, sizes, hashes).\n");
    return kSetupNotDone;
  }
  if (dryRun) {
    Put(out, "Dry run: nothing was done.\n");
    return kSetupDone;
  }
  if (!Proven(out, ExpectedAfter(before, plan, facts.sourceFacts), actions, facts.folder)) return kSetupUndoFailed;
  Put(out, "Done (compared: names, sizes, hashes).\n");
  return kSetupDone;
}

}  // namespace tools
}  // namespace tolvan

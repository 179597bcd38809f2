#include "tools/setup/folder_state.h"

#include <algorithm>

namespace tolvan {
namespace tools {

namespace {

std::string JoinOrEmpty(std::string const& folder, std::string const& name) {
  return JoinPath(folder, name).value_or(std::string());
}

std::string PathOf(FolderFacts const& facts, FileFacts const& file, char const* name) {
  return JoinOrEmpty(facts.folder, file.present && !file.name.empty() ? file.name : name);
}

// What a file is, by its identity and its exports.
enum FileKind { kAbsent, kEngineFile, kModuleFile, kOtherFile };

FileKind KindOf(FileFacts const& file) {
  if (!file.present) return kAbsent;
  if (file.readError || !file.image.library32) return kOtherFile;
  if (file.identity == kVersionProxyModule) return kModuleFile;
  return file.image.operationsMissing < file.image.operationsTotal ? kEngineFile : kOtherFile;
}

std::string WhyNotALibrary(FileFacts const& file) {
  if (file.readError) return "it cannot be read as a library";
  if (!file.image.library32) return "it is not a 32-bit Windows library";
  return "it is not an engine: it exports none of the " + std::to_string(file.image.operationsTotal) +
         " entries the module forwards";
}

enum Role { kRoleModule, kRoleEngine, kRoleIncoming, kRoleBackup };

struct RoleStep {
  StepKind kind;
  Role from;
  Role to;
};

// Each state an interrupted run leaves, by what stands under the four names,
// and the steps that finish it (or, for an incomplete copy, roll it back).
struct InterruptedRun {
  FileKind module, engine, incoming, backup;
  Role shownBy;
  char const* finding;
  std::vector<RoleStep> steps;
};

std::vector<InterruptedRun> const& InterruptedRuns() {
  static std::vector<InterruptedRun> const runs = {
      {kEngineFile, kAbsent, kModuleFile, kAbsent, kRoleIncoming,
       "an install stopped after copying the module in",
       {{kStepRename, kRoleModule, kRoleEngine}, {kStepRename, kRoleIncoming, kRoleModule},
        {kStepCheck, kRoleEngine, kRoleEngine}}},
      {kEngineFile, kAbsent, kOtherFile, kAbsent, kRoleIncoming,
       "an install stopped while copying the module in: the copy is incomplete",
       {{kStepDelete, kRoleIncoming, kRoleIncoming}}},
      {kAbsent, kEngineFile, kModuleFile, kAbsent, kRoleModule,
       "an install stopped between its two renames: the engine is Tolvan33.dll already, the module not yet in",
       {{kStepRename, kRoleIncoming, kRoleModule}, {kStepCheck, kRoleEngine, kRoleEngine}}},
      {kModuleFile, kEngineFile, kModuleFile, kAbsent, kRoleIncoming,
       "an upgrade stopped after copying the new module in",
       {{kStepRename, kRoleModule, kRoleBackup}, {kStepRename, kRoleIncoming, kRoleModule},
        {kStepCheck, kRoleEngine, kRoleEngine}, {kStepDelete, kRoleBackup, kRoleBackup}}},
      {kModuleFile, kEngineFile, kOtherFile, kAbsent, kRoleIncoming,
       "an upgrade stopped while copying the new module in: the copy is incomplete",
       {{kStepDelete, kRoleIncoming, kRoleIncoming}}},
      {kAbsent, kEngineFile, kModuleFile, kModuleFile, kRoleModule,
       "an upgrade stopped between its two renames: the old module is Tolvan32.dll.setup-old",
       {{kStepRename, kRoleIncoming, kRoleModule}, {kStepCheck, kRoleEngine, kRoleEngine},
        {kStepDelete, kRoleBackup, kRoleBackup}}},
      {kModuleFile, kEngineFile, kAbsent, kModuleFile, kRoleBackup,
       "an upgrade stopped before deleting the old module",
       {{kStepCheck, kRoleEngine, kRoleEngine}, {kStepDelete, kRoleBackup, kRoleBackup}}},
      {kAbsent, kEngineFile, kAbsent, kModuleFile, kRoleModule,
       "an uninstall stopped between its two renames: the module is Tolvan32.dll.setup-old, the engine still "
       "Tolvan33.dll",
       {{kStepRename, kRoleEngine, kRoleModule}, {kStepDelete, kRoleBackup, kRoleBackup}}},
      {kEngineFile, kAbsent, kAbsent, kModuleFile, kRoleBackup,
       "an uninstall stopped before deleting the module it had taken out",
       {{kStepDelete, kRoleBackup, kRoleBackup}}},
      {kAbsent, kEngineFile, kAbsent, kAbsent, kRoleModule,
       "the module was deleted: the engine is still Tolvan33.dll, and gets its name back",
       {{kStepRename, kRoleEngine, kRoleModule}}},
  };
  return runs;
}

struct Files {
  FileFacts const* facts[4];
  std::string paths[4];
};

Diagnosis Broken(std::string const& file, std::string finding, std::string remedy, unsigned long error = 0) {
  return {kStateBroken, file, std::move(finding), error, std::move(remedy), {}};
}

// A file that no run of this program leaves where it is.
std::optional<Diagnosis> StrangeFile(Files const& files) {
  static char const* const kExpected[] = {"the engine or the module", "the engine", "a copy of the module",
                                          "the module taken out by this program"};
  for (int role = kRoleModule; role <= kRoleBackup; ++role) {
    FileFacts const& file = *files.facts[role];
    if (KindOf(file) != kOtherFile) continue;
    // An incomplete copy of the module is this program's own, and repair removes it.
    if (role == kRoleIncoming) continue;
    return Broken(files.paths[role], WhyNotALibrary(file),
                  std::string("it should be ") + kExpected[role] +
                      ": put the host's own file back under this name, or move it out of the folder, then run "
                      "check again",
                  file.readError);
  }
  return std::nullopt;
}

Diagnosis BrokenCombination(Files const& files) {
  FileKind const module = KindOf(*files.facts[kRoleModule]);
  FileKind const engine = KindOf(*files.facts[kRoleEngine]);
  std::string const& enginePath = files.paths[kRoleEngine];
  if (engine == kModuleFile) {
    return Broken(enginePath, "it is a copy of the module, not the engine, and the module would call itself",
                  "put the host's original engine back as Tolvan33.dll, by hand");
  }
  if (module == kModuleFile && engine == kAbsent) {
    return Broken(enginePath, "it is missing: Tolvan32.dll is the module, and its engine is not there",
                  "put the host's original engine back as Tolvan33.dll, by hand");
  }
  if (module == kEngineFile && engine == kEngineFile) {
    return Broken(enginePath,
                  "Tolvan32.dll is an engine (version " + FileVersionText(files.facts[kRoleModule]->version) +
                      ") and so is this one (version " + FileVersionText(files.facts[kRoleEngine]->version) +
                      "): an update of the host has written its engine over the module",
                  "move this older engine out of the folder, then run install again");
  }
  for (int role : {kRoleIncoming, kRoleBackup}) {
    if (!files.facts[role]->present) continue;
    return Broken(files.paths[role], "it is left over, beside files no interrupted run of this program leaves",
                  "compare it with Tolvan32.dll and Tolvan33.dll, and move it out of the folder by hand");
  }
  return Broken(files.paths[kRoleModule], "the folder is in no state this program knows",
                "put the host's original engine back as Tolvan32.dll by hand");
}

}  // namespace

FolderPaths::FolderPaths(FolderFacts const& facts)
    : module(PathOf(facts, facts.module, kModuleFileName)),
      engine(PathOf(facts, facts.engine, kEngineFileName)),
      incoming(PathOf(facts, facts.incoming, kModuleIncomingFileName)),
      backup(PathOf(facts, facts.backup, kModuleBackupFileName)),
      valueTypes(JoinOrEmpty(facts.folder, kValueTypesFileName)) {}

Diagnosis Diagnose(FolderFacts const& facts) {
  FolderPaths const paths(facts);
  Files const files = {{&facts.module, &facts.engine, &facts.incoming, &facts.backup},
                       {paths.module, paths.engine, paths.incoming, paths.backup}};
  FileKind const kinds[4] = {KindOf(facts.module), KindOf(facts.engine), KindOf(facts.incoming),
                             KindOf(facts.backup)};
  if (kinds[kRoleIncoming] == kAbsent && kinds[kRoleBackup] == kAbsent) {
    if (kinds[kRoleModule] == kEngineFile && kinds[kRoleEngine] == kAbsent) {
      return {kStateNotInstalled, paths.module, "Tolvan32.dll is still the engine", 0, {}, {}};
    }
    if (kinds[kRoleModule] == kModuleFile && kinds[kRoleEngine] == kEngineFile) {
      return {kStateInstalled, paths.module, "installed: Tolvan32.dll is the module, Tolvan33.dll the engine", 0,
              {}, {}};
    }
  }
  if (std::optional<Diagnosis> strange = StrangeFile(files)) return *strange;
  // Nothing of the engine's or the module's: some other folder, not one this program ever changed.
  if (kinds[kRoleModule] == kAbsent && kinds[kRoleEngine] == kAbsent) {
    return {kStateNotAHostFolder, paths.module,
            "it is missing, and so is Tolvan33.dll: this is not a host application's folder", 0,
            "name the host application's folder, the one that holds its Tolvan32.dll", {}};
  }
  for (InterruptedRun const& run : InterruptedRuns()) {
    if (run.module != kinds[kRoleModule] || run.engine != kinds[kRoleEngine] ||
        run.incoming != kinds[kRoleIncoming] || run.backup != kinds[kRoleBackup]) {
      continue;
    }
    Diagnosis diagnosis = {kStateInterrupted, files.paths[run.shownBy], run.finding, 0, {}, {}};
    std::vector<RoleStep> steps = run.steps;
    // An upgrade to a module that is not newer would not have been begun:
    // the copy is taken out again instead.
    if (kinds[kRoleModule] == kModuleFile && kinds[kRoleIncoming] == kModuleFile &&
        CompareFileVersions(facts.incoming.version, facts.module.version) <= 0) {
      steps = {{kStepDelete, kRoleIncoming, kRoleIncoming}};
    }
    for (RoleStep const& step : steps) {
      // The module's name keeps the letter case the folder gave it.
      std::string const to = step.to == kRoleModule ? JoinOrEmpty(facts.folder, kModuleFileName) : files.paths[step.to];
      diagnosis.repair.steps.push_back({step.kind, files.paths[step.from], step.kind == kStepRename ? to : ""});
    }
    return diagnosis;
  }
  return BrokenCombination(files);
}

void PutFinding(Output& out, Diagnosis const& diagnosis, PutSystemError const& putError) {
  Put(out, diagnosis.file.empty() ? std::string("\"\"") : diagnosis.file);
  Put(out, ": ");
  Put(out, diagnosis.finding);
  if (diagnosis.error) {
    Put(out, ": ");
    putError(out, diagnosis.error);
  }
}

int CheckFolderState(Output& out, FolderFacts const& facts, PutSystemError const& putError,
                     std::function<int(Output&)> const& checkLibraries) {
  Diagnosis const diagnosis = Diagnose(facts);
  switch (diagnosis.state) {
    case kStateInstalled: {
      int const status = checkLibraries(out);
      Put(out, status == kCheckComplete         ? "State: installed, complete\n"
               : status == kCheckEntriesMissing ? "State: installed, the engine lacks entries (listed above): "
                                                  "the host fails only in those calls\n"
                                                : "State: BROKEN: installed, but the host cannot use the module "
                                                  "(above)\n");
      return status;
    }
    case kStateNotInstalled:
      Put(out, "State: not installed: ");
      PutFinding(out, diagnosis, putError);
      Put(out, " (version ");
      PutFileVersion(out, facts.module.version);
      Put(out, ")\n");
      return kCheckNotInstalled;
    case kStateInterrupted:
      Put(out, "State: INTERRUPTED: ");
      PutFinding(out, diagnosis, putError);
      Put(out, "\nWhat to do: tolvan32-setup repair ");
      Put(out, facts.folder);
      Put(out, " (with --dry-run first to see its steps)\n");
      return kCheckInterrupted;
    case kStateNotAHostFolder:
    case kStateBroken:
      break;
  }
  bool const foreign = diagnosis.state == kStateNotAHostFolder;
  Put(out, foreign ? "State: not a host folder: " : "State: BROKEN: ");
  PutFinding(out, diagnosis, putError);
  Put(out, "\nWhat to do: ");
  Put(out, diagnosis.remedy);
  Put(out, "\n");
  return foreign ? kCheckNotAHostFolder : kCheckBroken;
}

Snapshot SnapshotOf(FolderFacts const& facts) {
  Snapshot snapshot;
  for (FileFacts const* file : {&facts.module, &facts.engine, &facts.incoming, &facts.backup}) {
    if (file->present) snapshot.push_back({file->name, file->size, file->hash});
  }
  return snapshot;
}

namespace {

std::string BaseName(std::string const& path) {
  size_t const separator = path.find_last_of("\\/:");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// The names compared are this program's own, in ASCII; the system ignores their case.
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string const& a, std::string const& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

Snapshot::iterator Find(Snapshot& snapshot, std::string const& name) {
  return std::find_if(snapshot.begin(), snapshot.end(), [&](FileRecord const& r) { return SameName(r.name, name); });
}

void PutRecord(Output& out, FileRecord const* record) {
  if (!record) return Put(out, "no file");
  Put(out, record->name);
  Put(out, ", ");
  PutNumber(out, record->size);
  Put(out, " bytes, hash ");
  PutHash(out, record->hash);
}

}  // namespace

Snapshot ExpectedAfter(Snapshot before, SetupPlan const& plan, FileFacts const& source) {
  for (SetupStep const& step : plan.steps) {
    auto const from = Find(before, BaseName(step.from));
    if (step.kind == kStepRename && from != before.end()) from->name = BaseName(step.to);
    if (step.kind == kStepDelete && from != before.end()) before.erase(from);
    if (step.kind == kStepCopy) before.push_back({BaseName(step.to), source.size, source.hash});
  }
  return before;
}

bool PutDifferences(Output& out, char const* header, Snapshot const& expected, Snapshot const& found) {
  Snapshot all = expected;
  for (FileRecord const& record : found) {
    if (Find(all, record.name) == all.end()) all.push_back(record);
  }
  bool differs = false;
  for (FileRecord const& key : all) {
    Snapshot expectedCopy = expected, foundCopy = found;
    auto const e = Find(expectedCopy, key.name);
    auto const f = Find(foundCopy, key.name);
    FileRecord const* const wanted = e == expectedCopy.end() ? nullptr : &*e;
    FileRecord const* const there = f == foundCopy.end() ? nullptr : &*f;
    if (wanted && there && wanted->name == there->name && wanted->size == there->size &&
        wanted->hash == there->hash) {
      continue;
    }
    if (!differs) Put(out, header);
    differs = true;
    Put(out, "  expected ");
    PutRecord(out, wanted);
    Put(out, "; found ");
    PutRecord(out, there);
    Put(out, "\n");
  }
  return differs;
}

}  // namespace tools
}  // namespace tolvan

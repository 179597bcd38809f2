// tolvan32-setup: installs the module in the host application's folder,
// checks an installation, and removes the module again. Every file is read
// before anything is changed; see setup_plan.h for how the steps are undone.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "tools/check/check_windows.h"
#include "tools/common/tool_platform.h"
#include "tools/setup/setup_plan.h"
#include "tools/setup/setup_trace.h"

namespace tolvan {
namespace tools {

namespace {

// For the project's tests only, two hooks make this program itself do, just
// before step N, what another program could do between two steps:
// TOLVAN32_SETUP_TEST_HOLD=N holds the file that step N renames, copies,
// deletes or checks open without sharing while the step runs;
// TOLVAN32_SETUP_TEST_INTRUDE=N puts an empty file where step N renames or
// copies to, and leaves it there.
char const kHoldVariable[] = "TOLVAN32_SETUP_TEST_HOLD";
char const kIntrudeVariable[] = "TOLVAN32_SETUP_TEST_INTRUDE";

unsigned long LastError() {
  unsigned long const error = GetLastError();
  return error ? error : 1;
}

HANDLE OpenAlone(std::string const& path, DWORD access, DWORD disposition) {
  return CreateFileA(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

FileFacts ReadFileFacts(std::string const& path) {
  FileFacts facts = {};
  DWORD const attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    unsigned long const error = LastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return facts;
    facts.present = true;
    facts.readError = error;
    return facts;
  }
  facts.present = true;
  facts.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  // As a data file: none of its code runs, and once given back the file is
  // free to be renamed.
  if (HMODULE const library = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
    facts.identity = IdentifyLibrary(library, &facts.version);
    FreeLibrary(library);
  } else {
    facts.readError = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_BAD_EXE_FORMAT : LastError();
  }
  // Opened for writing by nobody else: a running host holds its libraries.
  HANDLE const file = OpenAlone(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) {
    facts.lockError = LastError();
  } else {
    CloseHandle(file);
  }
  return facts;
}

bool ValueTypesFound(std::string const& folder) {
  std::optional<std::string> const path = JoinPath(folder, kValueTypesFileName);
  if (path && GetFileAttributesA(path->c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  // Wherever the system's library search finds it for the host.
  HMODULE const library = LoadLibraryExA(kValueTypesFileName, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (library) FreeLibrary(library);
  return library != nullptr;
}

FolderFacts GatherFacts(std::string const& folder, std::string const& source) {
  FolderFacts facts = {};
  facts.folder = folder;
  facts.source = source;
  DWORD const attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    facts.folderError = LastError();
  } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    facts.folderError = kNotAFolder;
  } else if (!JoinPath(folder, kModuleBackupFileName)) {
    facts.folderError = ERROR_FILENAME_EXCED_RANGE;  // the longest of the names used
  }
  if (facts.folderError) return facts;
  facts.module = ReadFileFacts(*JoinPath(folder, kModuleFileName));
  facts.engine = ReadFileFacts(*JoinPath(folder, kEngineFileName));
  facts.incoming = ReadFileFacts(*JoinPath(folder, kModuleIncomingFileName));
  facts.backup = ReadFileFacts(*JoinPath(folder, kModuleBackupFileName));
  facts.valueTypesFound = ValueTypesFound(folder);
  if (source.empty()) return facts;
  if (source.size() >= kSetupPathSize) {
    facts.sourceFacts.present = true;
    facts.sourceFacts.readError = ERROR_FILENAME_EXCED_RANGE;
  } else {
    facts.sourceFacts = ReadFileFacts(source);
  }
  return facts;
}

unsigned long Succeeded(BOOL done) { return done ? 0 : LastError(); }

unsigned long CopyModule(std::string const& from, std::string const& to) {
  if (!CopyFileA(from.c_str(), to.c_str(), /*bFailIfExists=*/TRUE)) return LastError();
  // A copy from read-only media keeps the read-only attribute, which would
  // refuse the next upgrade or removal; without it the module works alike.
  DWORD const attributes = GetFileAttributesA(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesA(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  return 0;
}

// The test hooks' obstructions around each step.
class Obstructions {
 public:
  explicit Obstructions(Output& out)
      : out_(out), heldStep_(StepNumberOf(kHoldVariable)), intrudedStep_(StepNumberOf(kIntrudeVariable)) {}

  void Before(int number, SetupStep const& step) {
    if (number == heldStep_) {
      PutHook(kHoldVariable);
      held_ = CreateFileA(step.from.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (number == intrudedStep_ && (step.kind == kStepRename || step.kind == kStepCopy)) {
      PutHook(kIntrudeVariable);
      HANDLE const file = OpenAlone(step.to, GENERIC_WRITE, CREATE_NEW);
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
  }

  void After() {
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    held_ = INVALID_HANDLE_VALUE;
  }

 private:
  static long StepNumberOf(char const* variable) {
    char const* value = std::getenv(variable);
    long number = 0;
    for (; value && *value >= '0' && *value <= '9'; ++value) number = number * 10 + (*value - '0');
    return number;
  }

  void PutHook(char const* variable) {
    Put(out_, "  (test hook ");
    Put(out_, variable);
    Put(out_, ")\n");
  }

  Output& out_;
  long const heldStep_;
  long const intrudedStep_;
  HANDLE held_ = INVALID_HANDLE_VALUE;
};

// The module beside this program.
std::optional<std::string> DefaultSource() {
  std::string program = ModuleFileName(nullptr);
  if (program.empty()) return std::nullopt;
  size_t const separator = program.find_last_of("\\/");
  return JoinPath(separator == std::string::npos ? "." : program.substr(0, separator + 1), kModuleFileName);
}

void Usage(Output& out) {
  Put(out,
      "usage: tolvan32-setup VERB [OPTIONS] [FOLDER]\n"
      "  FOLDER is the host application's folder (default: the current one).\n"
      "  check [--all] [FOLDER | ENGINE]\n"
      "      Loads FOLDER\\Tolvan33.dll (or the library ENGINE), the value-types library Ravix32.dll and\n"
      "      the module Tolvan32.dll from the same folder, and lists the exported entries each of them\n"
      "      lacks; --all lists every entry.\n"
      "  install [--module PATH] [--dry-run] [FOLDER]\n"
      "      Renames the engine Tolvan32.dll to Tolvan33.dll, copies the module (PATH, default\n"
      "      Tolvan32.dll beside this program) in as Tolvan32.dll and checks; replaces an older module.\n"
      "  uninstall [--dry-run] [FOLDER]\n"
      "      Removes the module and renames Tolvan33.dll back to Tolvan32.dll.\n"
      "  --dry-run lists the steps without taking them. A step that fails is undone with those before it.\n"
      "Exit status: 0 done (check: everything present); 1 refused, or failed and undone, or incomplete\n"
      "(install and uninstall then leave the folder as it was); 2 usage error; 3 a failed step could not\n"
      "be undone (what is left to do by hand is listed).\n");
  PutTraceUsage(out);
}

enum Verb { kVerbCheck, kVerbInstall, kVerbUninstall, kVerbUnknown };

Verb ParseVerb(std::string_view text) {
  if (text == "check") return kVerbCheck;
  if (text == "install") return kVerbInstall;
  if (text == "uninstall") return kVerbUninstall;
  return kVerbUnknown;
}

bool IsHelp(std::string_view argument) { return argument == "--help" || argument == "/?"; }

int Check(Output& out, std::string const& target, bool listAll) {
  DWORD const attributes = GetFileAttributesA(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return RunCheck(out, target, listAll);
  }
  std::optional<std::string> const enginePath = JoinPath(target, kEngineFileName);
  if (!enginePath) {
    Put(StandardError(), "tolvan32-setup: the folder's path is too long\n");
    return kSetupUsage;
  }
  return RunCheck(out, *enginePath, listAll);
}

}  // namespace

int ToolMain(int argc, char** argv) {
  Output& out = StandardOutput();
  if (argc >= 2 && IsHelp(argv[1])) {
    Usage(out);
    return 0;
  }
  if (argc == 2 && IsVersionRequest(argv[1])) {
    PutVersionLine(out, "tolvan32-setup");
    return 0;
  }
  if (argc >= 2 && std::string_view(argv[1]) == "trace") return RunTraceVerb(out, argc, argv);
  Verb const verb = argc >= 2 ? ParseVerb(argv[1]) : kVerbUnknown;
  bool listAll = false;
  bool dryRun = false;
  char const* module = nullptr;
  char const* target = nullptr;
  for (int i = 2; i < argc && verb != kVerbUnknown; ++i) {
    std::string_view const argument = argv[i];
    if (IsHelp(argument)) {
      Usage(out);
      return 0;
    } else if (verb == kVerbCheck && argument == "--all") {
      listAll = true;
    } else if (verb != kVerbCheck && argument == "--dry-run") {
      dryRun = true;
    } else if (verb == kVerbInstall && argument == "--module" && i + 1 < argc && !module) {
      module = argv[++i];
    } else if (argument[0] == '-' || target) {
      Usage(StandardError());
      return kSetupUsage;
    } else {
      target = argv[i];
    }
  }
  if (verb == kVerbUnknown) {
    Usage(StandardError());
    return kSetupUsage;
  }
  // A missing library is reported here, not in a system dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  std::string const folder = target ? target : ".";
  if (verb == kVerbCheck) return Check(out, folder, listAll);

  std::optional<std::string> source;
  if (verb == kVerbInstall) {
    // A bare name is the file in the current folder, never one the system's search finds.
    source = module ? JoinPath(HasDirectory(module) ? "" : ".", module) : DefaultSource();
    if (!source) {
      Put(StandardError(), "tolvan32-setup: the module's path is too long\n");
      return kSetupUsage;
    }
  }
  FolderFacts const facts = GatherFacts(folder, source.value_or(std::string()));
  Put(out, verb == kVerbInstall ? "Installing the module in " : "Removing the module from ");
  Put(out, folder);
  Put(out, "\n");
  SetupPlan plan;
  PlanOutcome const outcome = verb == kVerbInstall ? PlanInstall(out, facts, &PutSystemErrorText, plan)
                                                   : PlanUninstall(out, facts, &PutSystemErrorText, plan);
  if (outcome == kPlanRefused) Put(out, "Nothing was changed.\n");
  if (outcome != kPlanRun) return outcome == kPlanRefused ? kSetupNotDone : kSetupDone;

  Obstructions obstructions(out);
  SetupActions actions;
  actions.rename = [](std::string const& from, std::string const& to) {
    return Succeeded(MoveFileA(from.c_str(), to.c_str()));
  };
  actions.copy = &CopyModule;
  actions.remove = [](std::string const& path) { return Succeeded(DeleteFileA(path.c_str())); };
  actions.check = [](Output& report, std::string const& enginePath) {
    return RunCheck(report, enginePath, false) == 0;
  };
  actions.putError = &PutSystemErrorText;
  actions.beforeStep = [&obstructions](int number, SetupStep const& step) { obstructions.Before(number, step); };
  actions.afterStep = [&obstructions](int, SetupStep const&) { obstructions.After(); };
  return RunPlan(out, plan, actions, dryRun);
}

}  // namespace tools
}  // namespace tolvan

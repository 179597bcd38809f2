// tolvan32-setup: installs the module in the host application's folder,
// checks an installation, and removes the module again. Every file is read
// before anything is changed; see setup_plan.h for how the steps are undone.
#include "tools/check/check_windows.h"
#include "tools/common/tool_crt.h"
#include "tools/common/tool_platform.h"
#include "tools/common/windows_api.h"
#include "tools/setup/setup_plan.h"

namespace tolvan {
namespace tools {

namespace {

unsigned long const kFileNotFound = 2;
unsigned long const kPathNotFound = 3;
unsigned long const kBadFormat = 193;
unsigned long const kFileNameTooLong = 206;
void* const kInvalidHandle = reinterpret_cast<void*>(-1);

// For the project's tests only, two hooks make this program itself do, just
// before step N, what another program could do between two steps:
// TOLVAN32_SETUP_TEST_HOLD=N holds the file that step N renames, copies,
// deletes or checks open without sharing while the step runs;
// TOLVAN32_SETUP_TEST_INTRUDE=N puts an empty file where step N renames or
// copies to, and leaves it there.
char const kHoldVariable[] = "TOLVAN32_SETUP_TEST_HOLD";
char const kIntrudeVariable[] = "TOLVAN32_SETUP_TEST_INTRUDE";

struct WindowsSetup {
  Output* out;
  long heldStep;
  long intrudedStep;
  void* held;
};

unsigned long LastError() {
  unsigned long const error = GetLastError();
  return error ? error : 1;
}

void PutSystemErrorText(Output& out, unsigned long error) {
  char text[256];
  unsigned long length = FormatMessageA(kFormatFromSystem | kFormatIgnoreInserts, nullptr, error, 0, text,
                                        sizeof text, nullptr);
  while (length && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) --length;
  if (length) {
    PutBytes(out, text, length);
    Put(out, " ");
  }
  Put(out, "(error ");
  PutNumber(out, error);
  Put(out, ")");
}

void ReadFileFacts(char const* path, FileFacts& facts) {
  facts = FileFacts();
  unsigned long const attributes = GetFileAttributesA(path);
  if (attributes == kInvalidFileAttributes) {
    unsigned long const error = LastError();
    if (error == kFileNotFound || error == kPathNotFound) return;
    facts.present = true;
    facts.readError = error;
    return;
  }
  facts.present = true;
  facts.readOnly = (attributes & kAttributeReadOnly) != 0;
  // As a data file: none of its code runs, and once given back the file is
  // free to be renamed.
  void* const library = LoadLibraryExA(path, nullptr, kLoadAsDataFile);
  if (library) {
    facts.identity = IdentifyLibrary(library, &facts.version);
    FreeLibrary(library);
  } else {
    facts.readError = (attributes & kAttributeDirectory) ? kBadFormat : LastError();
  }
  // Opened for writing by nobody else: a running host holds its libraries.
  void* const file = CreateFileA(path, kGenericRead | kGenericWrite, 0, nullptr, kOpenExisting, kAttributeNormal,
                                 nullptr);
  if (file == kInvalidHandle) {
    facts.lockError = LastError();
  } else {
    CloseHandle(file);
  }
}

bool ValueTypesFound(char const* folder) {
  char path[kSetupPathSize];
  if (JoinPath(path, sizeof path, folder, kValueTypesFileName) && GetFileAttributesA(path) != kInvalidFileAttributes) {
    return true;
  }
  // Wherever the system's library search finds it for the host.
  void* const library = LoadLibraryExA(kValueTypesFileName, nullptr, kLoadAsDataFile);
  if (library) FreeLibrary(library);
  return library != nullptr;
}

void GatherFacts(char const* folder, char const* source, FolderFacts& facts) {
  facts = FolderFacts();
  facts.folder = folder;
  facts.source = source;
  char path[kSetupPathSize];
  unsigned long const attributes = GetFileAttributesA(folder);
  if (attributes == kInvalidFileAttributes) {
    facts.folderError = LastError();
  } else if (!(attributes & kAttributeDirectory)) {
    facts.folderError = kNotAFolder;
  } else if (!JoinPath(path, sizeof path, folder, kModuleBackupFileName)) {
    facts.folderError = kFileNameTooLong;  // the longest of the names used
  }
  if (facts.folderError) return;
  JoinPath(path, sizeof path, folder, kModuleFileName);
  ReadFileFacts(path, facts.module);
  JoinPath(path, sizeof path, folder, kEngineFileName);
  ReadFileFacts(path, facts.engine);
  JoinPath(path, sizeof path, folder, kModuleIncomingFileName);
  ReadFileFacts(path, facts.incoming);
  JoinPath(path, sizeof path, folder, kModuleBackupFileName);
  ReadFileFacts(path, facts.backup);
  facts.valueTypesFound = ValueTypesFound(folder);
  if (!source) return;
  if (strlen(source) >= kSetupPathSize) {
    facts.sourceFacts.present = true;
    facts.sourceFacts.readError = kFileNameTooLong;
  } else {
    ReadFileFacts(source, facts.sourceFacts);
  }
}

unsigned long RenameFile(void*, char const* from, char const* to) { return MoveFileA(from, to) ? 0 : LastError(); }

unsigned long CopyModule(void*, char const* from, char const* to) {
  if (!CopyFileA(from, to, /*failIfExists=*/1)) return LastError();
  // A copy from read-only media keeps the read-only attribute, which would
  // refuse the next upgrade or removal; without it the module works alike.
  unsigned long const attributes = GetFileAttributesA(to);
  if (attributes != kInvalidFileAttributes && (attributes & kAttributeReadOnly)) {
    SetFileAttributesA(to, attributes & ~kAttributeReadOnly);
  }
  return 0;
}

unsigned long RemoveFile(void*, char const* path) { return DeleteFileA(path) ? 0 : LastError(); }

bool CheckInstallation(void*, Output& out, char const* enginePath) { return RunCheck(out, enginePath, false) == 0; }

void PutHook(Output& out, char const* variable) {
  Put(out, "  (test hook ");
  Put(out, variable);
  Put(out, ")\n");
}

void ObstructStep(void* context, int number, SetupStep const& step) {
  WindowsSetup& setup = *static_cast<WindowsSetup*>(context);
  if (number == setup.heldStep) {
    PutHook(*setup.out, kHoldVariable);
    setup.held = CreateFileA(step.from, kGenericRead, 0, nullptr, kOpenExisting, kAttributeNormal, nullptr);
  }
  if (number == setup.intrudedStep && (step.kind == kStepRename || step.kind == kStepCopy)) {
    PutHook(*setup.out, kIntrudeVariable);
    void* const file = CreateFileA(step.to, kGenericWrite, 0, nullptr, kCreateNew, kAttributeNormal, nullptr);
    if (file != kInvalidHandle) CloseHandle(file);
  }
}

void ReleaseObstruction(void* context, int, SetupStep const&) {
  WindowsSetup& setup = *static_cast<WindowsSetup*>(context);
  if (setup.held && setup.held != kInvalidHandle) CloseHandle(setup.held);
  setup.held = nullptr;
}

long StepNumberOf(char const* variable) {
  char value[16];
  unsigned long const length = GetEnvironmentVariableA(variable, value, sizeof value);
  if (!length || length >= sizeof value) return 0;
  long number = 0;
  for (char const* p = value; *p >= '0' && *p <= '9'; ++p) number = number * 10 + (*p - '0');
  return number;
}

// The module beside this program.
bool DefaultSource(char* path, size_t size) {
  char program[kSetupPathSize];
  unsigned long const length = GetModuleFileNameA(nullptr, program, sizeof program);
  if (!length || length >= sizeof program) return false;
  unsigned long folder = length;
  while (folder && program[folder - 1] != '\\' && program[folder - 1] != '/') --folder;
  program[folder] = '\0';
  return JoinPath(path, size, folder ? program : ".", kModuleFileName);
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
}

enum Verb { kVerbCheck, kVerbInstall, kVerbUninstall, kVerbUnknown };

Verb ParseVerb(char const* text) {
  if (strcmp(text, "check") == 0) return kVerbCheck;
  if (strcmp(text, "install") == 0) return kVerbInstall;
  if (strcmp(text, "uninstall") == 0) return kVerbUninstall;
  return kVerbUnknown;
}

bool IsHelp(char const* argument) { return strcmp(argument, "--help") == 0 || strcmp(argument, "/?") == 0; }

int Check(Output& out, char const* target, bool listAll) {
  char enginePath[kSetupPathSize];
  if (!target) target = ".";
  unsigned long const attributes = GetFileAttributesA(target);
  if (attributes != kInvalidFileAttributes && (attributes & kAttributeDirectory)) {
    if (!JoinPath(enginePath, sizeof enginePath, target, kEngineFileName)) {
      Put(StandardError(), "tolvan32-setup: the folder's path is too long\n");
      return kSetupUsage;
    }
    return RunCheck(out, enginePath, listAll);
  }
  return RunCheck(out, target, listAll);
}

// Large enough to stay off the stack, which is not probed.
FolderFacts g_facts;
SetupPlan g_plan;
char g_source[kSetupPathSize];

}  // namespace

int ToolMain(int argc, char** argv) {
  Output& out = StandardOutput();
  if (argc >= 2 && IsHelp(argv[1])) {
    Usage(out);
    return 0;
  }
  Verb const verb = argc >= 2 ? ParseVerb(argv[1]) : kVerbUnknown;
  bool listAll = false;
  bool dryRun = false;
  char const* module = nullptr;
  char const* target = nullptr;
  for (int i = 2; i < argc && verb != kVerbUnknown; ++i) {
    char const* argument = argv[i];
    if (IsHelp(argument)) {
      Usage(out);
      return 0;
    } else if (verb == kVerbCheck && strcmp(argument, "--all") == 0) {
      listAll = true;
    } else if (verb != kVerbCheck && strcmp(argument, "--dry-run") == 0) {
      dryRun = true;
    } else if (verb == kVerbInstall && strcmp(argument, "--module") == 0 && i + 1 < argc && !module) {
      module = argv[++i];
    } else if (argument[0] == '-' || target) {
      Usage(StandardError());
      return kSetupUsage;
    } else {
      target = argument;
    }
  }
  if (verb == kVerbUnknown) {
    Usage(StandardError());
    return kSetupUsage;
  }
  // A missing library is reported here, not in a system dialog.
  SetErrorMode(kFailCriticalErrors | kNoOpenFileErrorBox);
  if (verb == kVerbCheck) return Check(out, target, listAll);

  char const* const folder = target ? target : ".";
  if (verb == kVerbInstall) {
    // A bare name is the file in the current folder, never one the system's search finds.
    bool const named = module ? JoinPath(g_source, sizeof g_source, HasDirectory(module) ? "" : ".", module)
                              : DefaultSource(g_source, sizeof g_source);
    if (!named) {
      Put(StandardError(), "tolvan32-setup: the module's path is too long\n");
      return kSetupUsage;
    }
  }
  GatherFacts(folder, verb == kVerbInstall ? g_source : nullptr, g_facts);
  Put(out, verb == kVerbInstall ? "Installing the module in " : "Removing the module from ");
  Put(out, folder);
  Put(out, "\n");
  PlanOutcome const outcome = verb == kVerbInstall ? PlanInstall(out, g_facts, &PutSystemErrorText, g_plan)
                                                   : PlanUninstall(out, g_facts, &PutSystemErrorText, g_plan);
  if (outcome == kPlanRefused) Put(out, "Nothing was changed.\n");
  if (outcome != kPlanRun) return outcome == kPlanRefused ? kSetupNotDone : kSetupDone;

  WindowsSetup setup = {&out, StepNumberOf(kHoldVariable), StepNumberOf(kIntrudeVariable), nullptr};
  SetupActions const actions = {&setup,           &RenameFile,         &CopyModule,         &RemoveFile,
                                &CheckInstallation, &PutSystemErrorText, &ObstructStep, &ReleaseObstruction};
  return RunPlan(out, g_plan, actions, dryRun);
}

}  // namespace tools
}  // namespace tolvan

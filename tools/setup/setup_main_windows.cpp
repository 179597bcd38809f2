// tolvan32-setup: installs the module in the host application's folder,
// checks an installation, and removes the module again. Every file is read
// before anything is changed; see setup_plan.h for how the steps are undone.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "tools/check/check_windows.h"
#include "tools/common/nearest_word.h"
#include "tools/common/tool_platform.h"
#include "tools/common/wide_text.h"
#include "tools/setup/folder_state.h"
#include "tools/setup/setup_plan.h"
#include "tools/setup/setup_trace.h"

namespace tolvan {
namespace tools {

namespace {

// For the project's tests only, hooks make this program itself do, just
// before step N, what another program or the disk could do between two steps:
// TOLVAN32_SETUP_TEST_HOLD=N holds the file that step N renames, copies,
// deletes or checks open without sharing while the step runs;
// TOLVAN32_SETUP_TEST_INTRUDE=N puts an empty file where step N renames or
// copies to, and leaves it there;
// TOLVAN32_SETUP_TEST_DISK_FULL=N makes the copy of step N stop half-way,
// as on a full disk.
char const kHoldVariable[] = "TOLVAN32_SETUP_TEST_HOLD";
char const kIntrudeVariable[] = "TOLVAN32_SETUP_TEST_INTRUDE";
char const kDiskFullVariable[] = "TOLVAN32_SETUP_TEST_DISK_FULL";

unsigned long LastError() {
  unsigned long const error = GetLastError();
  return error ? error : 1;
}

HANDLE OpenAlone(std::string const& path, DWORD access, DWORD disposition) {
  return CreateFileW(Wide(path).c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The whole file, or the system's error.
unsigned long ReadWholeFile(std::string const& path, std::string& bytes) {
  HANDLE const file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  bytes.clear();
  char buffer[1 << 16];
  DWORD count = 0;
  BOOL read;
  while ((read = ReadFile(file, buffer, sizeof buffer, &count, nullptr)) && count) bytes.append(buffer, count);
  unsigned long const error = read ? 0 : LastError();
  CloseHandle(file);
  return error;
}

FileFacts ReadFileFacts(std::string const& path) {
  FileFacts facts = {};
  WIN32_FIND_DATAW found;
  HANDLE const search = FindFirstFileW(Wide(path).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    unsigned long const error = LastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return facts;
    facts.present = true;
    facts.readError = error;
    return facts;
  }
  FindClose(search);
  facts.present = true;
  facts.name = Utf8(found.cFileName);
  facts.size = static_cast<uint64_t>(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
  facts.readOnly = (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  std::string bytes;
  if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    facts.readError = ERROR_BAD_EXE_FORMAT;
  } else {
    facts.readError = ReadWholeFile(path, bytes);
  }
  facts.hash = ContentHash(bytes);
  facts.image = ReadImageFacts(bytes);
  // As a data file: none of its code runs, and once given back the file is
  // free to be renamed.
  if (!facts.readError) {
    if (HMODULE const library = LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
      facts.identity = IdentifyLibrary(library, &facts.version);
      FreeLibrary(library);
    } else {
      facts.readError = LastError();
    }
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

DWORD Attributes(std::string const& path) { return GetFileAttributesW(Wide(path).c_str()); }

FolderFacts GatherFacts(std::string const& folder, std::string const& source) {
  FolderFacts facts = {};
  facts.folder = folder;
  facts.source = source;
  DWORD const attributes = folder.empty() ? INVALID_FILE_ATTRIBUTES : Attributes(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    facts.folderError = folder.empty() ? ERROR_INVALID_NAME : LastError();
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
  facts.valueTypesFound = !FindAsHost(folder, kValueTypesFileName).empty();
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
  if (!CopyFileW(Wide(from).c_str(), Wide(to).c_str(), /*bFailIfExists=*/TRUE)) return LastError();
  // A copy from read-only media keeps the read-only attribute, which would
  // refuse the next upgrade or removal; without it the module works alike.
  DWORD const attributes = Attributes(to);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(Wide(to).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  return 0;
}

// The test hook's full disk: half of the file, then the disk's error.
unsigned long CopyHalf(std::string const& from, std::string const& to) {
  std::string bytes;
  if (unsigned long const error = ReadWholeFile(from, bytes)) return error;
  HANDLE const file = OpenAlone(to, GENERIC_WRITE, CREATE_NEW);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size() / 2), &written, nullptr);
  CloseHandle(file);
  return ERROR_DISK_FULL;
}

// The test hooks' obstructions around each step.
class Obstructions {
 public:
  explicit Obstructions(Output& out)
      : out_(out),
        heldStep_(StepNumberOf(kHoldVariable)),
        intrudedStep_(StepNumberOf(kIntrudeVariable)),
        diskFullStep_(StepNumberOf(kDiskFullVariable)) {}

  void Before(int number, SetupStep const& step) {
    if (number == heldStep_) {
      PutHook(kHoldVariable);
      held_ = OpenAlone(step.from, GENERIC_READ, OPEN_EXISTING);
    }
    if (number == intrudedStep_ && (step.kind == kStepRename || step.kind == kStepCopy)) {
      PutHook(kIntrudeVariable);
      HANDLE const file = OpenAlone(step.to, GENERIC_WRITE, CREATE_NEW);
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    diskFull_ = number == diskFullStep_ && step.kind == kStepCopy;
    if (diskFull_) PutHook(kDiskFullVariable);
  }

  void After() {
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    held_ = INVALID_HANDLE_VALUE;
  }

  unsigned long Copy(std::string const& from, std::string const& to) const {
    return diskFull_ ? CopyHalf(from, to) : CopyModule(from, to);
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
  long const diskFullStep_;
  bool diskFull_ = false;
  HANDLE held_ = INVALID_HANDLE_VALUE;
};

// UTF-8 text: in a console as the characters it stands for, elsewhere
// (a file, a pipe) as it is.
void WriteText(void* context, char const* data, size_t length) {
  StandardHandle const which = context ? kStandardError : kStandardOutput;
  HANDLE const handle = GetStdHandle(which == kStandardError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(handle, &mode)) return WriteStandard(which, data, length);
  std::wstring const text = Wide(std::string(data, length));
  DWORD written = 0;
  WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// The module beside this program.
std::optional<std::string> DefaultSource() {
  std::string program = ModuleFileName(nullptr);
  if (program.empty()) return std::nullopt;
  size_t const separator = program.find_last_of("\\/");
  return JoinPath(separator == std::string::npos ? "." : program.substr(0, separator + 1), kModuleFileName);
}

enum Verb { kVerbCheck, kVerbInstall, kVerbUninstall, kVerbRepair, kVerbUnknown };

CommandSyntax const& SyntaxOf(Verb verb) {
  static CommandSyntax const kVerbs[] = {
      {"check", {"--all"}, "  check [--all] [FOLDER | ENGINE]\n"
       "      Says which state FOLDER is in; installed, it loads Tolvan33.dll (or the library ENGINE),\n"
       "      Ravix32.dll and Tolvan32.dll as the host finds them and lists the entries each lacks;\n"
       "      --all lists every entry.\n"},
      {"install", {"--module", "--dry-run", "--allow-missing"},
       "  install [--module PATH] [--dry-run] [--allow-missing] [FOLDER]\n"
       "      Renames the engine Tolvan32.dll to Tolvan33.dll, copies the module (PATH, default\n"
       "      Tolvan32.dll beside this program) in as Tolvan32.dll and checks; replaces an older module.\n"},
      {"uninstall", {"--dry-run", "--allow-missing"}, "  uninstall [--dry-run] [--allow-missing] [FOLDER]\n"
       "      Removes the module and renames Tolvan33.dll back to Tolvan32.dll.\n"},
      {"repair", {"--dry-run", "--allow-missing"}, "  repair [--dry-run] [--allow-missing] [FOLDER]\n"
       "      Finishes what an interrupted install, upgrade or uninstall left (or rolls back an\n"
       "      incomplete copy).\n"},
  };
  return kVerbs[verb];
}

void Usage(Output& out) {
  Put(out,
      "usage: tolvan32-setup VERB [OPTIONS] [FOLDER]\n"
      "  FOLDER is the host application's folder (default: the current one).\n");
  for (Verb verb : {kVerbCheck, kVerbInstall, kVerbUninstall, kVerbRepair}) Put(out, SyntaxOf(verb).usage);
  Put(out,
      "  --dry-run makes every check and lists the steps without taking them. A step that fails is undone\n"
      "  with those before it. --allow-missing takes an engine that lacks some entries.\n"
      "Exit status of install, uninstall, repair: 0 done; 1 refused, or failed and undone (the folder\n"
      "compared: as it was); 2 usage error; 3 the folder is not as it should be (what differs and what\n"
      "to do is listed).\n"
      "Exit status of check: 0 installed, complete; 1 installed, the engine lacks entries; 2 usage\n"
      "error; 4 not installed; 5 interrupted (run repair); 6 broken (what to do is listed); 7 not a\n"
      "host folder (neither Tolvan32.dll nor Tolvan33.dll in it).\n");
  PutTraceUsage(out);
}

Verb ParseVerb(std::string_view text) {
  return static_cast<Verb>(FindCommand(text, &SyntaxOf(kVerbCheck), kVerbUnknown));
}

bool IsHelp(std::string_view argument) { return argument == "--help" || argument == "/?"; }

int CheckStatusOf(int libraryCheck) {
  return libraryCheck == kLibrariesComplete     ? kCheckComplete
         : libraryCheck == kEngineEntriesMissing ? kCheckEntriesMissing
                                                 : kCheckBroken;
}

int Check(Output& out, std::string const& target, bool listAll) {
  DWORD const attributes = Attributes(target);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // A library named by its path: the report alone.
    return RunCheck(out, target, listAll) == kLibrariesComplete ? 0 : 1;
  }
  std::optional<std::string> const enginePath = JoinPath(target, kEngineFileName);
  if (!enginePath) {
    Put(StandardError(), "tolvan32-setup: the folder's path is too long\n");
    return kSetupUsage;
  }
  FolderFacts const facts = GatherFacts(target, std::string());
  return CheckFolderState(out, facts, &PutSystemErrorText, [&](Output& report) {
    return CheckStatusOf(RunCheck(report, *enginePath, listAll));
  });
}

}  // namespace

int ToolMain(int argc, char** argv) {
  Output& out = StandardOutput();
  out.sink = &WriteText;
  out.context = nullptr;
  StandardError().sink = &WriteText;
  StandardError().context = &StandardError();
  if (argc >= 2 && IsHelp(argv[1])) {
    Usage(out);
    return 0;
  }
  if (argc == 2 && IsVersionRequest(argv[1])) {
    PutVersionLine(out, "tolvan32-setup");
    return 0;
  }
  if (argc >= 2 && std::string_view(argv[1]) == "trace") {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    return RunTraceVerb(out, argc, argv, [](Output& report, std::string const& folder) {
      return Check(report, folder, false);
    });
  }
  if (argc < 2) {
    Usage(StandardError());
    return kSetupUsage;
  }
  Verb const verb = ParseVerb(argv[1]);
  if (verb == kVerbUnknown) {
    return PutUsageError(UnknownWordMessage("tolvan32-setup", "verb", argv[1],
                                            {"check", "install", "uninstall", "repair", "trace"}),
                         "  tolvan32-setup check|install|uninstall|repair|trace [OPTIONS] [FOLDER]\n");
  }
  bool listAll = false;
  bool dryRun = false;
  bool allowMissing = false;
  char const* module = nullptr;
  char const* target = nullptr;
  for (int i = 2; i < argc; ++i) {
    std::string_view const argument = argv[i];
    if (IsHelp(argument)) {
      Usage(out);
      return 0;
    } else if (verb == kVerbCheck && argument == "--all") {
      listAll = true;
    } else if (verb != kVerbCheck && argument == "--dry-run") {
      dryRun = true;
    } else if (verb != kVerbCheck && argument == "--allow-missing") {
      allowMissing = true;
    } else if (verb == kVerbInstall && argument == "--module" && i + 1 < argc && !module) {
      module = argv[++i];
    } else if ((argument.size() > 1 && argument[0] == '-') || target) {
      return PutCommandUsageError(std::string(SyntaxOf(verb).name) + " ", SyntaxOf(verb), argument, target);
    } else {
      target = argv[i];
    }
  }
  // A missing library is reported here, not in a system dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // In full, as the host and whoever reads the output sees it.
  std::string const folder = target && !*target ? std::string() : FullPath(target ? target : ".");
  if (verb == kVerbCheck) return Check(out, folder, listAll);

  std::optional<std::string> source;
  if (verb == kVerbInstall) {
    // A bare name is the file in the current folder, never one the system's search finds.
    source = module ? JoinPath(HasDirectory(module) || !*module ? "" : ".", module) : DefaultSource();
    if (!source) {
      Put(StandardError(), "tolvan32-setup: the module's path is too long\n");
      return kSetupUsage;
    }
  }
  FolderFacts const facts = GatherFacts(folder, source.value_or(std::string()));
  static char const* const kHeadings[] = {"", "Installing the module in ", "Removing the module from ",
                                          "Repairing "};
  Put(out, kHeadings[verb]);
  Put(out, folder.empty() ? std::string("\"\"") : folder);
  Put(out, "\n");
  SetupPlan plan;
  PlanOutcome const outcome = verb == kVerbInstall   ? PlanInstall(out, facts, &PutSystemErrorText, plan, allowMissing)
                              : verb == kVerbRepair ? PlanRepair(out, facts, &PutSystemErrorText, plan)
                                                    : PlanUninstall(out, facts, &PutSystemErrorText, plan, allowMissing);
  if (outcome == kPlanRefused) Put(out, "Nothing was changed.\n");
  if (outcome == kPlanNothingToDo && verb == kVerbUninstall) PutRemainingLogs(out);
  if (outcome != kPlanRun) return outcome == kPlanRefused ? kSetupNotDone : kSetupDone;

  Obstructions obstructions(out);
  SetupActions actions;
  actions.rename = [](std::string const& from, std::string const& to) {
    return Succeeded(MoveFileW(Wide(from).c_str(), Wide(to).c_str()));
  };
  actions.copy = [&obstructions](std::string const& from, std::string const& to) {
    return obstructions.Copy(from, to);
  };
  actions.remove = [](std::string const& path) { return Succeeded(DeleteFileW(Wide(path).c_str())); };
  actions.check = [allowMissing](Output& report, std::string const& enginePath) {
    int const result = RunCheck(report, enginePath, false);
    return result == kLibrariesComplete || (allowMissing && result == kEngineEntriesMissing);
  };
  actions.snapshot = [&folder]() { return SnapshotOf(GatherFacts(folder, std::string())); };
  actions.putError = &PutSystemErrorText;
  actions.beforeStep = [&obstructions](int number, SetupStep const& step) { obstructions.Before(number, step); };
  actions.afterStep = [&obstructions](int, SetupStep const&) { obstructions.After(); };
  int const status = RunPlan(out, facts, plan, actions, dryRun);
  if (verb == kVerbUninstall && status == kSetupDone && !dryRun) PutRemainingLogs(out);
  return status;
}

}  // namespace tools
}  // namespace tolvan

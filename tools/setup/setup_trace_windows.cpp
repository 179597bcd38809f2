// tolvan32-setup trace on|off|status: switches the module's trace on and off
// through the environment that Windows gives the programs started
// afterwards, and prepares the two logs so that a host run by any user can
// append to them.
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "tools/check/check_windows.h"
#include "tools/common/nearest_word.h"
#include "tools/setup/setup_plan.h"
#include "tools/setup/setup_trace.h"

namespace tolvan {
namespace tools {

namespace {

char const kDebugVariable[] = "Tolvan32_Debug";
char const kIdsVariable[] = "Tolvan32_TraceIds";
char const kTimeVariable[] = "Tolvan32_TraceTime";
char const* const kVariables[] = {kDebugVariable, kIdsVariable, kTimeVariable};
char const* const kMarkVariables[] = {kIdsVariable, kTimeVariable};

// The logs hold the host's data: SYSTEM and the administrators have full
// access, every authenticated user may only append (FILE_APPEND_DATA and
// SYNCHRONIZE), nobody else reads them. Protected, so that the folder's
// inheritable permissions (on C:\ they let users modify) are not added.
char const kLogSecurity[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x00100004;;;AU)";
DWORD const kAppendAccess = FILE_APPEND_DATA | SYNCHRONIZE;

struct Scope {
  HKEY root;
  char const* key;
  char const* shownAs;
  char const* who;
};
Scope const kUserScope = {HKEY_CURRENT_USER, "Environment", "HKEY_CURRENT_USER\\Environment", "this user"};
Scope const kMachineScope = {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                             "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                             "every user"};

std::optional<std::string> ReadVariable(Scope const& scope, char const* name) {
  HKEY key;
  if (RegOpenKeyExA(scope.root, scope.key, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
  char value[256];
  DWORD size = sizeof value - 1;
  DWORD type = 0;
  LONG const error = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (error != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
  value[size] = '\0';
  return std::string(value);
}

std::optional<std::string> ProcessVariable(char const* name) {
  char value[256];
  DWORD const length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return std::nullopt;
  return std::string(value, length);
}

// Sets the variable, or removes it when `value` is null; 0 or the error.
unsigned long ChangeVariable(Scope const& scope, char const* name, char const* value) {
  HKEY key;
  LONG error = RegCreateKeyExA(scope.root, scope.key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (error != ERROR_SUCCESS) return error;
  error = value ? RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<BYTE const*>(value),
                                 static_cast<DWORD>(std::strlen(value) + 1))
                : RegDeleteValueA(key, name);
  RegCloseKey(key);
  return error == ERROR_FILE_NOT_FOUND && !value ? 0 : error;
}

// Programs started afterwards (by Explorer, say) get the new environment.
void AnnounceEnvironmentChange() {
  DWORD_PTR result;
  SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"),
                      SMTO_ABORTIFHUNG, 5000, &result);
}

// The level a host started now would take: the user's value wins over the
// machine's, read as the module reads it (only 1 and 2 count).
int EffectiveLevel(std::optional<std::string> const& user, std::optional<std::string> const& machine) {
  std::optional<std::string> const& value = user ? user : machine;
  long const level = value ? std::atol(value->c_str()) : 0;
  return level == 1 || level == 2 ? static_cast<int>(level) : 0;
}

struct LogFacts {
  bool present = false;
  bool readOnly = false;
  unsigned long long size = 0;
  unsigned long appendError = 0;  // 0: this user can append to it
};

LogFacts ReadLogFacts(char const* path) {
  LogFacts facts;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return facts;
  facts.present = true;
  facts.readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  facts.size = static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  // Opened as the module opens it, for appending alone; nothing is written.
  HANDLE const file = CreateFileA(path, kAppendAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    facts.appendError = GetLastError();
  } else {
    CloseHandle(file);
  }
  return facts;
}

unsigned long CreateLog(char const* path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kLogSecurity, SDDL_REVISION_1, &descriptor, nullptr)) {
    return GetLastError();
  }
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  HANDLE const file = CreateFileA(path, kAppendAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  unsigned long const error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  LocalFree(descriptor);
  return error;
}

// The read-only attribute off a log (someone's attrib +r, or a copy from
// read-only media): the module could not append to it, nor this program
// delete it. 0 or the system's error.
unsigned long ClearReadOnly(char const* path) {
  DWORD const attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return 0;
  return SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY) ? 0 : GetLastError();
}

bool Exists(char const* path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_FILE_NOT_FOUND;
}

enum { kStillThere = 0xfffffffeu };

// The logs may be open in a running host for the length of one item. A file
// another program holds open with delete sharing is only marked, and stays
// until it is closed: the log counts as deleted once its name is gone.
unsigned long DeleteLog(char const* path) {
  bool clearedReadOnly = false;
  for (int attempt = 0;; ++attempt) {
    if (DeleteFileA(path)) break;
    unsigned long const error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return 0;
    if (error == ERROR_ACCESS_DENIED && !clearedReadOnly && ReadLogFacts(path).readOnly) {
      clearedReadOnly = true;
      if (ClearReadOnly(path) == 0) continue;
    }
    if (error != ERROR_SHARING_VIOLATION || attempt == 20) return error;
    Sleep(50);
  }
  for (int attempt = 0; Exists(path); ++attempt) {
    if (attempt == 20) return kStillThere;
    Sleep(50);
  }
  return 0;
}

void PutLogFacts(Output& out, char const* path, LogFacts const& facts) {
  Put(out, "Log ");
  Put(out, path);
  if (!facts.present) {
    Put(out, ": missing\n");
    return;
  }
  Put(out, ": present, ");
  PutNumber(out, facts.size);
  Put(out, " bytes, ");
  if (facts.appendError) {
    Put(out, "this user CANNOT append to it: ");
    PutSystemErrorText(out, facts.appendError);
    Put(out, "\n");
  } else {
    Put(out, "this user can append to it\n");
  }
}

// A log that is there but takes no line from this user: creating it again,
// with the permissions trace on gives, is the fix (what it holds collected first).
void PutAppendFix(Output& out, char const* path) {
  Put(out, "  ");
  Put(out, path);
  Put(out, " exists but cannot be appended to: the host writes no trace into it.\n"
           "  Fix: from a command prompt opened with \"Run as administrator\": tolvan32-setup trace collect\n"
           "  (keeps what it holds), tolvan32-setup trace off --delete-logs, then tolvan32-setup trace on,\n"
           "  which creates the logs again so that every user can append to them.\n");
}

}  // namespace

char const* const kTraceLogPaths[2] = {"C:\\Tolvan32_a.log", "C:\\Tolvan32_b.log"};

void PutElevatedCommand(Output& out, int argc, char** argv) {
  Put(out, "From a command prompt opened with \"Run as administrator\", run:\n  \"");
  Put(out, ModuleFileName(nullptr));
  Put(out, "\"");
  for (int i = 1; i < argc; ++i) {
    Put(out, " ");
    Put(out, argv[i]);
  }
  Put(out, "\n");
}

namespace {

bool RefusedForElevation(Output& out, unsigned long error, int argc, char** argv) {
  if (error != ERROR_ACCESS_DENIED) return false;
  Put(out, "REFUSED: the setting for every user (--machine) needs an administrator. Nothing was changed.\n");
  PutElevatedCommand(out, argc, argv);
  return true;
}

bool PutFailure(Output& out, char const* what, unsigned long error) {
  if (!error) return false;
  Put(out, "  FAILED to ");
  Put(out, what);
  Put(out, ": ");
  PutSystemErrorText(out, error);
  Put(out, "\n");
  return true;
}

struct TraceOptions {
  Scope const* scope = &kUserScope;
  char const* level = "1";
  bool plain = false;
  bool archive = false;
  bool deleteLogs = false;
  CollectOptions collect;
};

// "C:\Tolvan32_a.log" aside as "C:\Tolvan32_a-20261209-0812.log".
std::string ArchiveName(char const* path) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "-%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
  std::string name = path;
  return name.insert(name.size() - 4, stamp);
}

// Logs of earlier runs: named, and renamed aside with --archive. False when
// one could not be.
bool PutEarlierRuns(Output& out, char const* path, bool archive) {
  LogFacts const facts = ReadLogFacts(path);
  if (!facts.present || !facts.size) return true;
  Put(out, "Log ");
  Put(out, path);
  Put(out, ": holds ");
  PutNumber(out, facts.size);
  if (!archive) {
    Put(out, " bytes of earlier runs: new runs are appended to them (--archive renames them aside first)\n");
    return true;
  }
  std::string const aside = ArchiveName(path);
  if (!MoveFileA(path, aside.c_str())) {
    Put(out, " bytes of earlier runs, which CANNOT be renamed aside: ");
    PutSystemErrorText(out, GetLastError());
    Put(out, "\n");
    return false;
  }
  Put(out, " bytes of earlier runs: renamed to ");
  Put(out, aside);
  Put(out, "\n");
  return true;
}

int TraceOn(Output& out, TraceOptions const& options, int argc, char** argv) {
  Scope const& scope = *options.scope;
  unsigned long error = ChangeVariable(scope, kDebugVariable, options.level);
  if (RefusedForElevation(out, error, argc, argv)) return kSetupNotDone;
  Put(out, "Tracing on for ");
  Put(out, scope.who);
  Put(out, " (");
  Put(out, scope.shownAs);
  Put(out, ")\n");
  bool complete = !PutFailure(out, "set Tolvan32_Debug", error);
  // Each line marked with its process, thread and time unless --plain: the
  // reader pairs the lines of threads and hosts tracing at once only so.
  for (char const* name : kMarkVariables) {
    error = ChangeVariable(scope, name, options.plain ? nullptr : "1");
    std::string const what = std::string(options.plain ? "remove " : "set ") + name;
    complete = !PutFailure(out, what.c_str(), error) && complete;
  }
  Put(out, "  Tolvan32_Debug = ");
  Put(out, options.level);
  Put(out, options.plain ? "\n  Tolvan32_TraceIds, Tolvan32_TraceTime: not set (--plain: lines without ids and time)\n"
                         : "\n  Tolvan32_TraceIds = 1\n  Tolvan32_TraceTime = 1\n");
  AnnounceEnvironmentChange();
  Put(out, "Programs started from now on trace: restart the host application.\n");

  bool logsReady = true;
  bool created = true;
  for (char const* path : kTraceLogPaths) {
    logsReady = PutEarlierRuns(out, path, options.archive) && logsReady;
    bool const absent = !ReadLogFacts(path).present;
    if (absent && (error = CreateLog(path)) != 0) {
      Put(out, "Log ");
      Put(out, path);
      Put(out, ": CANNOT CREATE it: ");
      PutSystemErrorText(out, error);
      Put(out, "\n");
      logsReady = created = false;
      continue;
    }
    LogFacts facts = ReadLogFacts(path);
    if (absent && facts.present && !facts.appendError) {
      Put(out, "Log ");
      Put(out, path);
      Put(out, ": created, empty; every authenticated user may append to it, only administrators read it\n");
      continue;
    }
    // Windows refuses appending to a read-only file, whoever asks.
    if (facts.readOnly && ClearReadOnly(path) == 0) {
      Put(out, "Log ");
      Put(out, path);
      Put(out, ": was read-only; the attribute is cleared\n");
      facts = ReadLogFacts(path);
    }
    PutLogFacts(out, path, facts);
    if (facts.present && facts.appendError) PutAppendFix(out, path);
    logsReady = logsReady && facts.present && !facts.appendError;
  }
  if (!created) {
    Put(out, "A host run by this user writes no trace until an administrator has created the logs.\n");
    PutElevatedCommand(out, argc, argv);
  }
  return complete && logsReady ? kSetupDone : kSetupNotDone;
}

int TraceOff(Output& out, TraceOptions const& options, int argc, char** argv) {
  Scope const& scope = *options.scope;
  Scope const& other = options.scope == &kUserScope ? kMachineScope : kUserScope;
  bool complete = true;
  for (char const* name : kVariables) {
    unsigned long const error = ChangeVariable(scope, name, nullptr);
    if (RefusedForElevation(out, error, argc, argv)) return kSetupNotDone;
    if (name == kVariables[0]) {
      Put(out, "Tracing off for ");
      Put(out, scope.who);
      Put(out, " (");
      Put(out, scope.shownAs);
      Put(out, ")\n");
    }
    std::string const what = std::string("remove ") + name;
    complete = !PutFailure(out, what.c_str(), error) && complete;
  }
  AnnounceEnvironmentChange();
  Put(out, "Programs started from now on do not trace; a running host traces until it is restarted.\n");
  if (EffectiveLevel(ReadVariable(other, kDebugVariable), std::nullopt)) {
    Put(out, "NOTE: Tolvan32_Debug is still set for ");
    Put(out, other.who);
    Put(out, options.scope == &kUserScope ? ": tracing stays on; switch it off with: tolvan32-setup trace off --machine\n"
                                          : ": tracing stays on for this user; switch it off with: tolvan32-setup trace off\n");
  }
  bool denied = false;
  for (char const* path : kTraceLogPaths) {
    if (!options.deleteLogs) break;
    unsigned long const error = DeleteLog(path);
    Put(out, "Log ");
    Put(out, path);
    if (error == kStillThere) {
      Put(out, ": NOT deleted: the system took the deletion, but the file is still there (another program holds "
               "it open, a running host?): close that program and run this again\n");
    } else if (error) {
      Put(out, ": NOT deleted: ");
      PutSystemErrorText(out, error);
      Put(out, "\n");
      denied = denied || error == ERROR_ACCESS_DENIED;
    } else {
      Put(out, ": deleted\n");
    }
    complete = complete && !error;
  }
  if (denied) {
    Put(out, "Only an administrator may delete the logs (or a program holds them).\n");
    PutElevatedCommand(out, argc, argv);
  }
  return complete ? kSetupDone : kSetupNotDone;
}

void PutSetting(Output& out, char const* where, std::optional<std::string> const& value) {
  Put(out, where);
  Put(out, value ? *value : std::string("(not set)"));
  Put(out, "\n");
}

// As the module reads an option: the user's value wins, only 1 counts.
bool OptionOn(char const* name) {
  std::optional<std::string> const user = ReadVariable(kUserScope, name);
  return (user ? user : ReadVariable(kMachineScope, name)).value_or("") == "1";
}

}  // namespace

int TraceStatus(Output& out) {
  for (char const* name : kVariables) {
    Put(out, name);
    Put(out, "\n");
    PutSetting(out, "  user          ", ReadVariable(kUserScope, name));
    PutSetting(out, "  machine       ", ReadVariable(kMachineScope, name));
    PutSetting(out, "  this process  ", ProcessVariable(name));
  }
  int const level = EffectiveLevel(ReadVariable(kUserScope, kDebugVariable), ReadVariable(kMachineScope, kDebugVariable));
  bool logsReady = true;
  unsigned long long held = 0;
  for (char const* path : kTraceLogPaths) {
    LogFacts const facts = ReadLogFacts(path);
    PutLogFacts(out, path, facts);
    if (level && facts.present && facts.appendError) PutAppendFix(out, path);
    logsReady = logsReady && facts.present && !facts.appendError;
    held += facts.size;
  }
  Put(out, "Programs this user starts from now on: ");
  if (!level) {
    Put(out, "no trace.\n");
    if (held) {
      Put(out, "Next: the logs hold ");
      PutNumber(out, held);
      Put(out, " bytes of traced runs: collect them for support with: tolvan32-setup trace collect\n"
               "      then delete them (they hold the host's data) with: tolvan32-setup trace off --delete-logs\n");
    } else {
      Put(out, "Next: switch it on with: tolvan32-setup trace on\n");
    }
    return kSetupDone;
  }
  Put(out, "trace level ");
  PutNumber(out, level);
  Put(out, OptionOn(kIdsVariable) ? ", with process and thread ids" : ", without ids");
  Put(out, OptionOn(kTimeVariable) ? ", with the time.\n" : ", without the time.\n");
  if (EffectiveLevel(ProcessVariable(kDebugVariable), std::nullopt) != level) {
    Put(out, "A host started from this console window keeps this window's environment: start it from a new one.\n");
  }
  if (!logsReady) {
    Put(out, "Next: a host run by this user writes NO trace: an administrator must create the logs: from a command "
             "prompt opened with \"Run as administrator\", run: tolvan32-setup trace on\n");
    return kSetupNotDone;
  }
  Put(out, "Next: restart the host application and repeat what went wrong; then switch the trace off with:\n"
           "      tolvan32-setup trace off, and collect the logs for support with: tolvan32-setup trace collect\n");
  return kSetupDone;
}

void PutRemainingLogs(Output& out) {
  bool any = false;
  for (char const* path : kTraceLogPaths) {
    LogFacts const facts = ReadLogFacts(path);
    if (!facts.present) continue;
    Put(out, any ? ", " : "The trace logs remain, and hold the host's data: ");
    Put(out, path);
    Put(out, " (");
    PutNumber(out, facts.size);
    Put(out, " bytes)");
    any = true;
  }
  if (!any) return;
  Put(out, ".\nDelete them with: tolvan32-setup trace off --delete-logs (tolvan32-setup trace collect first keeps "
           "them for support)\n");
}

namespace {

enum Action { kActionOn, kActionOff, kActionStatus, kActionCollect, kActionUnknown };

CommandSyntax const& SyntaxOf(Action action) {
  static CommandSyntax const kActions[] = {
      {"on", {"--level", "--plain", "--ids", "--archive", "--machine"},
       "  trace on [--level 1|2] [--plain] [--archive] [--machine]\n"
       "      Sets Tolvan32_Debug, Tolvan32_TraceIds=1 and Tolvan32_TraceTime=1 (each line marked with its\n"
       "      process, thread and time; --plain: unmarked lines) for this user, or with --machine for every\n"
       "      user (needs an administrator), and creates the two logs in C:\\ so that every user can append;\n"
       "      says when they hold earlier runs, which --archive renames aside (the date in the name).\n"},
      {"off", {"--delete-logs", "--machine"},
       "  trace off [--delete-logs] [--machine]\n"
       "      Removes what trace on set; --delete-logs deletes both logs.\n"},
      {"status", {}, "  trace status\n"
       "      Where each option is set, whether each log is there and this user can append, what to do next.\n"},
      {"collect", {"--redact", "--out"},
       "  trace collect [--redact] [--out FILE] [FOLDER]\n"
       "      Writes one zip for the support ticket (named after the computer and the time): both logs,\n"
       "      check of the host's FOLDER, trace status, the computer's name and Windows version, and a\n"
       "      manifest with each entry's size and hashes; --redact: the redacted report instead of the logs.\n"},
  };
  return kActions[action];
}

Action ParseAction(std::string_view text) {
  return static_cast<Action>(FindCommand(text, &SyntaxOf(kActionOn), kActionUnknown));
}

}  // namespace

int FindCommand(std::string_view text, CommandSyntax const* commands, int count) {
  int found = 0;
  while (found < count && text != commands[found].name) ++found;
  return found;
}

int PutCommandUsageError(std::string const& owner, CommandSyntax const& command, std::string_view argument,
                         char const* earlier) {
  ArgumentWords words = {"tolvan32-setup", owner, {}, "folder", {}};
  for (char const* option : command.options) {
    if (option) words.options.push_back(option);
  }
  return PutUsageError(UnexpectedArgumentMessage(words, argument, earlier ? earlier : ""), command.usage);
}

int PutUsageError(std::string const& message, char const* usage) {
  Output& error = StandardError();
  Put(error, message);
  Put(error, "usage:\n");
  Put(error, usage);
  Put(error, "tolvan32-setup --help lists every verb and option.\n");
  return kSetupUsage;
}

void PutTraceUsage(Output& out) {
  for (Action action : {kActionOn, kActionOff, kActionStatus, kActionCollect}) Put(out, SyntaxOf(action).usage);
  Put(out,
      "  Exit status of trace: 0 done (status: a host started now traces, or tracing is off); 1 not done or\n"
      "  not complete: a setting for every user without an administrator, a log that cannot be created,\n"
      "  appended to or deleted, a variable that cannot be removed, a bundle without an entry (each named)\n"
      "  or not written; 2 usage error.\n");
}

int RunTraceVerb(Output& out, int argc, char** argv, CheckFolder const& checkFolder) {
  // argv[1] is "trace", argv[2] the action.
  Action const action = argc >= 3 ? ParseAction(argv[2]) : kActionUnknown;
  if (action == kActionUnknown) {
    std::string const message =
        argc >= 3 ? UnknownWordMessage("tolvan32-setup", "trace action", argv[2], {"on", "off", "status", "collect"})
                  : "tolvan32-setup: trace needs an action: on, off, status or collect\n";
    return PutUsageError(message, "  trace on|off|status|collect [OPTIONS]\n");
  }
  TraceOptions options;
  char const* folder = nullptr;
  for (int i = 3; i < argc; ++i) {
    std::string_view const argument = argv[i];
    bool const on = action == kActionOn, off = action == kActionOff, collect = action == kActionCollect;
    if ((on || off) && argument == "--machine") {
      options.scope = &kMachineScope;
    } else if (on && argument == "--ids") {
      options.plain = false;  // the default, still taken
    } else if (on && argument == "--plain") {
      options.plain = true;
    } else if (on && argument == "--archive") {
      options.archive = true;
    } else if (on && argument == "--level") {
      std::string_view const value = i + 1 < argc ? argv[i + 1] : "";
      if (value != "1" && value != "2") {
        std::string const message = "tolvan32-setup: --level takes 1 or 2" +
                                    (i + 1 < argc ? ", not " + std::string(value) : std::string()) + "\n";
        return PutUsageError(message, SyntaxOf(action).usage);
      }
      options.level = argv[++i];
    } else if (off && argument == "--delete-logs") {
      options.deleteLogs = true;
    } else if (collect && argument == "--redact") {
      options.collect.redact = true;
    } else if (collect && argument == "--out" && i + 1 < argc && options.collect.out.empty()) {
      options.collect.out = argv[++i];
    } else if (collect && !folder && !(argument.size() > 1 && argument[0] == '-')) {
      folder = argv[i];
    } else {
      return PutCommandUsageError(std::string("trace ") + SyntaxOf(action).name + " ", SyntaxOf(action), argument,
                                  folder);
    }
  }
  switch (action) {
    case kActionOn:
      return TraceOn(out, options, argc, argv);
    case kActionOff:
      return TraceOff(out, options, argc, argv);
    case kActionCollect:
      options.collect.folder = folder ? folder : ".";
      return CollectBundle(out, options.collect, checkFolder, argc, argv);
    default:
      return TraceStatus(out);
  }
}

}  // namespace tools
}  // namespace tolvan

// tolvan32-setup trace on|off|status: switches the module's trace on and off
// through the environment that Windows gives the programs started
// afterwards, and prepares the two logs so that a host run by any user can
// append to them.
#include <windows.h>
#include <sddl.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "tools/check/check_windows.h"
#include "tools/setup/setup_plan.h"
#include "tools/setup/setup_trace.h"

namespace tolvan {
namespace tools {

namespace {

char const kDebugVariable[] = "Tolvan32_Debug";
char const kIdsVariable[] = "Tolvan32_TraceIds";
char const* const kVariables[] = {kDebugVariable, kIdsVariable};
char const* const kLogPaths[] = {"C:\\Tolvan32_a.log", "C:\\Tolvan32_b.log"};

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
  unsigned long long size = 0;
  unsigned long appendError = 0;  // 0: this user can append to it
};

LogFacts ReadLogFacts(char const* path) {
  LogFacts facts;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return facts;
  facts.present = true;
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

// The logs may be open in a running host for the length of one item.
unsigned long DeleteLog(char const* path) {
  for (int attempt = 0;; ++attempt) {
    if (DeleteFileA(path)) return 0;
    unsigned long const error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return 0;
    if (error != ERROR_SHARING_VIOLATION || attempt == 20) return error;
    Sleep(50);
  }
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

// The command as given, to be run again from an elevated prompt.
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
  bool ids = false;
  bool deleteLogs = false;
};

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
  error = ChangeVariable(scope, kIdsVariable, options.ids ? "1" : nullptr);
  complete = !PutFailure(out, "set Tolvan32_TraceIds", error) && complete;
  Put(out, "  Tolvan32_Debug = ");
  Put(out, options.level);
  Put(out, options.ids ? "\n  Tolvan32_TraceIds = 1\n" : "\n");
  AnnounceEnvironmentChange();
  Put(out, "Programs started from now on trace: restart the host application.\n");

  bool logsReady = true;
  for (char const* path : kLogPaths) {
    if (!ReadLogFacts(path).present) {
      error = CreateLog(path);
      Put(out, "Log ");
      Put(out, path);
      if (error) {
        Put(out, ": CANNOT CREATE it: ");
        PutSystemErrorText(out, error);
        Put(out, "\n");
        logsReady = false;
        continue;
      }
      Put(out, ": created; every authenticated user may append to it, only administrators read it\n");
    }
    LogFacts const facts = ReadLogFacts(path);
    PutLogFacts(out, path, facts);
    logsReady = logsReady && facts.present && !facts.appendError;
  }
  if (!logsReady) {
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
  for (char const* path : kLogPaths) {
    if (!options.deleteLogs) break;
    unsigned long const error = DeleteLog(path);
    std::string const what = std::string("delete ") + path;
    if (!PutFailure(out, what.c_str(), error)) {
      Put(out, "Log ");
      Put(out, path);
      Put(out, ": deleted\n");
    }
    complete = complete && !error;
  }
  return complete ? kSetupDone : kSetupNotDone;
}

void PutSetting(Output& out, char const* where, std::optional<std::string> const& value) {
  Put(out, where);
  Put(out, value ? *value : std::string("(not set)"));
  Put(out, "\n");
}

int TraceStatus(Output& out) {
  for (char const* name : kVariables) {
    Put(out, name);
    Put(out, "\n");
    PutSetting(out, "  user          ", ReadVariable(kUserScope, name));
    PutSetting(out, "  machine       ", ReadVariable(kMachineScope, name));
    PutSetting(out, "  this process  ", ProcessVariable(name));
  }
  int const level = EffectiveLevel(ReadVariable(kUserScope, kDebugVariable), ReadVariable(kMachineScope, kDebugVariable));
  std::optional<std::string> const ids = ReadVariable(kUserScope, kIdsVariable);
  bool const withIds = (ids ? ids : ReadVariable(kMachineScope, kIdsVariable)).value_or("") == "1";
  bool logsReady = true;
  for (char const* path : kLogPaths) {
    LogFacts const facts = ReadLogFacts(path);
    PutLogFacts(out, path, facts);
    logsReady = logsReady && facts.present && !facts.appendError;
  }
  Put(out, "Programs this user starts from now on: ");
  if (!level) {
    Put(out, "no trace.\nNext: switch it on with: tolvan32-setup trace on\n");
    return kSetupDone;
  }
  Put(out, "trace level ");
  PutNumber(out, level);
  Put(out, withIds ? ", with process and thread ids.\n" : ".\n");
  if (EffectiveLevel(ProcessVariable(kDebugVariable), std::nullopt) != level) {
    Put(out, "A host started from this console window keeps this window's environment: start it from a new one.\n");
  }
  if (!logsReady) {
    Put(out, "Next: a host run by this user writes NO trace: an administrator must create the logs: from a command "
             "prompt opened with \"Run as administrator\", run: tolvan32-setup trace on\n");
    return kSetupNotDone;
  }
  Put(out, "Next: restart the host application and repeat what went wrong; then collect both logs and switch the "
           "trace off with: tolvan32-setup trace off\n");
  return kSetupDone;
}

}  // namespace

void PutTraceUsage(Output& out) {
  Put(out,
      "  trace on [--level 1|2] [--ids] [--machine]\n"
      "      Sets Tolvan32_Debug (and with --ids Tolvan32_TraceIds) for this user, or with --machine for every\n"
      "      user (needs an administrator), and creates the two logs in C:\\ so that every user can append.\n"
      "  trace off [--delete-logs] [--machine]\n"
      "      Removes what trace on set; --delete-logs deletes both logs.\n"
      "  trace status\n"
      "      Where each variable is set, whether each log is there and this user can append, what to do next.\n"
      "  Exit status of trace: 0 done (status: a host started now traces, or tracing is off); 1 not done or\n"
      "  not complete: a setting for every user without an administrator, a log that cannot be created or\n"
      "  appended to, a variable or log that cannot be removed; 2 usage error.\n");
}

int RunTraceVerb(Output& out, int argc, char** argv) {
  // argv[1] is "trace", argv[2] the action.
  std::string_view const action = argc >= 3 ? argv[2] : "";
  bool const on = action == "on";
  bool const off = action == "off";
  TraceOptions options;
  bool good = on || off || action == "status";
  for (int i = 3; i < argc && good; ++i) {
    std::string_view const argument = argv[i];
    if ((on || off) && argument == "--machine") {
      options.scope = &kMachineScope;
    } else if (on && argument == "--ids") {
      options.ids = true;
    } else if (on && argument == "--level" && i + 1 < argc &&
               (std::string_view(argv[i + 1]) == "1" || std::string_view(argv[i + 1]) == "2")) {
      options.level = argv[++i];
    } else if (off && argument == "--delete-logs") {
      options.deleteLogs = true;
    } else {
      good = false;
    }
  }
  if (!good) {
    Put(StandardError(), "usage: tolvan32-setup trace on|off|status [OPTIONS]\n");
    PutTraceUsage(StandardError());
    return kSetupUsage;
  }
  if (on) return TraceOn(out, options, argc, argv);
  if (off) return TraceOff(out, options, argc, argv);
  return TraceStatus(out);
}

}  // namespace tools
}  // namespace tolvan

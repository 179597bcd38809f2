// tolvan32-setup trace on|off|status: switches the module's trace on and off
// through the environment that Windows gives the programs started
// afterwards, and prepares the two logs so that a host run by any user can
// append to them.
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
char const kRecorderVariable[] = "Tolvan32_Recorder";
char const kSlowVariable[] = "Tolvan32_RecorderSlowMs";
char const* const kVariables[] = {kDebugVariable, kIdsVariable, kTimeVariable, kRecorderVariable, kSlowVariable};
char const* const kMarkVariables[] = {kIdsVariable, kTimeVariable};
char const* const kRecorderVariables[] = {kRecorderVariable, kSlowVariable};
// The lines the recorder keeps, as the module takes them.
long const kRecorderLeast = 100;
long const kRecorderMost = 100000;
char const kRecorderDefault[] = "1000";

// The logs hold the host's data: SYSTEM and the administrators have full
// access, every authenticated user may only append (FILE_APPEND_DATA and
// SYNCHRONIZE), nobody else reads them. Protected, so that the folder's
// inheritable permissions (on C:\ they let users modify) are not added.
char const kLogSecurity[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x00100004;;;AU)";
// The request file: the same, and its time stamp readable by every user, as
// a module run by any of them reads it.
char const kRequestSecurity[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x00100084;;;AU)";
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
  char const* const security = std::strcmp(path, kSnapshotRequestPath) == 0 ? kRequestSecurity : kLogSecurity;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(security, SDDL_REVISION_1, &descriptor, nullptr)) {
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

// The request file is prepared, shown and mended as the logs are.
char const* FileKind(char const* path) {
  return std::strcmp(path, kSnapshotRequestPath) == 0 ? "Request file " : "Log ";
}

void PutLogFacts(Output& out, char const* path, LogFacts const& facts) {
  Put(out, FileKind(path));
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
char const kSnapshotRequestPath[] = "C:\\Tolvan32_snapshot.req";

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
  char const* recorder = nullptr;  // --recorder: the lines kept
  char const* slowMs = nullptr;    // --slow
  bool levelGiven = false;
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
  bool const recorder = options.recorder != nullptr;
  // The recorder works only while the full trace is off.
  unsigned long error = ChangeVariable(scope, kDebugVariable, recorder ? nullptr : options.level);
  if (RefusedForElevation(out, error, argc, argv)) return kSetupNotDone;
  Put(out, recorder ? "Flight recorder on for " : "Tracing on for ");
  Put(out, scope.who);
  Put(out, " (");
  Put(out, scope.shownAs);
  Put(out, ")\n");
  bool complete = !PutFailure(out, recorder ? "remove Tolvan32_Debug" : "set Tolvan32_Debug", error);
  // Each line marked with its process, thread and time unless --plain: the
  // reader pairs the lines of threads and hosts tracing at once only so.
  // The recorder marks its lines whatever these say.
  for (char const* name : kMarkVariables) {
    bool const remove = options.plain || recorder;
    error = ChangeVariable(scope, name, remove ? nullptr : "1");
    std::string const what = std::string(remove ? "remove " : "set ") + name;
    complete = !PutFailure(out, what.c_str(), error) && complete;
  }
  char const* const recorderValues[] = {options.recorder, recorder ? options.slowMs : nullptr};
  for (int i = 0; i < 2; ++i) {
    error = ChangeVariable(scope, kRecorderVariables[i], recorderValues[i]);
    std::string const what = std::string(recorderValues[i] ? "set " : "remove ") + kRecorderVariables[i];
    complete = !PutFailure(out, what.c_str(), error) && complete;
  }
  if (recorder) {
    Put(out, "  Tolvan32_Recorder = ");
    Put(out, options.recorder);
    if (options.slowMs) {
      Put(out, "\n  Tolvan32_RecorderSlowMs = ");
      Put(out, options.slowMs);
      Put(out, "\n");
    } else {
      Put(out, "\n  Tolvan32_RecorderSlowMs: not set (no call counts as slow)\n");
    }
    Put(out, "  Tolvan32_Debug, Tolvan32_TraceIds, Tolvan32_TraceTime: not set (the recorder marks its lines with ids "
             "and time)\n");
  } else {
    Put(out, "  Tolvan32_Debug = ");
    Put(out, options.level);
    Put(out, options.plain ? "\n  Tolvan32_TraceIds, Tolvan32_TraceTime: not set (--plain: lines without ids and time)\n"
                           : "\n  Tolvan32_TraceIds = 1\n  Tolvan32_TraceTime = 1\n");
  }
  AnnounceEnvironmentChange();
  if (recorder) {
    Put(out, "Programs started from now on keep their last ");
    Put(out, options.recorder);
    Put(out, " lines in memory and write them to the logs only when something goes wrong:\n"
             "restart the host application.\n");
    Scope const& other = options.scope == &kUserScope ? kMachineScope : kUserScope;
    if (EffectiveLevel(ReadVariable(other, kDebugVariable), std::nullopt)) {
      Put(out, "NOTE: Tolvan32_Debug is still set for ");
      Put(out, other.who);
      Put(out, ": the full trace stays on there and the recorder is ignored; switch it off with: tolvan32-setup "
               "trace off");
      Put(out, options.scope == &kUserScope ? " --machine\n" : "\n");
    }
  } else {
    Put(out, "Programs started from now on trace: restart the host application.\n");
  }

  bool logsReady = true;
  bool created = true;
  char const* const paths[] = {kTraceLogPaths[0], kTraceLogPaths[1], kSnapshotRequestPath};
  for (char const* path : paths) {
    bool const request = path == kSnapshotRequestPath;
    if (request && !recorder) break;
    logsReady = (request || PutEarlierRuns(out, path, options.archive)) && logsReady;
    bool const absent = !ReadLogFacts(path).present;
    if (absent && (error = CreateLog(path)) != 0) {
      Put(out, FileKind(path));
      Put(out, path);
      Put(out, ": CANNOT CREATE it: ");
      PutSystemErrorText(out, error);
      Put(out, "\n");
      logsReady = created = false;
      continue;
    }
    LogFacts facts = ReadLogFacts(path);
    if (absent && facts.present && !facts.appendError) {
      Put(out, FileKind(path));
      Put(out, path);
      Put(out, request ? ": created, empty; every authenticated user may append to it (tolvan32-setup trace snapshot)\n"
                       : ": created, empty; every authenticated user may append to it, only administrators read it\n");
      continue;
    }
    // Windows refuses appending to a read-only file, whoever asks.
    if (facts.readOnly && ClearReadOnly(path) == 0) {
      Put(out, FileKind(path));
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

// The number a variable holds, as the module reads one: digits after
// blanks and a sign; 0 when it holds none.
long NumberOf(std::optional<std::string> const& value) {
  return value && value->size() < 15 ? std::atol(value->c_str()) : 0;
}

struct RecorderSetting {
  long lines = 0;   // 0: off
  long slowMs = 0;  // 0: no slow trigger
};

// What a host started now would take: the user's value wins, as for the trace.
RecorderSetting EffectiveRecorder() {
  RecorderSetting setting;
  std::optional<std::string> const user = ReadVariable(kUserScope, kRecorderVariable);
  long const lines = NumberOf(user ? user : ReadVariable(kMachineScope, kRecorderVariable));
  if (lines < kRecorderLeast || lines > kRecorderMost) return setting;
  setting.lines = lines;
  std::optional<std::string> const slow = ReadVariable(kUserScope, kSlowVariable);
  setting.slowMs = std::max(0L, NumberOf(slow ? slow : ReadVariable(kMachineScope, kSlowVariable)));
  return setting;
}

// The recorder's start marks in a log, by trigger.
struct BlockCount {
  unsigned long error = 0;  // the log could not be read
  bool tail = false;        // only its last kScannedBytes were read
  unsigned long long blocks = 0;
  std::vector<std::pair<std::string, unsigned long long>> byTrigger;
};
unsigned long long const kScannedBytes = 64ull << 20;  // a scan of a huge log stays within seconds
char const kStartMark[] = " *** Recorder *** ";

void CountMarkLine(std::string_view line, BlockCount& count) {
  size_t const at = line.find(kStartMark);
  if (at == std::string_view::npos) return;
  std::string_view rest = line.substr(at + sizeof kStartMark - 1);
  std::string const trigger(rest.substr(0, std::min(rest.find(' '), std::min<size_t>(rest.size(), 32))));
  ++count.blocks;
  for (auto& entry : count.byTrigger) {
    if (entry.first == trigger) return void(++entry.second);
  }
  if (count.byTrigger.size() < 16) count.byTrigger.emplace_back(trigger, 1);
}

// From byte `from` on (or its last kScannedBytes when more follow).
BlockCount CountBlocks(char const* path, unsigned long long from) {
  BlockCount count;
  HANDLE const file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    count.error = GetLastError();
    return count;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) size.QuadPart = 0;
  unsigned long long const end = static_cast<unsigned long long>(size.QuadPart);
  if (end > from && end - from > kScannedBytes) {
    from = end - kScannedBytes;
    count.tail = true;
  }
  std::string carry;
  bool skipFirst = count.tail;  // the read began inside a line
  std::vector<char> buffer(1 << 20);
  DWORD got = 0;
  for (unsigned long long at = from;; at += got) {
    // Each read at its own offset: the handle's position is never moved.
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, &where) || !got) break;
    {
      std::string_view piece(buffer.data(), got);
      for (size_t newline; (newline = piece.find('\n')) != std::string_view::npos; piece.remove_prefix(newline + 1)) {
        carry.append(piece.substr(0, newline));
        if (!skipFirst) CountMarkLine(carry, count);
        skipFirst = false;
        carry.clear();
      }
      if (carry.size() < 4096) carry.append(piece.substr(0, 4096 - carry.size()));
    }
  }
  if (!skipFirst) CountMarkLine(carry, count);
  CloseHandle(file);
  return count;
}

void PutBlockCount(Output& out, BlockCount const& count) {
  PutNumber(out, count.blocks);
  for (size_t i = 0; i < count.byTrigger.size(); ++i) {
    Put(out, i ? ", " : " (");
    Put(out, count.byTrigger[i].first);
    Put(out, " ");
    PutNumber(out, count.byTrigger[i].second);
  }
  if (!count.byTrigger.empty()) Put(out, ")");
  if (count.tail) Put(out, " in its last 64 MiB, which alone were read");
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
  RecorderSetting const recorder = EffectiveRecorder();
  Put(out, "Recorder: ");
  if (!recorder.lines) {
    Put(out, "off\n");
  } else {
    Put(out, level ? "set, but ignored while the full trace is on (" : "on, the last ");
    PutNumber(out, static_cast<unsigned long long>(recorder.lines));
    Put(out, level ? " lines)\n" : " lines of each process");
    if (!level && recorder.slowMs) {
      Put(out, "; a call longer than ");
      PutNumber(out, static_cast<unsigned long long>(recorder.slowMs));
      Put(out, " ms writes a block");
    }
    if (!level) Put(out, "\n");
  }
  if (ReadLogFacts(kTraceLogPaths[0]).present) {
    BlockCount const blocks = CountBlocks(kTraceLogPaths[0], 0);
    Put(out, "Recorder blocks in ");
    Put(out, kTraceLogPaths[0]);
    if (blocks.error) {
      Put(out, ": not counted, this user cannot read it: ");
      PutSystemErrorText(out, blocks.error);
    } else {
      Put(out, ": ");
      PutBlockCount(out, blocks);
    }
    Put(out, "\n");
  }
  Put(out, "Programs this user starts from now on: ");
  if (!level && recorder.lines) {
    Put(out, "the flight recorder (nothing is written until something goes wrong).\n");
    if (!logsReady) {
      Put(out, "Next: a host run by this user writes NO block: an administrator must create the logs: from a command "
               "prompt opened with \"Run as administrator\", run: tolvan32-setup trace on --recorder\n");
      return kSetupNotDone;
    }
    Put(out, "Next: restart the host application; when the fault comes back (or after tolvan32-setup trace snapshot),\n"
             "      collect the logs for support with: tolvan32-setup trace collect\n");
    return kSetupDone;
  }
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

namespace {

// The user a request line names, as the run line names it.
std::string UserName() {
  std::string const domain = ProcessVariable("USERDOMAIN").value_or("");
  std::string const name = ProcessVariable("USERNAME").value_or("?");
  return domain.empty() ? name : domain + "\\" + name;
}

// A line appended to the request file; it is created when missing.
int TraceSnapshot(Output& out, int argc, char** argv) {
  LogFacts const log = ReadLogFacts(kTraceLogPaths[0]);
  unsigned long error = 0;
  bool created = false;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 2 && file == INVALID_HANDLE_VALUE; ++attempt) {
    file = CreateFileA(kSnapshotRequestPath, kAppendAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) break;
    error = GetLastError();
    if (attempt || error != ERROR_FILE_NOT_FOUND) break;
    if ((error = CreateLog(kSnapshotRequestPath)) != 0) break;
    created = true;
  }
  if (file == INVALID_HANDLE_VALUE) {
    Put(out, "FAILED: the request file ");
    Put(out, kSnapshotRequestPath);
    Put(out, created || error != ERROR_FILE_NOT_FOUND ? " cannot be appended to: " : " cannot be created: ");
    PutSystemErrorText(out, error);
    Put(out, "\n");
    if (error == ERROR_ACCESS_DENIED) {
      Put(out, "Standard users may append to it but cannot create it in C:\\: an administrator creates it once "
               "(tolvan32-setup trace on --recorder does, or this command run elevated).\n");
      PutElevatedCommand(out, argc, argv);
    }
    return kSetupNotDone;
  }
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
  std::string const line = stamp + UserName() + "\r\n";
  DWORD written = 0;
  bool const appended = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                        written == line.size();
  error = appended ? 0 : GetLastError();
  CloseHandle(file);
  if (!appended) {
    Put(out, "FAILED: the request could not be appended to ");
    Put(out, kSnapshotRequestPath);
    Put(out, ": ");
    PutSystemErrorText(out, error);
    Put(out, "\n");
    return kSetupNotDone;
  }
  Put(out, "Snapshot asked for: a line appended to ");
  Put(out, kSnapshotRequestPath);
  Put(out, created ? " (created)\n" : "\n");
  Put(out, "Every process running the module with the recorder, in any session, writes its block at its next\n"
           "call (it looks at the request at most once a second); a host left idle writes when it is next used.\n");
  char const* wait = std::getenv("TOLVAN32_SETUP_TEST_SNAPSHOT_WAIT_MS");
  Sleep(wait ? static_cast<DWORD>(std::atol(wait)) : 2000);
  // A recorder that never triggered wrote no log: its first block starts it.
  if (!ReadLogFacts(kTraceLogPaths[0]).present) {
    Put(out, "Log ");
    Put(out, kTraceLogPaths[0]);
    Put(out, ": missing: no block written yet\n");
    return kSetupDone;
  }
  BlockCount const blocks = CountBlocks(kTraceLogPaths[0], log.present ? log.size : 0);
  Put(out, "Since then, log ");
  Put(out, kTraceLogPaths[0]);
  if (blocks.error) {
    Put(out, ": not read, this user cannot read it: ");
    PutSystemErrorText(out, blocks.error);
    Put(out, "\n");
    return kSetupDone;
  }
  Put(out, " gained ");
  BlockCount snapshots;
  for (auto const& entry : blocks.byTrigger) {
    if (entry.first == "snapshot") snapshots.blocks = entry.second;
  }
  snapshots.tail = blocks.tail;
  PutBlockCount(out, snapshots);
  Put(out, snapshots.blocks == 1 ? " snapshot block\n" : " snapshot blocks\n");
  return kSetupDone;
}

}  // namespace

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

enum Action { kActionOn, kActionOff, kActionStatus, kActionCollect, kActionSnapshot, kActionUnknown };

CommandSyntax const& SyntaxOf(Action action) {
  static CommandSyntax const kActions[] = {
      {"on", {"--level", "--plain", "--ids", "--archive", "--machine", "--recorder", "--slow"},
       "  trace on [--level 1|2] [--plain] [--archive] [--machine]\n"
       "      Sets Tolvan32_Debug, Tolvan32_TraceIds=1 and Tolvan32_TraceTime=1 (--plain: unmarked lines) for\n"
       "      this user, or every user with --machine (an administrator), and creates both logs in C:\\ so that\n"
       "      every user can append; --archive renames logs of earlier runs aside (the date in the name).\n"
       "  trace on --recorder [N] [--slow MS] [--archive] [--machine]\n"
       "      Instead: the flight recorder, each process's last N lines (100 to 100000, default 1000) written\n"
       "      only on an error, a refusal, an engine exception, a call over MS ms or a trace snapshot.\n"},
      {"off", {"--delete-logs", "--machine"},
       "  trace off [--delete-logs] [--machine]\n"
       "      Removes what trace on set; --delete-logs deletes both logs.\n"},
      {"status", {}, "  trace status\n"
       "      Where each option is set, whether each log is there and this user can append, the recorder and\n"
       "      the recorder blocks the plain log holds by trigger, what to do next.\n"},
      {"collect", {"--redact", "--out"},
       "  trace collect [--redact] [--out FILE] [FOLDER]\n"
       "      Writes one zip for the support ticket (named after the computer and the time): both logs,\n"
       "      check of the host's FOLDER, trace status, the computer's name and Windows version, and a\n"
       "      manifest with each entry's size and hashes; --redact: the redacted report instead of the logs.\n"},
      {"snapshot", {}, "  trace snapshot\n"
       "      Asks every process running the recorder to write its block at its next call (a line appended\n"
       "      to C:\\Tolvan32_snapshot.req), waits 2 seconds and says how many snapshot blocks the log gained.\n"},
  };
  return kActions[action];
}

// Digits alone, as a number; -1 for anything else (or more than 9 digits).
long WholeNumber(std::string_view text) {
  if (text.empty() || text.size() > 9) return -1;
  long value = 0;
  for (char const c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
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
  for (Action action : {kActionOn, kActionOff, kActionStatus, kActionCollect, kActionSnapshot}) {
    Put(out, SyntaxOf(action).usage);
  }
  Put(out,
      "  Exit status of trace: 0 done (status: a host started now traces or records, or both are off); 1\n"
      "  not done or not complete: a setting for every user without an administrator, a log or the\n"
      "  snapshot request that cannot be created, appended to or deleted, a variable that cannot be\n"
      "  removed, a bundle without an entry (each named) or not written; 2 usage error.\n");
}

int RunTraceVerb(Output& out, int argc, char** argv, CheckFolder const& checkFolder) {
  // argv[1] is "trace", argv[2] the action.
  Action const action = argc >= 3 ? ParseAction(argv[2]) : kActionUnknown;
  if (action == kActionUnknown) {
    std::string const message =
        argc >= 3 ? UnknownWordMessage("tolvan32-setup", "trace action", argv[2],
                                       {"on", "off", "status", "collect", "snapshot"})
                  : "tolvan32-setup: trace needs an action: on, off, status, collect or snapshot\n";
    return PutUsageError(message, "  trace on|off|status|collect|snapshot [OPTIONS]\n");
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
      options.levelGiven = true;
    } else if (on && argument == "--recorder") {
      options.recorder = kRecorderDefault;
      // N is optional: a next argument that is no option is it.
      if (i + 1 < argc && argv[i + 1][0] != '-') {
        std::string_view const value = argv[++i];
        long const lines = WholeNumber(value);
        if (lines < kRecorderLeast || lines > kRecorderMost) {
          return PutUsageError("tolvan32-setup: --recorder keeps 100 to 100000 lines, not " + std::string(value) +
                                   "\n",
                               SyntaxOf(action).usage);
        }
        options.recorder = argv[i];
      }
    } else if (on && argument == "--slow") {
      std::string_view const value = i + 1 < argc ? argv[i + 1] : "";
      if (WholeNumber(value) < 1) {
        std::string const message = "tolvan32-setup: --slow takes the milliseconds, 1 or more" +
                                    (i + 1 < argc ? ", not " + std::string(value) : std::string()) + "\n";
        return PutUsageError(message, SyntaxOf(action).usage);
      }
      options.slowMs = argv[++i];
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
  if (options.slowMs && !options.recorder) {
    return PutUsageError("tolvan32-setup: --slow goes with --recorder\n", SyntaxOf(action).usage);
  }
  if (options.recorder && (options.levelGiven || options.plain)) {
    return PutUsageError("tolvan32-setup: --recorder replaces the full trace: --level and --plain are the full trace's\n",
                         SyntaxOf(action).usage);
  }
  switch (action) {
    case kActionOn:
      return TraceOn(out, options, argc, argv);
    case kActionSnapshot:
      return TraceSnapshot(out, argc, argv);
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

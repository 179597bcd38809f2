// tolvan32-setup trace collect: one zip for a support ticket, with what
// support would otherwise ask for piece by piece: both logs (or, with
// --redact, the reader's redacted report of them), what check says of the
// host's folder, what trace status says, and which computer and Windows it
// comes from, with a manifest of the entries. The logs are streamed into
// the archive in pieces: memory stays the same whatever their size.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/check/check_windows.h"
#include "tools/common/wide_text.h"
#include "tools/setup/setup_plan.h"
#include "tools/setup/setup_trace.h"
#include "tools/setup/zip_writer.h"

namespace tolvan {
namespace tools {

namespace {

size_t const kPiece = 1 << 16;

void AppendTo(void* context, char const* data, size_t length) {
  static_cast<std::string*>(context)->append(data, length);
}

// What `print` prints, as text; its result in `status`.
std::string Captured(std::function<int(Output&)> const& print, int* status = nullptr) {
  std::string text;
  std::unique_ptr<Output> const out(new Output);
  out->sink = &AppendTo;
  out->context = &text;
  out->used = 0;
  int const result = print(*out);
  Flush(*out);
  if (status) *status = result;
  return text;
}

std::string SystemErrorText(unsigned long error) {
  return Captured([error](Output& out) {
    PutSystemErrorText(out, error);
    return 0;
  });
}

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string("unknown-computer");
}

std::string Stamp(SYSTEMTIME const& time, char const* format) {
  char text[40];
  std::snprintf(text, sizeof text, format, time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
                time.wSecond);
  return text;
}

// The version Windows really is: GetVersionEx answers by the program's
// manifest from Windows 8.1 on, RtlGetVersion does not.
std::string WindowsVersion() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  typedef LONG(WINAPI * GetVersionFunction)(OSVERSIONINFOW*);
  FARPROC const found = GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion");
  auto const rtlGetVersion = reinterpret_cast<GetVersionFunction>(reinterpret_cast<void*>(found));
  if (!rtlGetVersion || rtlGetVersion(&info) != 0) GetVersionExW(&info);
  std::string text = std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
                     std::to_string(info.dwBuildNumber);
  if (info.szCSDVersion[0]) text += " " + Utf8(info.szCSDVersion);
  typedef BOOL(WINAPI * IsWow64Function)(HANDLE, BOOL*);
  FARPROC const wow = GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
  BOOL wow64 = FALSE;
  if (wow) reinterpret_cast<IsWow64Function>(reinterpret_cast<void*>(wow))(GetCurrentProcess(), &wow64);
  return text + (wow64 ? " (64-bit Windows)" : " (32-bit Windows)");
}

// "Tolvan32-WS17-20261209-081200.zip": letters, digits, '-' and '_' of the name.
std::string BundleName(std::string const& computer, SYSTEMTIME const& now) {
  std::string name = "Tolvan32-";
  for (char c : computer) {
    bool const plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    name += plain ? c : '_';
  }
  return name + Stamp(now, "-%04u%02u%02u-%02u%02u%02u.zip");
}

class File {
 public:
  explicit File(HANDLE handle) : handle_(handle) {}
  ~File() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  File(File const&) = delete;
  File& operator=(File const&) = delete;
  HANDLE get() const { return handle_; }
  bool good() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

HANDLE OpenForReading(std::string const& path) {
  return CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// One line of the manifest and of what collect prints, per entry.
struct Collected {
  std::string name;
  std::string note;  // left out, cut short, or what it is
  bool included;
};

// Why a log (or its report) is not in the bundle.
std::string LeftOut(char const* path, unsigned long error) {
  if (error == ERROR_FILE_NOT_FOUND) {
    return std::string("NOT INCLUDED: ") + path + " is missing (the trace was not on, or its logs were deleted)";
  }
  return std::string("NOT INCLUDED: ") + path + " cannot be read by this user: " + SystemErrorText(error) +
         "; only administrators read the logs";
}

class Bundle {
 public:
  Bundle(ZipWriter& zip, Output& out) : zip_(zip), out_(out) {}

  // A file's bytes up to its size when opened: lines a running host
  // appends meanwhile belong to the next bundle. 0, or why it is not in.
  unsigned long AddFile(std::string const& name, std::string const& path, std::string& note) {
    File const file(OpenForReading(path));
    if (!file.good()) return GetLastError();
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) return GetLastError();
    uint64_t left = static_cast<uint64_t>(size.QuadPart);
    if (left > kZipEntryLimit) {
      note = "NOT INCLUDED: " + std::to_string(left) +
             " bytes, more than a zip without its 64-bit extension holds: compress it by hand";
      return 0;
    }
    if (!zip_.Begin(name)) return 0;
    std::unique_ptr<char[]> const buffer(new char[kPiece]);
    unsigned long error = 0;
    while (left) {
      DWORD count = 0;
      if (!ReadFile(file.get(), buffer.get(), static_cast<DWORD>(std::min<uint64_t>(left, kPiece)), &count, nullptr)) {
        error = GetLastError();
        break;
      }
      if (!count) break;
      if (!zip_.Write(std::string_view(buffer.get(), count))) return 0;
      left -= count;
    }
    zip_.End();
    if (error) note = "CUT SHORT: reading it failed: " + SystemErrorText(error);
    if (!error && !size.QuadPart) note = "empty: nothing was traced into it";
    return 0;
  }

  void AddText(std::string const& name, std::string const& text, std::string const& note) {
    zip_.AddEntry(name, text);
    Add(name, note, true);
  }

  void Add(std::string const& name, std::string note, bool included) {
    Put(out_, "  ");
    Put(out_, name);
    PutSpaces(out_, 18 - static_cast<int>(name.size()));
    if (included && !zip_.Entries().empty() && zip_.Entries().back().name == name) {
      PutNumber(out_, zip_.Entries().back().size);
      Put(out_, " bytes");
      if (!note.empty()) Put(out_, ", ");
    }
    Put(out_, note);
    Put(out_, "\n");
    complete_ = complete_ && (included && note.find("CUT SHORT") == std::string::npos);
    collected_.push_back({name, std::move(note), included});
  }

  // A log, or why it is not in.
  void AddLog(std::string const& name, char const* path) {
    std::string note;
    unsigned long const error = AddFile(name, path, note);
    if (error) {
      Add(name, LeftOut(path, error), false);
      needsElevation_ = needsElevation_ || error != ERROR_FILE_NOT_FOUND;
    } else {
      Add(name, note, note.find("NOT INCLUDED") == std::string::npos);
    }
  }

  void LeaveOut(std::string const& name, char const* path, unsigned long error) {
    Add(name, LeftOut(path, error), false);
    needsElevation_ = needsElevation_ || error != ERROR_FILE_NOT_FOUND;
  }

  std::string Manifest(std::string const& header) const {
    char title[160];
    std::snprintf(title, sizeof title, "%-20s %12s  %-8s  %s\n", "entry", "bytes", "crc32", "hash (FNV-1a, 64 bits)");
    std::string text = header + title;
    for (Collected const& entry : collected_) {
      ZipEntryFacts const* facts = nullptr;
      for (ZipEntryFacts const& written : zip_.Entries()) {
        if (written.name == entry.name) facts = &written;
      }
      char line[160];
      if (entry.included && facts) {
        std::snprintf(line, sizeof line, "%-20s %12llu  %08lx  %016llx", entry.name.c_str(),
                      static_cast<unsigned long long>(facts->size), static_cast<unsigned long>(facts->crc),
                      static_cast<unsigned long long>(facts->hash));
        text += line;
        if (!entry.note.empty()) text += "  " + entry.note;
      } else {
        text += entry.name + "  " + entry.note;
      }
      text += "\n";
    }
    return text;
  }

  bool complete() const { return complete_; }
  bool needsElevation() const { return needsElevation_; }

 private:
  ZipWriter& zip_;
  Output& out_;
  std::vector<Collected> collected_;
  bool complete_ = true;
  bool needsElevation_ = false;
};

// The reader beside this program writes the redacted report of `log` into
// `page`; 0, or its exit status (-1: it could not be started).
long RunRedactedReport(char const* log, std::string const& page) {
  std::string program = ModuleFileName(nullptr);
  program = program.substr(0, program.find_last_of("\\/") + 1) + "tolvan32-trace.exe";
  std::wstring command = Wide("\"" + program + "\" report --redact --html \"" + page + "\" \"" + log + "\"");
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  // Its own messages would only repeat what this program says.
  File const nul(CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             nullptr));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.get();
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(Wide(program).c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return -1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // 1: a few lines could not be read, which the report itself lists.
  return status <= 1 ? 0 : static_cast<long>(status);
}

void AddRedactedReport(Bundle& bundle, std::string& reportFile) {
  wchar_t folder[MAX_PATH + 1];
  DWORD const length = GetTempPathW(MAX_PATH + 1, folder);
  reportFile = (length ? Utf8(folder) : std::string(".\\")) + "Tolvan32-report-" +
               std::to_string(GetCurrentProcessId()) + ".html";
  char const* const log = kTraceLogPaths[0];
  std::string const name = "Tolvan32_a-report.html";
  {
    File const readable(OpenForReading(log));
    if (!readable.good()) return bundle.LeaveOut(name, log, GetLastError());
  }
  long const status = RunRedactedReport(log, reportFile);
  if (status) {
    bundle.Add(name,
               status < 0 ? "NOT INCLUDED: tolvan32-trace.exe, which writes the report, is not beside this program"
                          : "NOT INCLUDED: tolvan32-trace report --redact failed (exit status " +
                                std::to_string(status) + ")",
               false);
    return;
  }
  std::string note;
  unsigned long const error = bundle.AddFile(name, reportFile, note);
  bundle.Add(name, error ? "NOT INCLUDED: the report cannot be read: " + SystemErrorText(error)
                         : note.empty() ? std::string("tolvan32-trace report --redact of ") + log : note,
             !error);
}

}  // namespace

int CollectBundle(Output& out, CollectOptions const& options, CheckFolder const& checkFolder, int argc, char** argv) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::string const computer = ComputerName();
  std::string const path = FullPath(options.out.empty() ? BundleName(computer, now) : options.out);
  std::string const folder = FullPath(options.folder);
  File file(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (!file.good()) {
    unsigned long const error = GetLastError();
    Put(out, "FAILED: the bundle " + path + " cannot be created: " + SystemErrorText(error) +
                 (error == ERROR_FILE_EXISTS ? " (name another with --out)" : "") + "\n");
    return kSetupNotDone;
  }
  unsigned long writeError = 0;
  ZipWriter zip(
      [&](char const* data, size_t size) {
        DWORD written = 0;
        if (WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size) return true;
        writeError = GetLastError();
        return false;
      },
      static_cast<uint16_t>(now.wHour << 11 | now.wMinute << 5 | now.wSecond / 2),
      static_cast<uint16_t>((now.wYear - 1980) << 9 | now.wMonth << 5 | now.wDay));

  Put(out, "Collecting for support: the logs, and the host's folder " + folder + "\n");
  Bundle bundle(zip, out);
  std::string reportFile;
  if (options.redact) {
    AddRedactedReport(bundle, reportFile);
  } else {
    bundle.AddLog("Tolvan32_a.log", kTraceLogPaths[0]);
    bundle.AddLog("Tolvan32_b.log", kTraceLogPaths[1]);
  }
  int checkStatus = 0;
  std::string const check = Captured([&](Output& report) { return checkFolder(report, folder); }, &checkStatus);
  bundle.AddText("check.txt", "tolvan32-setup check " + folder + "\n" + check + "(exit status " +
                                  std::to_string(checkStatus) + ")\n",
                 "check's exit status " + std::to_string(checkStatus));
  bundle.AddText("trace-status.txt", Captured(&TraceStatus), "");
  SYSTEMTIME utc;
  GetSystemTime(&utc);
  std::string const version = Captured([](Output& line) {
    PutVersionLine(line, "tolvan32-setup");
    return 0;
  });
  std::string const header = "Computer: " + computer + "\nWindows:  " + WindowsVersion() +
                             "\nWritten:  " + Stamp(now, "%04u-%02u-%02u %02u:%02u:%02u") + " local time, " +
                             Stamp(utc, "%04u-%02u-%02u %02u:%02u:%02u") + " UTC\nBy:       " + version;
  bundle.AddText("computer.txt", header + "Folder:   " + folder + "\n", "");
  // Last: it lists the entries before it, with their hashes.
  bundle.AddText("manifest.txt", bundle.Manifest(header + "\n"), "");
  if (!reportFile.empty()) DeleteFileW(Wide(reportFile).c_str());

  if (!zip.Finish()) {
    file.Close();
    DeleteFileW(Wide(path).c_str());
    Put(out, "FAILED: the bundle " + path + " could not be written: " + zip.Error() +
                 (writeError ? ": " + SystemErrorText(writeError) : std::string()) + "; it is deleted\n");
    return kSetupNotDone;
  }
  Put(out, "Written: " + path + " (" + std::to_string(zip.BytesWritten()) + " bytes)\n");
  Put(out, options.redact ? "Its report masks addresses, field values, texts and paths: it may go where the logs may not.\n"
                          : "It holds the host's data (field values, paths, table names): send it only where that "
                            "data may go.\n");
  if (!bundle.complete()) {
    Put(out, "INCOMPLETE: an entry is missing or cut short (above, and in manifest.txt).\n");
    if (bundle.needsElevation()) PutElevatedCommand(out, argc, argv);
    return kSetupNotDone;
  }
  Put(out, "Next: attach it to the ticket, then delete the logs with: tolvan32-setup trace off --delete-logs\n");
  return kSetupDone;
}

}  // namespace tools
}  // namespace tolvan

// The tools on 32-bit Windows: console programs with a C++ runtime of their
// own, linked in statically, on the system msvcrt.dll's files.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <new>
#include <vector>

#include "tools/common/command_line.h"
#include "tools/common/tool_output.h"
#include "tools/common/tool_platform.h"
#include "tools/common/wide_text.h"

namespace tolvan {
namespace tools {

std::wstring Wide(std::string const& text) {
  if (text.empty()) return std::wstring();
  int const length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string Utf8(std::wstring const& text) {
  if (text.empty()) return std::string();
  int const length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length, nullptr, nullptr);
  return narrow;
}

int OpenInput(char const* path) {
  if (path[0] == '-' && path[1] == '\0') {
    _setmode(0, _O_BINARY);
    return 0;
  }
  return _wopen(Wide(path).c_str(), _O_RDONLY | _O_BINARY);
}

long ReadInput(int handle, char* buffer, size_t capacity) {
  int const count = _read(handle, buffer, static_cast<unsigned>(capacity));
  return count < 0 ? -1 : count;
}

void CloseInput(int handle) {
  if (handle > 0) _close(handle);
}

// Started through the C runtime, which the thread uses (files, memory).
struct ToolThread {
  HANDLE handle;
  void (*work)(void* context);
  void* context;
};

namespace {

unsigned __stdcall RunThread(void* argument) {
  ToolThread* const thread = static_cast<ToolThread*>(argument);
  thread->work(thread->context);
  return 0;
}

}  // namespace

ToolThread* StartThread(void (*work)(void* context), void* context) {
  ToolThread* const thread = new (std::nothrow) ToolThread{nullptr, work, context};
  if (!thread) return nullptr;
  uintptr_t const handle = _beginthreadex(nullptr, 0, RunThread, thread, 0, nullptr);
  if (!handle) {
    delete thread;
    return nullptr;
  }
  thread->handle = reinterpret_cast<HANDLE>(handle);
  return thread;
}

void JoinThread(ToolThread* thread) {
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

ToolSemaphore* NewSemaphore(long count) {
  return reinterpret_cast<ToolSemaphore*>(CreateSemaphoreW(nullptr, count, 0x7fffffff, nullptr));
}

void WaitSemaphore(ToolSemaphore* semaphore) { WaitForSingleObject(reinterpret_cast<HANDLE>(semaphore), INFINITE); }
void PostSemaphore(ToolSemaphore* semaphore) { ReleaseSemaphore(reinterpret_cast<HANDLE>(semaphore), 1, nullptr); }
void FreeSemaphore(ToolSemaphore* semaphore) {
  if (semaphore) CloseHandle(reinterpret_cast<HANDLE>(semaphore));
}

}  // namespace tools
}  // namespace tolvan

// The arguments are split here, by the one set of rules the tests check,
// rather than by the C runtime of whichever Windows runs the tool; they come
// as UTF-8 from the wide command line, so that no name is lost to the code page.
int main() {
  using namespace tolvan::tools;
  std::vector<std::string> arguments = SplitCommandLine(Utf8(GetCommandLineW()).c_str());
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  int const status = ToolMain(static_cast<int>(arguments.size()), pointers.data());
  Flush(StandardOutput());
  Flush(StandardError());
  return status;
}

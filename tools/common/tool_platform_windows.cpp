// The tools on 32-bit Windows: console programs bound to the system
// msvcrt.dll, without the C runtime's start-up code. The entry point splits
// the command line itself and ends the process with the tool's status.
#include "tools/common/command_line.h"
#include "tools/common/tool_output.h"
#include "tools/common/tool_platform.h"
#include "tools/common/windows_api.h"

namespace tolvan {
namespace tools {

void WriteStandard(StandardHandle handle, char const* data, size_t length) {
  while (length) {
    int const written = _write(static_cast<int>(handle), data, static_cast<unsigned>(length));
    if (written <= 0) return;
    data += written;
    length -= static_cast<size_t>(written);
  }
}

int OpenInput(char const* path) {
  if (path[0] == '-' && path[1] == '\0') {
    _setmode(0, kOpenBinary);
    return 0;
  }
  return _open(path, kOpenReadOnly | kOpenBinary);
}

long ReadInput(int handle, char* buffer, size_t capacity) {
  int const count = _read(handle, buffer, static_cast<unsigned>(capacity));
  return count < 0 ? -1 : count;
}

void CloseInput(int handle) {
  if (handle > 0) _close(handle);
}

}  // namespace tools
}  // namespace tolvan

namespace {

char g_argumentText[8192];
char* g_arguments[64];

}  // namespace

// The process entry (linked with /entry:ToolEntry).
extern "C" void __cdecl ToolEntry(void) {
  using namespace tolvan::tools;
  int const count = SplitCommandLine(GetCommandLineA(), g_argumentText, sizeof g_argumentText, g_arguments,
                                     static_cast<int>(sizeof g_arguments / sizeof g_arguments[0]) - 1);
  g_arguments[count] = nullptr;
  int const status = ToolMain(count, g_arguments);
  Flush(StandardOutput());
  Flush(StandardError());
  ExitProcess(static_cast<unsigned>(status));
}

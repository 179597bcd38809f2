// The tools on 32-bit Windows: console programs with a C++ runtime of their
// own, linked in statically, on the system msvcrt.dll's files.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <vector>

#include "tools/common/command_line.h"
#include "tools/common/tool_output.h"
#include "tools/common/tool_platform.h"

namespace tolvan {
namespace tools {

int OpenInput(char const* path) {
  if (path[0] == '-' && path[1] == '\0') {
    _setmode(0, _O_BINARY);
    return 0;
  }
  return _open(path, _O_RDONLY | _O_BINARY);
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

// The arguments are split here, by the one set of rules the tests check,
// rather than by the C runtime of whichever Windows runs the tool.
int main() {
  using namespace tolvan::tools;
  std::vector<std::string> arguments = SplitCommandLine(GetCommandLineA());
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  int const status = ToolMain(static_cast<int>(arguments.size()), pointers.data());
  Flush(StandardOutput());
  Flush(StandardError());
  return status;
}

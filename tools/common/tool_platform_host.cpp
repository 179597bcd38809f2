// The tools on the build machine: POSIX files.
#include <fcntl.h>
#include <unistd.h>

#include "tools/common/tool_platform.h"

namespace tolvan {
namespace tools {

int OpenInput(char const* path) {
  if (path[0] == '-' && path[1] == '\0') return 0;
  return open(path, O_RDONLY);
}

long ReadInput(int handle, char* buffer, size_t capacity) {
  ssize_t const count = read(handle, buffer, capacity);
  return count < 0 ? -1 : static_cast<long>(count);
}

void CloseInput(int handle) {
  if (handle > 0) close(handle);
}

}  // namespace tools
}  // namespace tolvan

// The entry of the tools on the build machine.
#include "tools/common/tool_output.h"
#include "tools/common/tool_platform.h"

int main(int argc, char** argv) {
  int const status = tolvan::tools::ToolMain(argc, argv);
  tolvan::tools::Flush(tolvan::tools::StandardOutput());
  tolvan::tools::Flush(tolvan::tools::StandardError());
  return status;
}

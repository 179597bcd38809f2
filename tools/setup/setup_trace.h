// tolvan32-setup trace on|off|status (setup_trace_windows.cpp).
#ifndef TOLVAN_TOOLS_SETUP_SETUP_TRACE_H
#define TOLVAN_TOOLS_SETUP_SETUP_TRACE_H

#include "tools/common/tool_output.h"

namespace tolvan {
namespace tools {

// The verb's lines of the usage text.
void PutTraceUsage(Output& out);

// Runs "tolvan32-setup trace ..." (argv[1] is "trace"); returns the exit
// status: 0 done, 1 not done or not complete, 2 usage error.
int RunTraceVerb(Output& out, int argc, char** argv);

}  // namespace tools
}  // namespace tolvan

#endif

// tolvan32-setup trace on|off|status (setup_trace_windows.cpp) and collect
// (trace_bundle_windows.cpp).
#ifndef TOLVAN_TOOLS_SETUP_SETUP_TRACE_H
#define TOLVAN_TOOLS_SETUP_SETUP_TRACE_H

#include <functional>
#include <string>
#include <string_view>

#include "tools/common/tool_output.h"

namespace tolvan {
namespace tools {

// The module's two logs: the plain one, then the masked one.
extern char const* const kTraceLogPaths[2];
// Appending to it asks every process running the recorder for a block.
extern char const kSnapshotRequestPath[];

// The verb's lines of the usage text.
void PutTraceUsage(Output& out);

// What check prints for a host's folder, and its exit status.
typedef std::function<int(Output& out, std::string const& folder)> CheckFolder;

// Runs "tolvan32-setup trace ..." (argv[1] is "trace"); returns the exit
// status: 0 done, 1 not done or not complete, 2 usage error.
int RunTraceVerb(Output& out, int argc, char** argv, CheckFolder const& checkFolder);

// What trace status prints, and its exit status.
int TraceStatus(Output& out);

// After uninstall: the logs still there, and the command that deletes them.
void PutRemainingLogs(Output& out);

struct CollectOptions {
  bool redact = false;
  std::string out;     // the bundle's file; empty: named after the computer and the time
  std::string folder;  // the host's folder
};
int CollectBundle(Output& out, CollectOptions const& options, CheckFolder const& checkFolder, int argc, char** argv);

// The command as given, to be run again from an elevated prompt.
void PutElevatedCommand(Output& out, int argc, char** argv);

// On standard error: `message`, the usage lines of what was being given,
// and where the rest is; returns the usage error's exit status.
int PutUsageError(std::string const& message, char const* usage);

// A verb's (or trace action's) words and its lines of the usage, which a
// mistake in its command line shows alone.
struct CommandSyntax {
  char const* name;
  char const* options[8];
  char const* usage;
};
// The index of `text` among the `count` commands, or `count`.
int FindCommand(std::string_view text, CommandSyntax const* commands, int count);
// An argument of `command` not understood (`earlier`: the operand given
// before it, or null), with its usage; `owner` names whose options they are
// ("install ", "trace on ").
int PutCommandUsageError(std::string const& owner, CommandSyntax const& command, std::string_view argument,
                         char const* earlier);

}  // namespace tools
}  // namespace tolvan

#endif

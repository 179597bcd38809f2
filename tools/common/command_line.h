// Splitting a Windows command line into arguments, by the rules the C
// runtime applies for main(): white space separates arguments, double quotes
// group, and backslashes are literal except before a double quote. The
// Windows tools split their command line themselves, so that every Windows
// version's C runtime gives them the same arguments.
#ifndef TOLVAN_TOOLS_COMMON_COMMAND_LINE_H
#define TOLVAN_TOOLS_COMMON_COMMAND_LINE_H

#include <string>
#include <vector>

namespace tolvan {
namespace tools {

std::vector<std::string> SplitCommandLine(char const* line);

}  // namespace tools
}  // namespace tolvan

#endif

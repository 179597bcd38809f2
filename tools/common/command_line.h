// Splitting a Windows command line into arguments, by the rules the C
// runtime applies for main(): white space separates arguments, double quotes
// group, and backslashes are literal except before a double quote.
#ifndef TOLVAN_TOOLS_COMMON_COMMAND_LINE_H
#define TOLVAN_TOOLS_COMMON_COMMAND_LINE_H

#include <stddef.h>

namespace tolvan {
namespace tools {

// Writes the arguments, each zero-terminated, into `storage` and their
// addresses into `arguments`. Returns the number of arguments; those that do
// not fit are dropped.
int SplitCommandLine(char const* line, char* storage, size_t storageSize, char** arguments, int maxArguments);

}  // namespace tools
}  // namespace tolvan

#endif

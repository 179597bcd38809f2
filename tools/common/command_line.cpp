#include "tools/common/command_line.h"

namespace tolvan {
namespace tools {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(char const* line) {
  std::vector<std::string> arguments;
  char const* p = line ? line : "";
  while (true) {
    while (IsBlank(*p)) ++p;
    if (!*p) break;
    std::string argument;
    bool quoted = false;
    while (*p && (quoted || !IsBlank(*p))) {
      if (*p == '\\') {
        size_t backslashes = 0;
        while (p[backslashes] == '\\') ++backslashes;
        p += backslashes;
        if (*p != '"') {
          argument.append(backslashes, '\\');
          continue;
        }
        // 2n backslashes and a quote: n backslashes, the quote toggles.
        // 2n+1: n backslashes and a literal quote.
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2) {
          argument += '"';
          ++p;
        }
        continue;
      }
      if (*p == '"') {
        // Inside quotes, a doubled quote stands for one literal quote.
        if (quoted && p[1] == '"') {
          argument += '"';
          p += 2;
          continue;
        }
        quoted = !quoted;
        ++p;
        continue;
      }
      argument += *p++;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace tools
}  // namespace tolvan

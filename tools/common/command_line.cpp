#include "tools/common/command_line.h"

namespace tolvan {
namespace tools {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

int SplitCommandLine(char const* line, char* storage, size_t storageSize, char** arguments, int maxArguments) {
  int count = 0;
  size_t used = 0;
  char const* p = line ? line : "";
  while (true) {
    while (IsBlank(*p)) ++p;
    if (!*p || count == maxArguments) break;
    // One byte is always kept for the terminating zero of this argument.
    if (used + 1 >= storageSize) break;
    char* argument = storage + used;
    bool quoted = false;
    while (*p && (quoted || !IsBlank(*p))) {
      char c = *p;
      if (c == '\\') {
        size_t backslashes = 0;
        while (p[backslashes] == '\\') ++backslashes;
        if (p[backslashes] == '"') {
          // 2n backslashes and a quote: n backslashes, the quote toggles.
          // 2n+1: n backslashes and a literal quote.
          for (size_t i = 0; i < backslashes / 2; ++i) {
            if (used + 1 < storageSize) storage[used++] = '\\';
          }
          p += backslashes;
          if (backslashes % 2) {
            if (used + 1 < storageSize) storage[used++] = '"';
            ++p;
          }
        } else {
          for (size_t i = 0; i < backslashes; ++i) {
            if (used + 1 < storageSize) storage[used++] = '\\';
          }
          p += backslashes;
        }
        continue;
      }
      if (c == '"') {
        // Inside quotes, a doubled quote stands for one literal quote.
        if (quoted && p[1] == '"') {
          if (used + 1 < storageSize) storage[used++] = '"';
          p += 2;
          continue;
        }
        quoted = !quoted;
        ++p;
        continue;
      }
      if (used + 1 < storageSize) storage[used++] = c;
      ++p;
    }
    storage[used++] = '\0';
    arguments[count++] = argument;
  }
  return count;
}

}  // namespace tools
}  // namespace tolvan

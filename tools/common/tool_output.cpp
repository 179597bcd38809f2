#include "tools/common/tool_output.h"

#include "tools/common/tool_crt.h"
#include "tools/common/tool_platform.h"

namespace tolvan {
namespace tools {

namespace {

void WriteToStandardOutput(void*, char const* data, size_t length) { WriteStandard(kStandardOutput, data, length); }
void WriteToStandardError(void*, char const* data, size_t length) { WriteStandard(kStandardError, data, length); }

// Constant-initialised: no constructor runs before the tool's entry.
Output g_standardOutput = {&WriteToStandardOutput, nullptr, 0, {}};
Output g_standardError = {&WriteToStandardError, nullptr, 0, {}};

}  // namespace

Output& StandardOutput() { return g_standardOutput; }
Output& StandardError() { return g_standardError; }

void Flush(Output& out) {
  if (out.used) out.sink(out.context, out.buffer, out.used);
  out.used = 0;
}

void PutBytes(Output& out, char const* data, size_t length) {
  while (length) {
    if (out.used == sizeof out.buffer) Flush(out);
    size_t room = sizeof out.buffer - out.used;
    size_t const part = length < room ? length : room;
    memcpy(out.buffer + out.used, data, part);
    out.used += part;
    data += part;
    length -= part;
  }
}

void Put(Output& out, char const* text) { PutBytes(out, text, strlen(text)); }

void PutChar(Output& out, char c) { PutBytes(out, &c, 1); }

void PutSpaces(Output& out, int count) {
  for (int i = 0; i < count; ++i) PutChar(out, ' ');
}

int FormatUnsigned(uint64_t value, char* text) {
  char digits[24];
  int count = 0;
  do {
    // value / 10 and value % 10 in 16-bit steps: every partial dividend stays
    // below 10 * 65536.
    uint32_t const high = static_cast<uint32_t>(value >> 32);
    uint32_t const low = static_cast<uint32_t>(value);
    uint32_t const highQuotient = high / 10;
    uint32_t remainder = high % 10;
    uint32_t part = (remainder << 16) | (low >> 16);
    uint32_t const upperQuotient = part / 10;
    remainder = part % 10;
    part = (remainder << 16) | (low & 0xffff);
    uint32_t const lowerQuotient = part / 10;
    remainder = part % 10;
    digits[count++] = static_cast<char>('0' + remainder);
    value = (static_cast<uint64_t>(highQuotient) << 32) | (upperQuotient << 16) | lowerQuotient;
  } while (value);
  int length = 0;
  while (count) text[length++] = digits[--count];
  text[length] = '\0';
  return length;
}

void PutNumber(Output& out, uint64_t value) {
  char text[24];
  PutBytes(out, text, static_cast<size_t>(FormatUnsigned(value, text)));
}

void PutNumberPadded(Output& out, uint64_t value, int width) {
  char text[24];
  int const length = FormatUnsigned(value, text);
  PutSpaces(out, width - length);
  PutBytes(out, text, static_cast<size_t>(length));
}

}  // namespace tools
}  // namespace tolvan

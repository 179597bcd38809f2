#include "trace_log.h"

#include "module_state.h"
#include "platform/crt.h"
#include "platform/platform.h"

namespace tolvan {

namespace {

enum { kPathSize = 260 };

char const kMaskedLetter = 'b';
char const kPlainLetter = 'a';
char const kPointerDots[] = "........";

// "<directory>Tolvan32_<letter>.log", cut to the path buffer if need be.
void FormatLogPath(char letter, char* path) {
  char const* parts[] = {PlatformLogDirectory(), "Tolvan32_", nullptr, ".log"};
  char const letterText[2] = {letter, '\0'};
  parts[2] = letterText;
  int length = 0;
  for (char const* part : parts) {
    for (; *part && length < kPathSize - 1; ++part) path[length++] = *part;
  }
  path[length] = '\0';
}

bool AppendItem(char letter, char const* bytes, int length) {
  char path[kPathSize];
  FormatLogPath(letter, path);
  PlatformFile* file = PlatformOpenAppend(path);
  if (!file) return false;
  PlatformAppend(file, " ", 1, bytes, static_cast<size_t>(length));
  PlatformClose(file);
  return true;
}

int CopyText(char const* text, char* buffer) {
  int length = 0;
  while ((buffer[length] = text[length]) != '\0') ++length;
  return length;
}

void WriteItem(char const* text, int length, ItemMasking masking) {
  if (!text) {
    text = "NULL";
    length = 4;
  } else if (length <= 0) {
    text = "EMPTY";
    length = 5;
  }
  bool const masked = masking == kMaskPointer;
  if (!AppendItem(kMaskedLetter, masked ? kPointerDots : text, masked ? 8 : length)) return;
  AppendItem(kPlainLetter, text, length);
}

}  // namespace

void WriteTraceItem(char const* text, int length, ItemMasking masking) {
  if (g_module.tracing) WriteItem(text, length, masking);
}

void TraceText(char const* text) {
  WriteTraceItem(text, text ? static_cast<int>(strlen(text)) : 0);
}

void TraceTextAlways(char const* text) { WriteItem(text, text ? static_cast<int>(strlen(text)) : 0, kShowItem); }

int FormatInt(int value, char* buffer) {
  char digits[kItemBufferSize];
  int count = 0;
  // Through unsigned arithmetic so that the most negative value has a magnitude.
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  int length = 0;
  if (value < 0) buffer[length++] = '-';
  while (count) buffer[length++] = digits[--count];
  buffer[length] = '\0';
  return length;
}

int FormatPointer(void const* address, char* buffer) {
  // Eight digits at least, as "%08x": exactly eight on the 32-bit product.
  unsigned long long value = reinterpret_cast<size_t>(address);
  int digits = 8;
  while (digits < static_cast<int>(2 * sizeof(void*)) && (value >> (4 * digits)) != 0) ++digits;
  for (int i = 0; i < digits; ++i) {
    buffer[i] = "0123456789abcdef"[(value >> (4 * (digits - 1 - i))) & 0xf];
  }
  buffer[digits] = '\0';
  return digits;
}

int FormatReal(double value, char* buffer) {
  if (value != value) return CopyText("nan", buffer);
  if (value > 1.7976931348623157e308) return CopyText("inf", buffer);
  if (value < -1.7976931348623157e308) return CopyText("-inf", buffer);

  // The C runtime rounds to six significant digits; the layout of "%g" is
  // then built here so that every build writes the Windows form.
  char exponentForm[32] = {};
  PlatformFormatExponent(value, exponentForm, sizeof exponentForm);
  char const* p = exponentForm;
  bool const negative = *p == '-';
  if (negative) ++p;
  char digits[6];
  int digitCount = 0;
  for (; *p && *p != 'e' && *p != 'E'; ++p) {
    if (*p >= '0' && *p <= '9' && digitCount < 6) digits[digitCount++] = *p;
  }
  while (digitCount < 6) digits[digitCount++] = '0';
  int exponent = 0;
  bool negativeExponent = false;
  if (*p) {
    ++p;
    if (*p == '+' || *p == '-') negativeExponent = (*p++ == '-');
    for (; *p >= '0' && *p <= '9'; ++p) exponent = exponent * 10 + (*p - '0');
  }
  if (negativeExponent) exponent = -exponent;

  int significant = 6;  // trailing zeros of the fraction are dropped
  while (significant > 1 && digits[significant - 1] == '0') --significant;

  int length = 0;
  if (negative) buffer[length++] = '-';
  if (exponent < -4 || exponent >= 6) {
    buffer[length++] = digits[0];
    if (significant > 1) {
      buffer[length++] = '.';
      for (int i = 1; i < significant; ++i) buffer[length++] = digits[i];
    }
    buffer[length++] = 'e';
    buffer[length++] = exponent < 0 ? '-' : '+';
    int magnitude = exponent < 0 ? -exponent : exponent;
    buffer[length++] = static_cast<char>('0' + magnitude / 100 % 10);
    buffer[length++] = static_cast<char>('0' + magnitude / 10 % 10);
    buffer[length++] = static_cast<char>('0' + magnitude % 10);
  } else if (exponent >= 0) {
    for (int i = 0; i <= exponent; ++i) buffer[length++] = digits[i];
    if (significant > exponent + 1) {
      buffer[length++] = '.';
      for (int i = exponent + 1; i < significant; ++i) buffer[length++] = digits[i];
    }
  } else {
    buffer[length++] = '0';
    buffer[length++] = '.';
    for (int i = -1; i > exponent; --i) buffer[length++] = '0';
    for (int i = 0; i < significant; ++i) buffer[length++] = digits[i];
  }
  buffer[length] = '\0';
  return length;
}

void TraceInt(int value) {
  char text[kItemBufferSize] = {};
  FormatInt(value, text);
  TraceText(text);
}

void TracePointer(void const* address) {
  char text[kItemBufferSize + 8] = {};
  int length = FormatPointer(address, text);
  WriteTraceItem(text, length, kMaskPointer);
}

void TraceReal(double value) {
  char text[kItemBufferSize] = {};
  FormatReal(value, text);
  TraceText(text);
}

void TraceChar(char c) {
  char const text[2] = {c, '\0'};
  TraceText(text);
}

void TraceLineEnd() { TraceText("\n"); }

}  // namespace tolvan

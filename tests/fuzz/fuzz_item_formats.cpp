// The texts of integer, pointer and real items against the C library's
// "%d", "%08x" and "%g" (with the exponent widened to the three digits the
// Windows C runtime writes). Each must also fit the 16-byte item buffer.
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "core/trace_log.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// "%g" as this C library writes it, exponent widened to three digits.
std::string ReferenceReal(double value) {
  if (isnan(value)) return "nan";
  char text[64];
  snprintf(text, sizeof text, "%g", value);
  std::string result = text;
  size_t const e = result.find('e');
  if (e != std::string::npos) {
    size_t const digits = e + 2;  // after the sign
    while (result.size() - digits < 3) result.insert(digits, "0");
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  tolvan::fuzz::Input input(data, size);
  int const integer = input.Value<int32_t>();
  uint64_t const address = input.Value<uint64_t>();
  double const real = input.Value<double>();
  // A second real from a decimal text reaches the rounding boundaries that
  // random bit patterns rarely hit (999999.5, 0.000099999995, ...).
  std::string const decimal = input.Rest();
  double const parsed = strtod(decimal.c_str(), nullptr);

  char buffer[64];
  char expected[64];

  int length = tolvan::FormatInt(integer, buffer);
  snprintf(expected, sizeof expected, "%d", integer);
  TOLVAN_FUZZ_EXPECT(strcmp(buffer, expected) == 0 && length == static_cast<int>(strlen(expected)),
                     "%d: \"%s\"", integer, buffer);
  TOLVAN_FUZZ_EXPECT(length < tolvan::kItemBufferSize, "%d: %d characters", integer, length);

  void const* const pointer = reinterpret_cast<void const*>(static_cast<uintptr_t>(address));
  length = tolvan::FormatPointer(pointer, buffer);
  snprintf(expected, sizeof expected, "%08llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
  TOLVAN_FUZZ_EXPECT(strcmp(buffer, expected) == 0 && length == static_cast<int>(strlen(expected)), "%s: \"%s\"",
                     expected, buffer);

  for (double value : {real, parsed}) {
    length = tolvan::FormatReal(value, buffer);
    std::string const reference = ReferenceReal(value);
    TOLVAN_FUZZ_EXPECT(reference == buffer && length == static_cast<int>(reference.size()),
                       "%.17g: \"%s\", expected \"%s\"", value, buffer, reference.c_str());
    TOLVAN_FUZZ_EXPECT(length < tolvan::kItemBufferSize, "%.17g: %d characters", value, length);
  }
  return 0;
}

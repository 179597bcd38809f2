// Option values: the module's number of a text against a reading made here
// with the C library's own conversion, and the 15-character limit of the
// environment fetch.
#include <errno.h>
#include <stdlib.h>

#include "core/module_state.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// atol's reading, with the module's rule for numbers beyond 32 bits: such a
// number is no option value at all, so it reads as 0.
long ReferenceNumber(char const* text) {
  errno = 0;
  long long const value = strtoll(text, nullptr, 10);
  if (errno == ERANGE || value > 2147483647LL || value < -2147483648LL) return 0;
  return static_cast<long>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string const text(reinterpret_cast<char const*>(data), size);
  char const* const value = text.c_str();  // up to the first zero byte
  long const number = tolvan::OptionNumber(value);
  TOLVAN_FUZZ_EXPECT(number == ReferenceNumber(value), "\"%s\": %ld, expected %ld", value, number,
                     ReferenceNumber(value));

  // Through the environment: a value of 15 characters or more does not fit
  // the fetch and counts as absent.
  if (setenv("Tolvan32_FuzzOption", value, 1) == 0) {
    long const read = tolvan::ReadOption("Tolvan32_FuzzOption");
    long const expected = strlen(value) < 15 ? number : 0;
    TOLVAN_FUZZ_EXPECT(read == expected, "\"%s\": read %ld, expected %ld", value, read, expected);
  }
  return 0;
}

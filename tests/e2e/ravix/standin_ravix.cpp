// A stand-in for the value-types library Ravix32.dll: the two entries the
// module imports, each counting its calls for the test host.
#include "facades/value_types.h"
#include "tests/e2e/common/engine_control.h"

namespace {
e2e::ValueTypeCounters g_counters;
}

// A CNumeric of this stand-in holds its value as a double.
long double CNumeric::GetDouble() const {
  ++g_counters.getDouble;
  double value;
  memcpy(&value, this, sizeof value);
  return value;
}

// Day numbers are written "D" and the number, e.g. "D730000".
extern "C" void JDateToString(char* buffer, long dayNumber) {
  ++g_counters.dateToString;
  _snprintf(buffer, 15, "D%ld", dayNumber);
  buffer[15] = '\0';
}

extern "C" e2e::ValueTypeCounters* E2E_ValueTypeCounters() { return &g_counters; }

extern "C" int __stdcall DllMain(void*, unsigned long, void*) { return 1; }

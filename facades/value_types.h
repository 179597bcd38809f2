// The two entries of the value-types library that the trace of field exchange
// uses. The library is a load-time import of the product.
#ifndef TOLVAN_FACADES_VALUE_TYPES_H
#define TOLVAN_FACADES_VALUE_TYPES_H

class CNumeric {
 public:
  long double GetDouble() const;
};

// Writes the text of a day number, zero-terminated, into the buffer. A plain
// C export; the C calling convention is the library's default for it.
extern "C" void JDateToString(char* buffer, long dayNumber);

#endif

// The trace log: two append-only text files receiving the same items, the
// masked log (letter "b", pointers as dots) and the plain log (letter "a").
#ifndef TOLVAN_CORE_TRACE_LOG_H
#define TOLVAN_CORE_TRACE_LOG_H

namespace tolvan {

// How an item is written to the masked log. The choice travels with the item
// rather than through shared state, so threads tracing at once cannot leak a
// pointer into the masked log or mask another thread's number.
enum ItemMasking { kShowItem, kMaskPointer };

// Writes one item (a space and the bytes) to the masked log, then to the plain
// log. Nothing happens while tracing is off. A null text is written as "NULL",
// a length of 0 or less as "EMPTY". A masked log that cannot be opened stops
// the whole item.
void WriteTraceItem(char const* text, int length, ItemMasking masking = kShowItem);

void TraceText(char const* text);
// A text item written whether tracing is on or not: the echo of an error.
void TraceTextAlways(char const* text);
void TraceInt(int value);
void TracePointer(void const* address);
void TraceReal(double value);
void TraceChar(char c);
void TraceLineEnd();

// The item texts, zero-terminated into a 16-byte buffer; each returns the length.
int FormatInt(int value, char* buffer);
int FormatPointer(void const* address, char* buffer);
// "%g" as the Windows C runtime writes it: six significant digits, a three
// digit exponent ("1e+006"). Infinities and not-a-number values are written
// "inf", "-inf" and "nan".
int FormatReal(double value, char* buffer);

enum { kItemBufferSize = 16 };

}  // namespace tolvan

#endif

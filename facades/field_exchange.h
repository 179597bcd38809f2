// Renderings of exchanged values that need more than one trace item's rules.
#ifndef TOLVAN_FACADES_FIELD_EXCHANGE_H
#define TOLVAN_FACADES_FIELD_EXCHANGE_H

namespace tolvan {

enum { kDateTextMax = 15, kDateRenderRoom = 256 };

// The text of a day number into `text` (room for kDateTextMax + 1 bytes):
// empty for 0, "00010101" for 1, otherwise the value-types library's text,
// cut to kDateTextMax characters. Returns the length.
int DateText(int dayNumber, char* text);

// A buffer and its length: the text up to its first zero byte or the length,
// whichever comes first ("NULL" for a null buffer), then the length.
void TraceBuffer(char const* buffer, long length);

}  // namespace tolvan

#endif

// The module's own failures: collected piece by piece in the message buffer,
// echoed to the trace log, shown in a message box once a piece brings a line
// feed.
#ifndef TOLVAN_CORE_ERROR_REPORTER_H
#define TOLVAN_CORE_ERROR_REPORTER_H

namespace tolvan {

extern char const kMessageCaption[];  // "Tolvan32 Share"

extern char const kError001Begin[];   // "*** Error *** #001 (Library \""
extern char const kError001End[];     // "\" not found)\n"
extern char const kError002[];
extern char const kError003[];
extern char const kError065[];

// Hands a message to the reporter in `count` pieces, in order. Each piece
// reaches the trace log first. The report holds the shared buffers for its
// whole message; one that finds them held by another report collects its
// message on its own stack instead, so every box holds one whole message.
// When the heap cannot take a piece (no memory, no scratch buffer), the
// message goes on in a fixed buffer, so that a message of bounded length is
// still shown whole; the report of an exhausted heap (#003) can neither
// recurse nor vanish. Boxes are shown after the buffers are given back, so
// reports made while a box is open keep their whole text. A message left
// without its line feed stays collected for the next report, except where
// it was collected on the stack.
void ReportMessage(char const* const* pieces, int count);

// A report of one piece.
void ReportError(char const* piece);

// Makes *buffer at least `size` bytes long, keeping its text and zeroing the
// rest; on failure *buffer is null and error #003 has been echoed to the
// trace log (the report shows its box once it has let the buffers go).
void GrowMessageBuffer(char** buffer, unsigned size);

// Frees the block (null allowed) and sets the pointer to null.
void ReleaseBuffer(char** buffer);

// A modal box with the caption "Tolvan32 Share"; returns when it is closed.
void ShowMessage(char const* text);

}  // namespace tolvan

#endif

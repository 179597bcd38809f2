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

// Hands one piece of message text to the reporter. The piece always reaches
// the trace log first. When the heap cannot take it (no memory, no scratch
// buffer), the message goes on in a fixed buffer, so that a message of
// bounded length is still shown whole; the report of an exhausted heap can
// neither recurse nor vanish. One report at a time collects; one that finds
// another collecting shows its closing piece by itself, so reports from two
// threads cannot tear the shared buffers. A finished message is shown after
// the buffers are given back, so reports made while its box is open keep
// their whole text.
void ReportError(char const* piece);

// Makes *buffer at least `size` bytes long, keeping its text and zeroing the
// rest; on failure *buffer is null and error #003 has been reported.
void GrowMessageBuffer(char** buffer, unsigned size);

// Frees the block (null allowed) and sets the pointer to null.
void ReleaseBuffer(char** buffer);

// A modal box with the caption "Tolvan32 Share"; returns when it is closed.
void ShowMessage(char const* text);

}  // namespace tolvan

#endif

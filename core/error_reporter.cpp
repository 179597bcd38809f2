#include "error_reporter.h"

#include "module_state.h"
#include "platform/atomic.h"
#include "platform/crt.h"
#include "platform/platform.h"
#include "trace_log.h"

namespace tolvan {

char const kMessageCaption[] = "Tolvan32 Share";
char const kError001Begin[] = "*** Error *** #001 (Library \"";
char const kError001End[] = "\" not found)\n";
char const kError002[] = "*** Error *** #002 (Entry in library not found)\n";
char const kError003[] = "*** Error *** #003 (Memory alloc was failed)\n";
char const kError065[] = "*** Error *** #065 (Insufficient memory available)\n";

namespace {

bool HasLineFeed(char const* text) {
  for (; *text; ++text) {
    if (*text == '\n') return true;
  }
  return false;
}

// A growth that fails has no memory to report with: #003 is echoed here and
// its box is left to the report, which shows it once it has given the
// shared buffers back (CollectPiece notices the failure).
void FailGrowth(char** buffer) {
  ReleaseBuffer(buffer);
  TraceTextAlways(kError003);
}

// What a report has to show once it has given the shared buffers back: a box
// shown while they are held would keep every report made meanwhile (from
// another thread, or from the box's own message loop) from collecting.
struct FinishedMessage {
  bool outOfMemory;                                // #003 first
  char* heapText;                                  // the message buffer's block
  char stackText[sizeof g_module.fallbackMessage];  // or a copy of a fixed buffer
  char const* piece;                               // or the closing piece alone
  bool Done() const { return heapText || stackText[0] || piece; }
};

bool AppendPiece(char* text, size_t room, char const* piece, size_t length) {
  size_t const used = strlen(text);
  if (used + length + 2 > room) return false;
  memcpy(text + used, piece, length);
  text[used + length] = ' ';
  text[used + length + 1] = '\0';
  return true;
}

// Collects into a fixed buffer of the fallback's size: the fallback itself
// while the heap cannot take a piece, or a report's own buffer on its stack
// while another report holds the shared ones. A piece that does not fit
// after the text collected so far starts the buffer afresh; one that fits in
// no buffer is shown by itself when it closes the message.
void CollectInFixed(char* text, char const* piece, size_t length, FinishedMessage& finished) {
  size_t const room = sizeof g_module.fallbackMessage;
  if (!AppendPiece(text, room, piece, length)) {
    text[0] = '\0';
    if (!AppendPiece(text, room, piece, length)) {
      if (HasLineFeed(piece)) finished.piece = piece;
      return;
    }
  }
  if (!HasLineFeed(piece)) return;
  memcpy(finished.stackText, text, sizeof finished.stackText);
  text[0] = '\0';
}

// Collects the piece in the shared buffers; a piece that brings a line feed
// finishes the message. The caller holds the buffers. Text the heap had
// collected before a failed growth is dropped, as the failed growth drops it,
// and the message goes on in the fixed fallback buffer.
void CollectPiece(char const* piece, size_t length, FinishedMessage& finished) {
  // A message begun in the fallback buffer is finished there, in order.
  if (g_module.fallbackMessage[0]) {
    CollectInFixed(g_module.fallbackMessage, piece, length, finished);
    return;
  }
  size_t const collected = g_module.messageBuffer ? strlen(g_module.messageBuffer) : 0;
  size_t const needed = collected + length + 2;
  // Without a scratch buffer the growth is not tried; with one, a growth that
  // leaves no block has failed and echoed #003.
  bool const growthTried = g_module.scratchBuffer != nullptr;
  GrowMessageBuffer(&g_module.messageBuffer, static_cast<unsigned>(needed));
  if (!g_module.messageBuffer || PlatformUsableSize(g_module.messageBuffer) < needed) {
    if (growthTried && !g_module.messageBuffer) finished.outOfMemory = true;
    ReleaseBuffer(&g_module.messageBuffer);
    CollectInFixed(g_module.fallbackMessage, piece, length, finished);
    return;
  }
  AppendPiece(g_module.messageBuffer, needed, piece, length);
  if (HasLineFeed(piece)) {
    finished.heapText = g_module.messageBuffer;
    g_module.messageBuffer = nullptr;
  }
}

// Shows a piece that no buffer took, followed by the space a buffer would
// have given it.
void ShowPieceAlone(char const* piece) {
  char text[sizeof g_module.fallbackMessage];
  text[0] = '\0';
  if (AppendPiece(text, sizeof text, piece, strlen(piece))) {
    ShowMessage(text);
  } else {
    ShowMessage(piece);
  }
}

void ShowFinished(FinishedMessage& finished) {
  if (finished.outOfMemory) ShowPieceAlone(kError003);
  if (finished.heapText) {
    ShowMessage(finished.heapText);
    ReleaseBuffer(&finished.heapText);
  } else if (finished.stackText[0]) {
    ShowMessage(finished.stackText);
  } else if (finished.piece) {
    ShowPieceAlone(finished.piece);
  }
}

}  // namespace

void ReleaseBuffer(char** buffer) {
  PlatformFree(*buffer);
  *buffer = nullptr;
}

void ShowMessage(char const* text) { PlatformShowMessageBox(text ? text : "", kMessageCaption); }

void GrowMessageBuffer(char** buffer, unsigned size) {
  if (size == 0 || !g_module.scratchBuffer) return;
  size_t saved = 0;
  if (*buffer) {
    size_t const old = PlatformUsableSize(*buffer);
    while (PlatformUsableSize(g_module.scratchBuffer) < old) {
      size_t const larger = PlatformUsableSize(g_module.scratchBuffer) + kScratchStep;
      ReleaseBuffer(&g_module.scratchBuffer);
      g_module.scratchBuffer = static_cast<char*>(PlatformResize(nullptr, larger));
      if (!g_module.scratchBuffer) {
        FailGrowth(buffer);
        return;
      }
    }
    saved = old < size ? old : size;
    memcpy(g_module.scratchBuffer, *buffer, saved);
  }
  char* resized = static_cast<char*>(PlatformResize(*buffer, size));
  if (!resized) {
    FailGrowth(buffer);
    return;
  }
  *buffer = resized;
  memset(resized, 0, PlatformUsableSize(resized));
  if (saved) memcpy(resized, g_module.scratchBuffer, saved);
}

void ReportMessage(char const* const* pieces, int count) {
  int next = 0;
  while (next < count) {
    FinishedMessage finished;
    finished.outOfMemory = false;
    finished.heapText = nullptr;
    finished.stackText[0] = '\0';
    finished.piece = nullptr;
    // One report at a time works on the shared buffers, and holds them for
    // its whole message. A report that finds them held (by another thread)
    // collects its message on its own stack instead, so that no box mixes
    // pieces of two reports.
    char aside[sizeof g_module.fallbackMessage];
    aside[0] = '\0';
    bool const holding = PlatformExchange(&g_module.reporterBusy, 1) == 0;
    while (next < count && !finished.Done()) {
      char const* const piece = pieces[next++];
      size_t const length = piece ? strlen(piece) : 0;
      if (length == 0) continue;  // nothing is traced or collected
      // The echo does not switch the tracing flag on and off: another thread
      // tracing meanwhile must neither lose its setting nor inherit this one.
      TraceTextAlways(piece);
      if (holding) {
        CollectPiece(piece, length, finished);
      } else {
        CollectInFixed(aside, piece, length, finished);
      }
    }
    if (holding) PlatformExchange(&g_module.reporterBusy, 0);
    ShowFinished(finished);
  }
}

void ReportError(char const* piece) { ReportMessage(&piece, 1); }

}  // namespace tolvan

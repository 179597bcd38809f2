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

// The report of #003 happens while the failed report still holds the message
// buffer, so it is echoed and shown directly: it needs no memory and cannot
// fail again.
void FailGrowth(char** buffer) {
  ReleaseBuffer(buffer);
  ReportError(kError003);
}

// A message the reporter has finished collecting, taken out of the shared
// buffers so that it can be shown after they are given back: a report made
// while the box is open (from another thread, or from the box's own message
// loop) then collects and shows its own complete text.
struct FinishedMessage {
  char* heapText;                                  // the message buffer's block
  char stackText[sizeof g_module.fallbackMessage];  // or a copy of the fallback
  char const* piece;                               // or the closing piece alone
};

bool AppendPiece(char* text, size_t room, char const* piece, size_t length) {
  size_t const used = strlen(text);
  if (used + length + 2 > room) return false;
  memcpy(text + used, piece, length);
  text[used + length] = ' ';
  text[used + length + 1] = '\0';
  return true;
}

// While the heap cannot take a piece (no scratch buffer, or this piece's
// growth failed), the message goes on in the fixed fallback buffer, so a
// message of bounded length is still shown whole. Text the heap had
// collected before its failure is dropped, as a failed growth drops it.
void CollectInFallback(char const* piece, size_t length, FinishedMessage& finished) {
  char* const fallback = g_module.fallbackMessage;
  if (!AppendPiece(fallback, sizeof g_module.fallbackMessage, piece, length)) {
    fallback[0] = '\0';
    if (!AppendPiece(fallback, sizeof g_module.fallbackMessage, piece, length)) {
      if (HasLineFeed(piece)) finished.piece = piece;  // too long for any copy
      return;
    }
  }
  if (!HasLineFeed(piece)) return;
  memcpy(finished.stackText, fallback, sizeof finished.stackText);
  fallback[0] = '\0';
}

// Collects the piece; a piece that brings a line feed finishes the message.
// The caller holds the message buffer.
void CollectPiece(char const* piece, size_t length, FinishedMessage& finished) {
  // A message begun in the fallback buffer is finished there, in order.
  if (g_module.fallbackMessage[0]) {
    CollectInFallback(piece, length, finished);
    return;
  }
  size_t const collected = g_module.messageBuffer ? strlen(g_module.messageBuffer) : 0;
  size_t const needed = collected + length + 2;
  GrowMessageBuffer(&g_module.messageBuffer, static_cast<unsigned>(needed));
  if (!g_module.messageBuffer || PlatformUsableSize(g_module.messageBuffer) < needed) {
    ReleaseBuffer(&g_module.messageBuffer);
    CollectInFallback(piece, length, finished);
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
void ShowPieceAlone(char const* piece, size_t length) {
  char text[sizeof g_module.fallbackMessage];
  text[0] = '\0';
  if (AppendPiece(text, sizeof text, piece, length)) {
    ShowMessage(text);
  } else {
    ShowMessage(piece);
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

void ReportError(char const* piece) {
  size_t const length = piece ? strlen(piece) : 0;
  if (length == 0) return;

  // The echo does not switch the tracing flag on and off: another thread
  // tracing meanwhile must neither lose its setting nor inherit this one.
  TraceTextAlways(piece);

  // One report at a time works on the shared buffers. A report that finds
  // another at work there (on another thread, or the report of #003 from
  // within a failed growth) shows a closing piece on its own instead.
  if (PlatformExchange(&g_module.reporterBusy, 1) != 0) {
    if (HasLineFeed(piece)) ShowPieceAlone(piece, length);
    return;
  }
  FinishedMessage finished;
  finished.heapText = nullptr;
  finished.stackText[0] = '\0';
  finished.piece = nullptr;
  CollectPiece(piece, length, finished);
  PlatformExchange(&g_module.reporterBusy, 0);

  // Shown with the buffers given back: the box is modal and may stay open
  // for long, and reports made meanwhile must find them free.
  if (finished.heapText) {
    ShowMessage(finished.heapText);
    ReleaseBuffer(&finished.heapText);
  } else if (finished.stackText[0]) {
    ShowMessage(finished.stackText);
  } else if (finished.piece) {
    ShowPieceAlone(finished.piece, length);
  }
}

}  // namespace tolvan

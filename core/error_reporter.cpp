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

// Shows a piece the message buffer could not take, followed by the space the
// buffer would have given it; the text is built on the stack, so this needs
// no heap at all.
void ShowPieceDirectly(char const* piece, size_t length) {
  char text[512];
  if (length + 2 > sizeof text) {
    ShowMessage(piece);
    return;
  }
  memcpy(text, piece, length);
  text[length] = ' ';
  text[length + 1] = '\0';
  ShowMessage(text);
}

// The report of #003 happens while the failed report still holds the message
// buffer, so it is echoed and shown directly: it needs no memory and cannot
// fail again.
void FailGrowth(char** buffer) {
  ReleaseBuffer(buffer);
  ReportError(kError003);
}

// Collects the piece, and shows and releases the message once the piece
// brings a line feed. The caller holds the message buffer.
void CollectPiece(char const* piece, size_t length) {
  size_t const collected = g_module.messageBuffer ? strlen(g_module.messageBuffer) : 0;
  size_t const needed = collected + length + 2;
  GrowMessageBuffer(&g_module.messageBuffer, static_cast<unsigned>(needed));
  if (!g_module.messageBuffer || PlatformUsableSize(g_module.messageBuffer) < needed) {
    ReleaseBuffer(&g_module.messageBuffer);
    if (HasLineFeed(piece)) ShowPieceDirectly(piece, length);
    return;
  }

  char* end = g_module.messageBuffer + strlen(g_module.messageBuffer);
  memcpy(end, piece, length);
  end[length] = ' ';
  end[length + 1] = '\0';

  if (HasLineFeed(piece)) {
    ShowMessage(g_module.messageBuffer);
    ReleaseBuffer(&g_module.messageBuffer);
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

  // One report at a time works on the message buffer. A report that finds
  // another under way (on another thread, or the report of #003 from within
  // a failed growth) shows a closing piece on its own instead.
  if (PlatformExchange(&g_module.reporterBusy, 1) != 0) {
    if (HasLineFeed(piece)) ShowPieceDirectly(piece, length);
    return;
  }
  CollectPiece(piece, length);
  PlatformExchange(&g_module.reporterBusy, 0);
}

}  // namespace tolvan

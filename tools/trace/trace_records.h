// Assembles the lines of a trace log into records: each call line with its
// result line, and the calls that the module's share-mode policy made on the
// host's behalf as children of the call that made them:
//   OpenAccess         -> CloseAccess(1)                     (share forcing)
//   Pack/ReIndex/Clear -> CloseAccess, OpenAccess, ...       (exclusive use)
//   BeginReadSequence  -> PutTLock                           (table lock)
//   GetRecAddr         -> copy constructor, destructor       (after its result)
// Error lines stand before the call whose entry was missing; lines that
// cannot be read are kept as records of their own, with their line numbers.
//
// Lines are fed one at a time and each finished top-level record is handed
// on at once, so memory stays the same whatever the length of the log: the
// nesting depth, the children of one record and the text kept for it are
// bounded.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_RECORDS_H
#define TOLVAN_TOOLS_TRACE_TRACE_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#include "tools/trace/trace_line.h"

namespace tolvan {
namespace tools {

enum NodeKind : uint8_t {
  kCallNode,   // a call line, with its result line when there is one
  kErrorNode,  // a numbered error line of the module
  kBadNode,    // a line that could not be read
};

enum CallStatus : uint8_t {
  kAwaitingResult,  // only while the record is being assembled
  kCompleted,       // call line and result line
  kSingleLine,      // an operation whose record is the call line alone
  kWithoutResult,   // the result line never came (the process ended, the log was cut)
  kNotPerformed,    // the engine entry was missing: the module wrote no result
};

enum GetRecAddrPhase : uint8_t {
  kPhaseResult,   // waiting for the node's own result line
  kPhaseCopy,     // GetRecAddr: waiting for the copy constructor
  kPhaseCopying,  // GetRecAddr: the copy constructor is under way
  kPhaseDestroy,  // GetRecAddr: waiting for the destructor of the working copy
  kPhaseDone,
};

enum {
  kMaxNodes = 64,
  kMaxDepth = 8,
  kArenaSize = 1 << 18,
  kMaxPending = 4,
};
size_t const kMaxKeptText = 240;  // of a bad or error line

struct TextRef {
  uint32_t offset;
  uint32_t length;
};

struct Node {
  NodeKind kind;
  CallStatus status;
  GetRecAddrPhase phase;
  bool entryMissing;  // an error #002 line stood just before the call
  int16_t op;
  int16_t parent;
  int16_t firstChild;
  int16_t nextSibling;
  uint64_t line;
  uint64_t resultLine;
  TextRef object;
  TextRef arguments;
  TextRef result;  // the result line's items
  TextRef text;    // error and bad lines
  int errorNumber;
  char const* problem;
};

// One top-level record: nodes[0] and its descendants.
struct Record {
  Node nodes[kMaxNodes];
  int nodeCount;
  bool textCut;  // some text did not fit and was shortened
  uint32_t arenaUsed;
  char arena[kArenaSize];
};

Span TextOf(Record const& record, TextRef ref);

typedef void (*RecordHandler)(void* context, Record const& record);

enum LineEnding {
  kWholeLine,    // ended by a line feed
  kCutLine,      // the end of the file came before the line feed
  kOverlongLine, // longer than the reader keeps: the start of it only
};

struct PendingError {
  uint64_t line;
  int number;
  size_t length;
  char text[kMaxKeptText];
};

struct Assembler {
  OperationForms const* forms;
  RecordHandler handler;
  void* context;
  int16_t stack[kMaxDepth];
  int depth;
  int pendingCount;
  PendingError pending[kMaxPending];
  Record record;
};

void StartAssembly(Assembler& assembler, OperationForms const& forms, RecordHandler handler, void* context);
// `text` without its line end (CR LF or LF).
void AddLine(Assembler& assembler, uint64_t number, char const* text, size_t length, LineEnding ending);
// Hands on whatever is still open, as calls without a result.
void FinishAssembly(Assembler& assembler);

}  // namespace tools
}  // namespace tolvan

#endif

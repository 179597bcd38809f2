// What the share-mode policy did in a record, read from its shape: which
// nested calls the module made and what they returned.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_OUTCOME_H
#define TOLVAN_TOOLS_TRACE_TRACE_OUTCOME_H

#include "tools/trace/trace_records.h"

namespace tolvan {
namespace tools {

enum PolicyOutcome {
  kNoOutcome,
  kReopenedShared,   // OpenAccess: nested CloseAccess(1), then the engine's shared reopen
  kCloseFailed,      // OpenAccess: the nested close returned 0, so no reopen and result 0
  kReopenFailed,     // OpenAccess: closed, then the engine's shared reopen returned 0
  kLeftAsAsked,      // host OpenAccess not shared, accepted and not forced: an exemption held
  kRefusedByEngine,  // host OpenAccess not shared that the engine refused: nothing to force
  kEscalated,        // Pack/ReIndex/Clear: closed, reopened exclusive, then restored
  kExclusiveRefused, // Pack/ReIndex/Clear: the engine refused the exclusive open; the operation ran regardless
  kAlreadyExclusive, // Pack/ReIndex/Clear on a table held exclusively: no nested calls
  kSequenceLocked,   // BeginReadSequence: nested PutTLock before the engine's sequence
  kSequenceSkippedOrUnlocked,  // no PutTLock and result 1: skipped, or passed on under NoSEQ
  kSequenceUnlocked, // no PutTLock and a result other than 1: it reached the engine (NoSEQ)
};

PolicyOutcome OutcomeOf(OperationForms const& forms, Record const& record, int node);

// A short note for the record tree, and a key for JSON.
char const* OutcomeNote(PolicyOutcome outcome);
char const* OutcomeKey(PolicyOutcome outcome);

// The result item of a completed call (empty when there is none).
std::string_view ResultItemOf(OperationForms const& forms, Record const& record, Node const& node);
// The first argument item of a call (empty when there is none).
std::string_view FirstArgumentOf(OperationForms const& forms, Record const& record, Node const& node);

}  // namespace tools
}  // namespace tolvan

#endif

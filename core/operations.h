// The table of exported operations: one descriptor per engine member function
// that the module exports and forwards. The list itself is operations.inc.
#ifndef TOLVAN_CORE_OPERATIONS_H
#define TOLVAN_CORE_OPERATIONS_H

namespace tolvan {

enum OperationId {
#define TOLVAN_OPERATION(id, decorated, signature) id,
#include "operations.inc"
#undef TOLVAN_OPERATION
  kOperationCount
};

struct OperationDescriptor {
  char const* decoratedName;  // export name, and the engine entry's name
  char const* signatureText;  // written in the call record
};

// Indexed by OperationId; the ordinal of an operation is its index + 1.
extern OperationDescriptor const kOperations[kOperationCount];

inline char const* DecoratedName(OperationId op) { return kOperations[op].decoratedName; }
inline char const* SignatureText(OperationId op) { return kOperations[op].signatureText; }

}  // namespace tolvan

#endif

#include "operations.h"

namespace tolvan {

OperationDescriptor const kOperations[kOperationCount] = {
#define TOLVAN_OPERATION(id, decorated, signature) {decorated, signature},
#include "operations.inc"
#undef TOLVAN_OPERATION
};

}  // namespace tolvan

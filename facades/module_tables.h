// The module's own virtual tables for the classes whose constructors it
// exports. A facade constructor or destructor stores its class's table in the
// object's first word before anything else, so that an object is never
// without a table the module stands behind while the engine has not yet (or
// no longer) put its own there.
#ifndef TOLVAN_FACADES_MODULE_TABLES_H
#define TOLVAN_FACADES_MODULE_TABLES_H

#include "facades/engine_interface.h"
#include "platform/abi.h"

namespace tolvan {

#if TOLVAN_MICROSOFT_CXX_ABI
// The tables are made by hand: the first slot's deleting destructor frees the
// object only when bit 0 of its flag is set and ignores the other bits, which
// the compiler's own deleting destructor does not promise.
void StoreModuleTable(CDataDictionary* object);
void StoreModuleTable(CKeyObj* object);
void StoreModuleTable(CRecAddr* object);
void StoreModuleTable(CStoreObj* object);
#else
// Other ABIs have no flag to honour; the compiler's table is the module's.
template <class Facade>
inline void StoreModuleTable(Facade*) {}
#endif

}  // namespace tolvan

#endif

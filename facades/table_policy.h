// The tests of share forcing, shared by the table facade and its tests.
#ifndef TOLVAN_FACADES_TABLE_POLICY_H
#define TOLVAN_FACADES_TABLE_POLICY_H

#include "facades/engine_interface.h"

namespace tolvan {

// "ZKUSERS", ASCII letter case ignored.
bool IsUsersTable(char const* name);

// Whether an open the engine answered with `openResult` is to be reopened
// shared: it succeeded, no exemption holds and the mode asked is not shared.
bool ShareForcingApplies(CTable const* table, ShareModeCtl mode, int openResult);

}  // namespace tolvan

#endif

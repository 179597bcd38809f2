// The small classes: search keys, record addresses, indexes and the static
// description accessor. Plain forwarding throughout.
#include "facades/forwarding.h"

using namespace tolvan;

// --- CKeyObj ------------------------------------------------------------------

CKeyObj::CKeyObj(CIndex* index, int first, int second) {
  ForwardConstructor(kKeyObj_Construct, this, index, first, second);
}

CKeyObj::~CKeyObj() noexcept(false) { ForwardDestructor(kKeyObj_Destroy, this); }

ObjectType CKeyObj::GetObjType() const { return Forward<kKeyObj_GetObjType, ObjectType>(this); }

// Fills the third slot of the module's virtual table for keys: touches
// nothing, resolves nothing, traces nothing.
void CKeyObj::Reserved() {}

void CKeyObj::SetKeyLength(int first, int second) { Forward<kKeyObj_SetKeyLength, void>(this, first, second); }

// --- CRecAddr -----------------------------------------------------------------

CRecAddr::CRecAddr(CRecAddr const& source) { ForwardConstructor(kRecAddr_Construct_Copy, this, &source); }

CRecAddr::CRecAddr(CRecAddr const* source) { ForwardConstructor(kRecAddr_Construct_FromPointer, this, source); }

CRecAddr::~CRecAddr() noexcept(false) { ForwardDestructor(kRecAddr_Destroy, this); }

ObjectType CRecAddr::GetObjType() const { return Forward<kRecAddr_GetObjType, ObjectType>(this); }

int CRecAddr::operator==(CRecAddr const& other) const { return Forward<kRecAddr_Equals, int>(this, &other); }

long CRecAddr::GetLongVal() const { return Forward<kRecAddr_GetLongVal, long>(this); }

void CRecAddr::SetLongVal(long value) { Forward<kRecAddr_SetLongVal, void>(this, value); }

// --- CIndex and CDataBaseStaticObj ----------------------------------------------

ObjectType CIndex::GetObjType() const { return Forward<kIndex_GetObjType, ObjectType>(this); }

CField* CIndex::GetField(int number) { return Forward<kIndex_GetField, CField*>(this, number); }

char const* CDataBaseStaticObj::GetDescription() const {
  return Forward<kDataBaseStaticObj_GetDescription, char const*>(this);
}

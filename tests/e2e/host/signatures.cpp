// The readable signature text of every operation, as the trace must write it
// (irregularities included: "class" before some class names, "))" at the end
// of the store constructor). Written out here rather than taken from the
// module, so that the logs are compared with an independent text.
#include "tests/e2e/host/harness.h"

namespace e2e {

namespace {

struct SignatureEntry {
  OperationId op;
  char const* text;
};

SignatureEntry const kSignatures[] = {
    // CDataDictionary
    {tolvan::kDataDictionary_Construct,
     "CDataDictionary::CDataDictionary(char const *,char const *,char const *,char const *)"},
    {tolvan::kDataDictionary_Destroy, "CDataDictionary::~CDataDictionary(void)"},
    {tolvan::kDataDictionary_AddTable, "CDataDictionary::AddTable(char const *)"},
    {tolvan::kDataDictionary_BeginTransaction, "CDataDictionary::BeginTransaction(void)"},
    {tolvan::kDataDictionary_Close, "CDataDictionary::Close(void)"},
    {tolvan::kDataDictionary_DeleteTable_ByNumber, "CDataDictionary::DeleteTable(int)"},
    {tolvan::kDataDictionary_DeleteTable_ByObject, "CDataDictionary::DeleteTable(class CTable *)"},
    {tolvan::kDataDictionary_DeleteTable_ByName, "CDataDictionary::DeleteTable(char const *)"},
    {tolvan::kDataDictionary_EndTransaction, "CDataDictionary::EndTransaction(enum TransactionCtl)"},
    {tolvan::kDataDictionary_GetFilePath, "CDataDictionary::GetFilePath(enum TableType)"},
    {tolvan::kDataDictionary_GetObjType, "CDataDictionary::GetObjType(void)"},
    {tolvan::kDataDictionary_GetTable_ByNumber, "CDataDictionary::GetTable(int)"},
    {tolvan::kDataDictionary_GetTable_ByName, "CDataDictionary::GetTable(char const *)"},
    {tolvan::kDataDictionary_Open, "CDataDictionary::Open(char const *)"},
    {tolvan::kDataDictionary_OpenEmpty, "CDataDictionary::OpenEmpty(void)"},
    {tolvan::kDataDictionary_SetAdmFilePath, "CDataDictionary::SetAdmFilePath(char const *)"},
    {tolvan::kDataDictionary_SetLocale, "CDataDictionary::SetLocale(int,unsigned char *,unsigned char *)"},
    {tolvan::kDataDictionary_SetSysFilePath, "CDataDictionary::SetSysFilePath(char const *)"},
    {tolvan::kDataDictionary_SetUserFilePath, "CDataDictionary::SetUserFilePath(char const *)"},
    // CTable, share-mode policy
    {tolvan::kTable_OpenAccess, "CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl)"},
    {tolvan::kTable_CloseAccess, "CTable::CloseAccess(enum SafetyCtl)"},
    {tolvan::kTable_Pack, "CTable::Pack(void)"},
    {tolvan::kTable_ReIndex, "CTable::ReIndex(void)"},
    {tolvan::kTable_Clear, "CTable::Clear(void)"},
    {tolvan::kTable_BeginReadSequence, "CTable::BeginReadSequence(void)"},
    {tolvan::kTable_EndReadSequence, "CTable::EndReadSequence(void)"},
    {tolvan::kTable_PutTLock, "CTable::PutTLock(enum TLockModeCtl)"},
    // CTable, structure and status
    {tolvan::kTable_AddField, "CTable::AddField(char const *)"},
    {tolvan::kTable_AddIndex, "CTable::AddIndex(char const *)"},
    {tolvan::kTable_DeleteField_ByNumber, "CTable::DeleteField(int)"},
    {tolvan::kTable_DeleteField_ByField, "CTable::DeleteField(class CField *)"},
    {tolvan::kTable_DeleteField_ByName, "CTable::DeleteField(char const *)"},
    {tolvan::kTable_DeleteIndex_ByNumber, "CTable::DeleteIndex(int)"},
    {tolvan::kTable_DeleteIndex_ByObject, "CTable::DeleteIndex(class CIndex *)"},
    {tolvan::kTable_DeleteIndex_ByName, "CTable::DeleteIndex(char const *)"},
    {tolvan::kTable_EnableIndexing, "CTable::EnableIndexing(int)"},
    {tolvan::kTable_GetField_ByNumber, "CTable::GetField(int)"},
    {tolvan::kTable_GetField_ByName, "CTable::GetField(char const *)"},
    {tolvan::kTable_GetIndex_ByNumber, "CTable::GetIndex(int)"},
    {tolvan::kTable_GetIndex_ByName, "CTable::GetIndex(char const *)"},
    {tolvan::kTable_GetObjType, "CTable::GetObjType(void)"},
    {tolvan::kTable_GetTLockMode, "CTable::GetTLockMode(void)"},
    {tolvan::kTable_IsBufDirty, "CTable::IsBufDirty(void)"},
    {tolvan::kTable_IsOpen, "CTable::IsOpen(void)"},
    {tolvan::kTable_IsRecLocked, "CTable::IsRecLocked(class CRecAddr &)"},
    // CStoreObj, navigation and records
    {tolvan::kStoreObj_Construct, "CStoreObj::CStoreObj(class CTable *,class CIndex *))"},
    {tolvan::kStoreObj_Destroy, "CStoreObj::~CStoreObj(void)"},
    {tolvan::kStoreObj_Compare, "CStoreObj::Compare(class CKeyObj *,enum CompCtl)"},
    {tolvan::kStoreObj_Delete, "CStoreObj::Delete(void)"},
    {tolvan::kStoreObj_GetObjType, "CStoreObj::GetObjType(void)"},
    {tolvan::kStoreObj_GetRecAddr, "CStoreObj::GetRecAddr(void)"},
    {tolvan::kStoreObj_GetRelPosition, "CStoreObj::GetRelPosition(void)"},
    {tolvan::kStoreObj_Goto_ByRecAddr, "CStoreObj::Goto(class CRecAddr const &,int)"},
    {tolvan::kStoreObj_Goto_ByKey, "CStoreObj::Goto(class CKeyObj *,enum CompCtl,int)"},
    {tolvan::kStoreObj_Goto_ByNavigation, "CStoreObj::Goto(enum NavCtrl,int)"},
    {tolvan::kStoreObj_Locking, "CStoreObj::Locking(enum LockCtrl)"},
    {tolvan::kStoreObj_New, "CStoreObj::New(void)"},
    {tolvan::kStoreObj_ReRead, "CStoreObj::ReRead(void)"},
    {tolvan::kStoreObj_SetOrderIndex, "CStoreObj::SetOrderIndex(class CIndex *)"},
    {tolvan::kStoreObj_SetRelPosition, "CStoreObj::SetRelPosition(double,int)"},
    {tolvan::kStoreObj_SetSourceTable, "CStoreObj::SetSourceTable(class CTable *)"},
    {tolvan::kStoreObj_Update, "CStoreObj::Update(void)"},
    // CStoreObj, field exchange
    {tolvan::kStoreObj_FX_CNumeric_ByNumber, "CStoreObj::FX_CNumeric(int,class CNumeric &,int)"},
    {tolvan::kStoreObj_FX_CNumeric_ByField, "CStoreObj::FX_CNumeric(class CField *,class CNumeric &,int)"},
    {tolvan::kStoreObj_FX_CNumeric_ByName, "CStoreObj::FX_CNumeric(char const *,class CNumeric &,int)"},
    {tolvan::kStoreObj_FX_Char_ByNumber, "CStoreObj::FX_Char(int,char &,int)"},
    {tolvan::kStoreObj_FX_Char_ByField, "CStoreObj::FX_Char(class CField *,char &,int)"},
    {tolvan::kStoreObj_FX_Char_ByName, "CStoreObj::FX_Char(char const *,char &,int)"},
    {tolvan::kStoreObj_FX_Date_ByNumber, "CStoreObj::FX_Date(int,class CDate &,int)"},
    {tolvan::kStoreObj_FX_Date_ByField, "CStoreObj::FX_Date(class CField *,class CDate &,int)"},
    {tolvan::kStoreObj_FX_Date_ByName, "CStoreObj::FX_Date(char const *,class CDate &,int)"},
    {tolvan::kStoreObj_FX_Double_ByNumber, "CStoreObj::FX_Double(int,double &,int)"},
    {tolvan::kStoreObj_FX_Double_ByField, "CStoreObj::FX_Double(class CField *,double &,int)"},
    {tolvan::kStoreObj_FX_Double_ByName, "CStoreObj::FX_Double(char const *,double &,int)"},
    {tolvan::kStoreObj_FX_Int_ByNumber, "CStoreObj::FX_Int(int,int &,int)"},
    {tolvan::kStoreObj_FX_Int_ByField, "CStoreObj::FX_Int(class CField *,int &,int)"},
    {tolvan::kStoreObj_FX_Int_ByName, "CStoreObj::FX_Int(char const *,int &,int)"},
    {tolvan::kStoreObj_FX_Long_ByNumber, "CStoreObj::FX_Long(int,long &,int)"},
    {tolvan::kStoreObj_FX_Long_ByField, "CStoreObj::FX_Long(class CField *,long &,int)"},
    {tolvan::kStoreObj_FX_Long_ByName, "CStoreObj::FX_Long(char const *,long &,int)"},
    {tolvan::kStoreObj_FX_LongDouble_ByNumber, "CStoreObj::FX_LongDouble(int,long double &,int)"},
    {tolvan::kStoreObj_FX_LongDouble_ByField, "CStoreObj::FX_LongDouble(class CField *,long double &,int)"},
    {tolvan::kStoreObj_FX_LongDouble_ByName, "CStoreObj::FX_LongDouble(char const *,long double &,int)"},
    {tolvan::kStoreObj_FX_String_ByNumber, "CStoreObj::FX_String(int,class CString &,int)"},
    {tolvan::kStoreObj_FX_StringBuffer_ByNumber, "CStoreObj::FX_String(int,char *,long,int)"},
    {tolvan::kStoreObj_FX_String_ByField, "CStoreObj::FX_String(class CField *,class CString &,int)"},
    {tolvan::kStoreObj_FX_StringBuffer_ByField, "CStoreObj::FX_String(class CField *,char *,long,int)"},
    {tolvan::kStoreObj_FX_String_ByName, "CStoreObj::FX_String(char const *,class CString &,int)"},
    {tolvan::kStoreObj_FX_StringBuffer_ByName, "CStoreObj::FX_String(char const *,char *,long,int)"},
    {tolvan::kStoreObj_FieldExchange, "CStoreObj::FieldExchange(int)"},
    // CKeyObj, CRecAddr, CIndex, CDataBaseStaticObj
    {tolvan::kKeyObj_Construct, "CKeyObj::CKeyObj(class CIndex *,int,int)"},
    {tolvan::kKeyObj_Destroy, "CKeyObj::~CKeyObj(void)"},
    {tolvan::kKeyObj_GetObjType, "CKeyObj::GetObjType(void)"},
    {tolvan::kKeyObj_SetKeyLength, "CKeyObj::SetKeyLength(int,int)"},
    {tolvan::kRecAddr_Construct_Copy, "CRecAddr::CRecAddr(class CRecAddr const &)"},
    {tolvan::kRecAddr_Construct_FromPointer, "CRecAddr::CRecAddr(class CRecAddr const *)"},
    {tolvan::kRecAddr_Destroy, "CRecAddr::~CRecAddr(void)"},
    {tolvan::kRecAddr_Equals, "CRecAddr::operator==(class CRecAddr const &)"},
    {tolvan::kRecAddr_GetLongVal, "CRecAddr::GetLongVal(void)"},
    {tolvan::kRecAddr_GetObjType, "CRecAddr::GetObjType(void)"},
    {tolvan::kRecAddr_SetLongVal, "CRecAddr::SetLongVal(long)"},
    {tolvan::kIndex_GetField, "CIndex::GetField(int)"},
    {tolvan::kIndex_GetObjType, "CIndex::GetObjType(void)"},
    {tolvan::kDataBaseStaticObj_GetDescription, "CDataBaseStaticObj::GetDescription(void)"},
};

static_assert(sizeof kSignatures / sizeof kSignatures[0] == kOperationCount, "one signature per operation");

}  // namespace

char const* Signature(OperationId op) {
  for (SignatureEntry const& entry : kSignatures) {
    if (entry.op == op) return entry.text;
  }
  return "<no signature>";
}

}  // namespace e2e

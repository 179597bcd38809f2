// CDataDictionary: forwarding, the registry of dictionaries opened empty, and
// the detection of the restructure dictionary.
#include "facades/data_dictionary.h"

#include "facades/forwarding.h"

namespace tolvan {

namespace {

char const kRestructureSuffix[] = "\\NEW_STRU\\Pallo7.DD";

char FoldAsciiLetter(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool EqualIgnoringAsciiCase(char const* a, char const* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (FoldAsciiLetter(a[i]) != FoldAsciiLetter(b[i])) return false;
  }
  return true;
}

bool IsRestructurePath(char const* path) {
  if (!path) return false;
  size_t const pathLength = strlen(path);
  size_t const suffixLength = sizeof kRestructureSuffix - 1;
  if (pathLength < suffixLength) return false;
  return EqualIgnoringAsciiCase(path + pathLength - suffixLength, kRestructureSuffix, suffixLength);
}

bool IsRegisteredDictionary(CDataDictionary const* dictionary) {
  // Compared with every slot as they stand: a table without a dictionary
  // (null) matches a free slot, and so keeps the mode the host asked for as
  // long as the registry is not full. Nothing is read through the address.
  for (CDataDictionary* slot : g_module.registry) {
    if (slot == dictionary) return true;
  }
  return false;
}

void RegisterDictionary(CDataDictionary* dictionary) {
  // A dictionary that succeeds twice takes two slots; a full registry
  // silently leaves it unregistered.
  for (CDataDictionary*& slot : g_module.registry) {
    if (!slot) {
      slot = dictionary;
      return;
    }
  }
}

void UnregisterDictionary(CDataDictionary const* dictionary) {
  for (CDataDictionary*& slot : g_module.registry) {
    if (slot == dictionary) slot = nullptr;
  }
}

}  // namespace tolvan

using namespace tolvan;

CDataDictionary::CDataDictionary(char const* sysPath, char const* admPath, char const* userPath,
                                 char const* filePath) {
  ForwardConstructor(kDataDictionary_Construct, this, sysPath, admPath, userPath, filePath);
}

CDataDictionary::~CDataDictionary() noexcept(false) {
  // Cleared whatever becomes of the engine call: the address may be reused by
  // another dictionary, which must not inherit the exemption.
  ForwardDestructor(kDataDictionary_Destroy, this, [this] { UnregisterDictionary(this); });
}

ObjectType CDataDictionary::GetObjType() const { return Forward<kDataDictionary_GetObjType, ObjectType>(this); }

CTable* CDataDictionary::AddTable(char const* name) { return Forward<kDataDictionary_AddTable, CTable*>(this, name); }

int CDataDictionary::BeginTransaction() { return Forward<kDataDictionary_BeginTransaction, int>(this); }

void CDataDictionary::Close() {
  void* const address = EngineEntry(kDataDictionary_Close);
  TraceCallRecord(kDataDictionary_Close, this);
  // Cleared whether or not the engine can be called, as in the destructor.
  UnregisterDictionary(this);
  if (address) CallEntry<void>(address, this);
}

int CDataDictionary::DeleteTable(int number) {
  return Forward<kDataDictionary_DeleteTable_ByNumber, int>(this, number);
}

int CDataDictionary::DeleteTable(CTable* table) {
  return Forward<kDataDictionary_DeleteTable_ByObject, int>(this, table);
}

int CDataDictionary::DeleteTable(char const* name) {
  return Forward<kDataDictionary_DeleteTable_ByName, int>(this, name);
}

int CDataDictionary::EndTransaction(TransactionCtl control) {
  return Forward<kDataDictionary_EndTransaction, int>(this, control);
}

char const* CDataDictionary::GetFilePath(TableType type) const {
  return Forward<kDataDictionary_GetFilePath, char const*>(this, type);
}

CTable* CDataDictionary::GetTable(int number) {
  return Forward<kDataDictionary_GetTable_ByNumber, CTable*>(this, number);
}

CTable* CDataDictionary::GetTable(char const* name) {
  return Forward<kDataDictionary_GetTable_ByName, CTable*>(this, name);
}

int CDataDictionary::Open(char const* path) {
  return ForwardWith<int, NoState>(kDataDictionary_Open, this, [path](auto engineCall) {
    int const result = engineCall();
    // Once the restructure dictionary is open, no table is forced shared.
    if (result && IsRestructurePath(path)) g_module.noShare = 1;
    return result;
  }, path);
}

int CDataDictionary::OpenEmpty() {
  return ForwardWith<int, NoState>(kDataDictionary_OpenEmpty, this, [this](auto engineCall) {
    int const result = engineCall();
    if (result) RegisterDictionary(this);
    return result;
  });
}

int CDataDictionary::SetAdmFilePath(char const* path) {
  return Forward<kDataDictionary_SetAdmFilePath, int>(this, path);
}

void CDataDictionary::SetLocale(int locale, unsigned char* upper, unsigned char* lower) {
  // A static member: no object, so the call record names the null address.
  void* const address = EngineEntry(kDataDictionary_SetLocale);
  TraceCallRecord(kDataDictionary_SetLocale, nullptr, locale, upper, lower);
  if (!address) return;
  typedef void (*StaticEntry)(int, unsigned char*, unsigned char*);
  reinterpret_cast<StaticEntry>(address)(locale, upper, lower);
}

int CDataDictionary::SetSysFilePath(char const* path) {
  return Forward<kDataDictionary_SetSysFilePath, int>(this, path);
}

int CDataDictionary::SetUserFilePath(char const* path) {
  return Forward<kDataDictionary_SetUserFilePath, int>(this, path);
}

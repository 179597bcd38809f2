// A stand-in for the engine library Tolvan33.dll. It defines the engine's
// class interface from the same declarations the module exports, so the
// compiler gives every member the engine's decorated name; its objects follow
// the engine's field layout. Every entry call is written to a journal that the
// test host reads, and the results are scripted through the control block.
//
// Engine behaviour, as far as the tests rely on it:
// - every call on a table counts in the table's trace word, every call on a
//   store object in its first trace word;
// - OpenAccess that succeeds sets the table's share mode, CloseAccess that
//   succeeds clears it;
// - the second store trace word is the current record number (Goto, New,
//   Delete, SetRelPosition), the third the last lock control;
// - GetRecAddr returns a record address holding the current record number;
// - field exchange journals the value it found in the host's variable and
//   then writes the scripted value there, whatever the direction.
#include "core/engine_layout.h"
#include "facades/engine_interface.h"
#include "facades/value_types.h"
#include "tests/e2e/common/engine_control.h"

using namespace tolvan;
using namespace e2e;

namespace {

EngineControl g_control;
int g_quiet;  // the engine's calls to itself are not journaled

void ResetControl() {
  memset(&g_control, 0, sizeof g_control);
  g_control.throwOn = -1;
  g_control.sequenceSwitch = 1;
  g_control.relativePosition = 0.123456789012345;
  g_control.description = "Stand-in engine";
  g_control.fieldFirstWord = 3;
  g_control.fieldSecondWord = 10;
  ExchangeValues& x = g_control.exchange;
  x.c = 'e';
  x.i = 4711;
  x.l = -123456;
  x.d = 2.5;
  x.ld = 0.00001L;
  x.numeric = 1234567.0;
  x.day = 730000;
  x.text = "engine text";
  memcpy(x.buffer, "engine buf", sizeof "engine buf");
}

void JournalAppend(Text const& text) {
  size_t const room = kJournalCapacity - 1 - static_cast<size_t>(g_control.journalLength);
  size_t const count = text.size() < room ? text.size() : room;
  memcpy(g_control.journal + g_control.journalLength, text.c_str(), count);
  g_control.journalLength += static_cast<int>(count);
  g_control.journal[g_control.journalLength] = '\0';
}

// STANDIN_SLOW_OP names an operation, by its member name ("Pack": that
// member of every class) or its whole name ("Table_Pack"), whose every call
// takes STANDIN_SLOW_MS milliseconds (200 when unset) inside the engine, so
// that tests can see how the trace times a slow call.
bool IsSlow(OperationId op) {
  static int slow = -1;  // -1: not read yet, 0: no, 1: the named operation
  static char wanted[64];
  if (slow < 0) {
    unsigned long const length = GetEnvironmentVariableA("STANDIN_SLOW_OP", wanted, sizeof wanted);
    slow = length > 0 && length < sizeof wanted ? 1 : 0;
  }
  if (!slow) return false;
  char const* const whole = kOperationNames[op] + 1;  // "kTable_Pack" without its "k"
  if (strcmp(whole, wanted) == 0) return true;
  char const* member = whole;
  while (*member && *member++ != '_') {
  }
  size_t const length = strlen(wanted);
  return strncmp(member, wanted, length) == 0 && (member[length] == '\0' || member[length] == '_');
}

void SlowDown(OperationId op) {
  if (!IsSlow(op)) return;
  char text[16] = {};
  unsigned long const length = GetEnvironmentVariableA("STANDIN_SLOW_MS", text, sizeof text);
  unsigned long milliseconds = 0;
  for (char const* digit = text; *digit >= '0' && *digit <= '9'; ++digit) milliseconds = milliseconds * 10 + (*digit - '0');
  Sleep(length > 0 && length < sizeof text ? milliseconds : 200);
}

// One journal line per entry call: Enter writes the operation, the object and
// the arguments; Leave the result and the line end. A scripted failure ends
// the line with "!throw" and throws.
template <class... A>
void Enter(OperationId op, void const* object, A... args) {
  __atomic_add_fetch(&g_control.calls[op], 1, __ATOMIC_RELAXED);
  SlowDown(op);
  if (g_quiet) return;
  bool fail = g_control.throwOn == op;
  if (fail && g_control.throwSkip > 0) {
    --g_control.throwSkip;
    fail = false;
  }
  if (!g_control.journalOff) {
    Text line;
    line.Append(kOperationNames[op]);
    JournalItem(line, object);
    JournalItems(line, args...);
    if (fail) line.Append(" !throw\n");
    JournalAppend(line);
  }
  if (fail) {
    g_control.throwOn = -1;
    throw EngineFailure{op};
  }
}

template <class R>
R Leave(R result) {
  if (g_quiet || g_control.journalOff) return result;
  Text line;
  line.Append(" ->");
  JournalItem(line, result);
  line.Append("\n");
  JournalAppend(line);
  return result;
}

void Leave() {
  if (g_quiet || g_control.journalOff) return;
  Text line;
  line.Append("\n");
  JournalAppend(line);
}

struct Quiet {
  Quiet() { ++g_quiet; }
  ~Quiet() { --g_quiet; }
};

intptr_t NextResult(OperationId op, intptr_t standing) {
  int& count = g_control.queuedCount[op];
  if (count == 0) return standing;
  intptr_t const result = g_control.queued[op][0];
  for (int i = 1; i < count; ++i) g_control.queued[op][i - 1] = g_control.queued[op][i];
  --count;
  return result;
}

int NextInt(OperationId op, int standing) { return static_cast<int>(NextResult(op, standing)); }

template <class T>
T* NextPointer(OperationId op, T* standing) {
  return reinterpret_cast<T*>(NextResult(op, reinterpret_cast<intptr_t>(standing)));
}

void NoteFirstWord(OperationId op, void const* object) {
  if (g_control.firstWordCount == kFirstWordCapacity) return;
  void const* word;
  memcpy(&word, object, sizeof word);
  g_control.firstWords[g_control.firstWordCount++] = FirstWordSeen{op, object, word};
}

// --- Engine objects -----------------------------------------------------------

template <class Layout, class T>
Layout& LayoutOf(T const* object) {
  return *reinterpret_cast<Layout*>(const_cast<T*>(object));
}

struct KeyLayout {
  void const* virtualTable;
  CIndex* index;
  int first;
  int second;
};
static_assert(sizeof(KeyLayout) <= kKeyObjectSize, "key size");
static_assert(sizeof(RecAddrLayout) <= kRecAddrObjectSize, "record address size");
static_assert(sizeof(StoreLayout) <= kStoreObjectSize, "store size");
static_assert(sizeof(DictionaryLayout) <= kDictionaryObjectSize, "dictionary size");

enum { kPoolSize = 64, kNameRoom = 32 };

// Tables, indexes and fields belong to the engine: it hands out pointers into
// these pools. The C++ objects are built in place when an entry is handed out.
struct TableSlot {
  alignas(8) unsigned char object[sizeof(TableLayout)];
  char name[kNameRoom];
  char filePath[kNameRoom];
};
struct IndexSlot {
  alignas(8) unsigned char object[sizeof(void*)];
  CTable* table;
  char name[kNameRoom];
};
struct FieldSlot {
  FieldLayout layout;
  char name[kNameRoom];
};

TableSlot g_tables[kPoolSize];
int g_tableCount;
IndexSlot g_indexes[kPoolSize];
int g_indexCount;
FieldSlot g_fields[kPoolSize];
int g_fieldCount;
char g_filePath[kNameRoom];

void CopyName(char* room, char const* name) {
  size_t length = name ? strlen(name) : 0;
  if (length >= kNameRoom) length = kNameRoom - 1;
  memcpy(room, name ? name : "", length);
  room[length] = '\0';
}

bool SameName(char const* a, char const* b) { return a && b && strcmp(a, b) == 0; }

CTable* TableNamed(CDataDictionary* dictionary, char const* name) {
  for (int i = 0; i < g_tableCount; ++i) {
    CTable* table = reinterpret_cast<CTable*>(g_tables[i].object);
    if (TableDictionary(table) == dictionary && SameName(g_tables[i].name, name)) return table;
  }
  if (g_tableCount == kPoolSize) return nullptr;
  TableSlot& slot = g_tables[g_tableCount++];
  CTable* table = ::new (slot.object) CTable();
  CopyName(slot.name, name);
  TableLayout& layout = LayoutOf<TableLayout>(table);
  layout.name = slot.name;
  layout.dictionary = dictionary;
  layout.traceWord = 0;
  layout.shareMode = 0;
  return table;
}

CTable* TableNumbered(CDataDictionary* dictionary, int number) {
  int seen = 0;
  for (int i = 0; i < g_tableCount; ++i) {
    CTable* table = reinterpret_cast<CTable*>(g_tables[i].object);
    if (TableDictionary(table) == dictionary && seen++ == number) return table;
  }
  return nullptr;
}

void CountTableCall(CTable const* table) { ++LayoutOf<TableLayout>(table).traceWord; }

CIndex* IndexNamed(CTable* table, char const* name) {
  for (int i = 0; i < g_indexCount; ++i) {
    if (g_indexes[i].table == table && SameName(g_indexes[i].name, name)) {
      return reinterpret_cast<CIndex*>(g_indexes[i].object);
    }
  }
  if (g_indexCount == kPoolSize) return nullptr;
  IndexSlot& slot = g_indexes[g_indexCount++];
  slot.table = table;
  CopyName(slot.name, name);
  return ::new (slot.object) CIndex();
}

CField* NewField(char const* name, int first, int second) {
  if (g_fieldCount == kPoolSize) return nullptr;
  FieldSlot& slot = g_fields[g_fieldCount++];
  CopyName(slot.name, name);
  slot.layout.name = slot.name;
  slot.layout.firstWord = first;
  slot.layout.secondWord = second;
  return reinterpret_cast<CField*>(&slot.layout);
}

// Fields by number are named "F<number>" with the words number and 10 * number.
CField* FieldNumbered(int number) {
  char name[16];
  _snprintf(name, sizeof name - 1, "F%d", number);
  name[sizeof name - 1] = '\0';
  return NewField(name, number, 10 * number);
}

CField* FieldNamed(char const* name) {
  return NewField(name, g_control.fieldFirstWord, g_control.fieldSecondWord);
}

void CountStoreCall(CStoreObj const* store) { ++LayoutOf<StoreLayout>(store).firstTraceWord; }
void SetRecord(CStoreObj const* store, int record) { LayoutOf<StoreLayout>(store).secondTraceWord = record; }
int Record(CStoreObj const* store) { return LayoutOf<StoreLayout>(store).secondTraceWord; }

// The module promises that the engine rebuilds a table only while it is
// held exclusively.
void CountUnlessExclusive(CTable const* table) {
  if (LayoutOf<TableLayout>(table).shareMode != kShareModeExclusive) {
    __atomic_add_fetch(&g_control.rebuiltUnlessExclusive, 1, __ATOMIC_RELAXED);
  }
}

template <class... A>
void EnterTable(OperationId op, CTable const* table, A... args) {
  CountTableCall(table);
  Enter(op, table, args...);
}

template <class... A>
void EnterStore(OperationId op, CStoreObj const* store, A... args) {
  CountStoreCall(store);
  Enter(op, store, args...);
}

}  // namespace

// --- CDataDictionary -------------------------------------------------------------

CDataDictionary::CDataDictionary(char const* sysPath, char const* admPath, char const* userPath,
                                 char const* filePath) {
  Enter(kDataDictionary_Construct, this, sysPath, admPath, userPath, filePath);
  LayoutOf<DictionaryLayout>(this).sequenceSwitch = g_control.sequenceSwitch;
  Leave();
}

CDataDictionary::~CDataDictionary() noexcept(false) {
  Enter(kDataDictionary_Destroy, this);
  Leave();
}

ObjectType CDataDictionary::GetObjType() const {
  Enter(kDataDictionary_GetObjType, this);
  return Leave(static_cast<ObjectType>(NextInt(kDataDictionary_GetObjType, kDictionaryType)));
}

CTable* CDataDictionary::AddTable(char const* name) {
  Enter(kDataDictionary_AddTable, this, name);
  return Leave(NextPointer(kDataDictionary_AddTable, TableNamed(this, name)));
}

int CDataDictionary::BeginTransaction() {
  Enter(kDataDictionary_BeginTransaction, this);
  return Leave(NextInt(kDataDictionary_BeginTransaction, 1));
}

void CDataDictionary::Close() {
  Enter(kDataDictionary_Close, this);
  Leave();
}

int CDataDictionary::DeleteTable(int number) {
  Enter(kDataDictionary_DeleteTable_ByNumber, this, number);
  return Leave(NextInt(kDataDictionary_DeleteTable_ByNumber, 1));
}

int CDataDictionary::DeleteTable(CTable* table) {
  Enter(kDataDictionary_DeleteTable_ByObject, this, table);
  return Leave(NextInt(kDataDictionary_DeleteTable_ByObject, 1));
}

int CDataDictionary::DeleteTable(char const* name) {
  Enter(kDataDictionary_DeleteTable_ByName, this, name);
  return Leave(NextInt(kDataDictionary_DeleteTable_ByName, 1));
}

int CDataDictionary::EndTransaction(TransactionCtl control) {
  Enter(kDataDictionary_EndTransaction, this, control);
  return Leave(NextInt(kDataDictionary_EndTransaction, 1));
}

char const* CDataDictionary::GetFilePath(TableType type) const {
  Enter(kDataDictionary_GetFilePath, this, type);
  _snprintf(g_filePath, sizeof g_filePath - 1, "X:\\DATA\\%d", static_cast<int>(type));
  return Leave(NextPointer<char const>(kDataDictionary_GetFilePath, g_filePath));
}

CTable* CDataDictionary::GetTable(int number) {
  Enter(kDataDictionary_GetTable_ByNumber, this, number);
  return Leave(NextPointer(kDataDictionary_GetTable_ByNumber, TableNumbered(this, number)));
}

CTable* CDataDictionary::GetTable(char const* name) {
  Enter(kDataDictionary_GetTable_ByName, this, name);
  return Leave(NextPointer(kDataDictionary_GetTable_ByName, TableNamed(this, name)));
}

int CDataDictionary::Open(char const* path) {
  Enter(kDataDictionary_Open, this, path);
  return Leave(NextInt(kDataDictionary_Open, 1));
}

int CDataDictionary::OpenEmpty() {
  Enter(kDataDictionary_OpenEmpty, this);
  return Leave(NextInt(kDataDictionary_OpenEmpty, 1));
}

int CDataDictionary::SetAdmFilePath(char const* path) {
  Enter(kDataDictionary_SetAdmFilePath, this, path);
  return Leave(NextInt(kDataDictionary_SetAdmFilePath, 1));
}

void CDataDictionary::SetLocale(int locale, unsigned char* upper, unsigned char* lower) {
  Enter(kDataDictionary_SetLocale, static_cast<void const*>(nullptr), locale, upper, lower);
  Leave();
}

int CDataDictionary::SetSysFilePath(char const* path) {
  Enter(kDataDictionary_SetSysFilePath, this, path);
  return Leave(NextInt(kDataDictionary_SetSysFilePath, 1));
}

int CDataDictionary::SetUserFilePath(char const* path) {
  Enter(kDataDictionary_SetUserFilePath, this, path);
  return Leave(NextInt(kDataDictionary_SetUserFilePath, 1));
}

// --- CTable ----------------------------------------------------------------------

ObjectType CTable::GetObjType() const {
  EnterTable(kTable_GetObjType, this);
  return Leave(static_cast<ObjectType>(NextInt(kTable_GetObjType, kTableType)));
}

int CTable::OpenAccess(ShareModeCtl mode, SafetyCtl safety) {
  EnterTable(kTable_OpenAccess, this, mode, safety);
  int const result = NextInt(kTable_OpenAccess, 1);
  if (result) LayoutOf<TableLayout>(this).shareMode = mode;
  return Leave(result);
}

int CTable::CloseAccess(SafetyCtl safety) {
  EnterTable(kTable_CloseAccess, this, safety);
  int const result = NextInt(kTable_CloseAccess, 1);
  if (result) LayoutOf<TableLayout>(this).shareMode = 0;
  return Leave(result);
}

int CTable::Pack() {
  EnterTable(kTable_Pack, this);
  CountUnlessExclusive(this);
  return Leave(NextInt(kTable_Pack, 1));
}

int CTable::ReIndex() {
  EnterTable(kTable_ReIndex, this);
  CountUnlessExclusive(this);
  return Leave(NextInt(kTable_ReIndex, 1));
}

int CTable::Clear() {
  EnterTable(kTable_Clear, this);
  CountUnlessExclusive(this);
  return Leave(NextInt(kTable_Clear, 1));
}

int CTable::BeginReadSequence() {
  EnterTable(kTable_BeginReadSequence, this);
  return Leave(NextInt(kTable_BeginReadSequence, 1));
}

void CTable::EndReadSequence() {
  EnterTable(kTable_EndReadSequence, this);
  Leave();
}

int CTable::PutTLock(TLockModeCtl mode) {
  EnterTable(kTable_PutTLock, this, mode);
  LayoutOf<TableLayout>(this).unused16 = mode;
  return Leave(NextInt(kTable_PutTLock, 1));
}

CField* CTable::AddField(char const* name) {
  EnterTable(kTable_AddField, this, name);
  return Leave(NextPointer(kTable_AddField, FieldNamed(name)));
}

CIndex* CTable::AddIndex(char const* name) {
  EnterTable(kTable_AddIndex, this, name);
  return Leave(NextPointer(kTable_AddIndex, IndexNamed(this, name)));
}

int CTable::DeleteField(int number) {
  EnterTable(kTable_DeleteField_ByNumber, this, number);
  return Leave(NextInt(kTable_DeleteField_ByNumber, 1));
}

int CTable::DeleteField(CField* field) {
  EnterTable(kTable_DeleteField_ByField, this, field);
  return Leave(NextInt(kTable_DeleteField_ByField, 1));
}

int CTable::DeleteField(char const* name) {
  EnterTable(kTable_DeleteField_ByName, this, name);
  return Leave(NextInt(kTable_DeleteField_ByName, 1));
}

int CTable::DeleteIndex(int number) {
  EnterTable(kTable_DeleteIndex_ByNumber, this, number);
  return Leave(NextInt(kTable_DeleteIndex_ByNumber, 1));
}

int CTable::DeleteIndex(CIndex* index) {
  EnterTable(kTable_DeleteIndex_ByObject, this, index);
  return Leave(NextInt(kTable_DeleteIndex_ByObject, 1));
}

int CTable::DeleteIndex(char const* name) {
  EnterTable(kTable_DeleteIndex_ByName, this, name);
  return Leave(NextInt(kTable_DeleteIndex_ByName, 1));
}

int CTable::EnableIndexing(int enable) {
  EnterTable(kTable_EnableIndexing, this, enable);
  return Leave(NextInt(kTable_EnableIndexing, 1));
}

CField* CTable::GetField(int number) {
  EnterTable(kTable_GetField_ByNumber, this, number);
  return Leave(NextPointer(kTable_GetField_ByNumber, FieldNumbered(number)));
}

CField* CTable::GetField(char const* name) {
  EnterTable(kTable_GetField_ByName, this, name);
  return Leave(NextPointer(kTable_GetField_ByName, FieldNamed(name)));
}

CIndex* CTable::GetIndex(int number) {
  EnterTable(kTable_GetIndex_ByNumber, this, number);
  char name[16];
  _snprintf(name, sizeof name - 1, "I%d", number);
  name[sizeof name - 1] = '\0';
  return Leave(NextPointer(kTable_GetIndex_ByNumber, IndexNamed(this, name)));
}

CIndex* CTable::GetIndex(char const* name) {
  EnterTable(kTable_GetIndex_ByName, this, name);
  return Leave(NextPointer(kTable_GetIndex_ByName, IndexNamed(this, name)));
}

TLockModeCtl CTable::GetTLockMode() const {
  EnterTable(kTable_GetTLockMode, this);
  return Leave(static_cast<TLockModeCtl>(NextInt(kTable_GetTLockMode, LayoutOf<TableLayout>(this).unused16)));
}

int CTable::IsBufDirty() const {
  EnterTable(kTable_IsBufDirty, this);
  return Leave(NextInt(kTable_IsBufDirty, 0));
}

int CTable::IsOpen() const {
  EnterTable(kTable_IsOpen, this);
  return Leave(NextInt(kTable_IsOpen, LayoutOf<TableLayout>(this).shareMode != 0));
}

int CTable::IsRecLocked(CRecAddr& address) const {
  EnterTable(kTable_IsRecLocked, this, &address);
  return Leave(NextInt(kTable_IsRecLocked, 0));
}

// --- CRecAddr --------------------------------------------------------------------

CRecAddr::CRecAddr(CRecAddr const& source) {
  Enter(kRecAddr_Construct_Copy, this, &source);
  LayoutOf<RecAddrLayout>(this).value = LayoutOf<RecAddrLayout>(&source).value;
  Leave();
}

CRecAddr::CRecAddr(CRecAddr const* source) {
  Enter(kRecAddr_Construct_FromPointer, this, source);
  LayoutOf<RecAddrLayout>(this).value = source ? LayoutOf<RecAddrLayout>(source).value : 0;
  if (g_quiet) g_control.builtRecAddr = this;  // built for GetRecAddr
  Leave();
}

CRecAddr::~CRecAddr() noexcept(false) {
  Enter(kRecAddr_Destroy, this);
  Leave();
}

ObjectType CRecAddr::GetObjType() const {
  Enter(kRecAddr_GetObjType, this);
  return Leave(static_cast<ObjectType>(NextInt(kRecAddr_GetObjType, kRecAddrType)));
}

int CRecAddr::operator==(CRecAddr const& other) const {
  Enter(kRecAddr_Equals, this, &other);
  int const same = LayoutOf<RecAddrLayout>(this).value == LayoutOf<RecAddrLayout>(&other).value;
  return Leave(NextInt(kRecAddr_Equals, same));
}

long CRecAddr::GetLongVal() const {
  Enter(kRecAddr_GetLongVal, this);
  return Leave(static_cast<long>(NextResult(kRecAddr_GetLongVal, LayoutOf<RecAddrLayout>(this).value)));
}

void CRecAddr::SetLongVal(long value) {
  Enter(kRecAddr_SetLongVal, this, value);
  LayoutOf<RecAddrLayout>(this).value = value;
  Leave();
}

// --- CKeyObj ---------------------------------------------------------------------

CKeyObj::CKeyObj(CIndex* index, int first, int second) {
  Enter(kKeyObj_Construct, this, index, first, second);
  KeyLayout& key = LayoutOf<KeyLayout>(this);
  key.index = index;
  key.first = first;
  key.second = second;
  Leave();
}

CKeyObj::~CKeyObj() noexcept(false) {
  Enter(kKeyObj_Destroy, this);
  Leave();
}

ObjectType CKeyObj::GetObjType() const {
  Enter(kKeyObj_GetObjType, this);
  return Leave(static_cast<ObjectType>(NextInt(kKeyObj_GetObjType, kKeyType)));
}

void CKeyObj::Reserved() {}

void CKeyObj::SetKeyLength(int first, int second) {
  Enter(kKeyObj_SetKeyLength, this, first, second);
  LayoutOf<KeyLayout>(this).first = first;
  LayoutOf<KeyLayout>(this).second = second;
  Leave();
}

// --- CIndex and CDataBaseStaticObj -------------------------------------------------

ObjectType CIndex::GetObjType() const {
  Enter(kIndex_GetObjType, this);
  return Leave(static_cast<ObjectType>(NextInt(kIndex_GetObjType, kIndexType)));
}

CField* CIndex::GetField(int number) {
  Enter(kIndex_GetField, this, number);
  return Leave(NextPointer(kIndex_GetField, FieldNumbered(number)));
}

char const* CDataBaseStaticObj::GetDescription() const {
  Enter(kDataBaseStaticObj_GetDescription, this);
  return Leave(NextPointer(kDataBaseStaticObj_GetDescription, g_control.description));
}

// --- CStoreObj ---------------------------------------------------------------------

CStoreObj::CStoreObj(CTable* table, CIndex* index) {
  StoreLayout& store = LayoutOf<StoreLayout>(this);
  store.firstTraceWord = 0;
  store.secondTraceWord = 0;
  store.thirdTraceWord = 0;
  EnterStore(kStoreObj_Construct, this, table, index);
  Leave();
}

CStoreObj::~CStoreObj() noexcept(false) {
  EnterStore(kStoreObj_Destroy, this);
  Leave();
}

ObjectType CStoreObj::GetObjType() const {
  EnterStore(kStoreObj_GetObjType, this);
  return Leave(static_cast<ObjectType>(NextInt(kStoreObj_GetObjType, kStoreType)));
}

int CStoreObj::Compare(CKeyObj* key, CompCtl control) {
  EnterStore(kStoreObj_Compare, this, key, control);
  return Leave(NextInt(kStoreObj_Compare, 0));
}

int CStoreObj::Delete() {
  EnterStore(kStoreObj_Delete, this);
  SetRecord(this, 0);
  return Leave(NextInt(kStoreObj_Delete, 1));
}

CRecAddr CStoreObj::GetRecAddr() const {
  EnterStore(kStoreObj_GetRecAddr, this);
  RecAddrLayout const source = {nullptr, Record(this)};
  Leave(source.value);
  Quiet quiet;
  // Built straight in the caller's storage.
  return CRecAddr(reinterpret_cast<CRecAddr const*>(&source));
}

double CStoreObj::GetRelPosition() {
  EnterStore(kStoreObj_GetRelPosition, this);
  return Leave(g_control.relativePosition);
}

int CStoreObj::Goto(CRecAddr const& address, int flags) {
  EnterStore(kStoreObj_Goto_ByRecAddr, this, &address, flags);
  SetRecord(this, static_cast<int>(LayoutOf<RecAddrLayout>(&address).value));
  return Leave(NextInt(kStoreObj_Goto_ByRecAddr, 1));
}

int CStoreObj::Goto(CKeyObj* key, CompCtl control, int flags) {
  EnterStore(kStoreObj_Goto_ByKey, this, key, control, flags);
  if (key) SetRecord(this, LayoutOf<KeyLayout>(key).first);
  return Leave(NextInt(kStoreObj_Goto_ByKey, 1));
}

int CStoreObj::Goto(NavCtrl direction, int count) {
  EnterStore(kStoreObj_Goto_ByNavigation, this, direction, count);
  SetRecord(this, Record(this) + count);
  return Leave(NextInt(kStoreObj_Goto_ByNavigation, 1));
}

int CStoreObj::Locking(LockCtrl control) {
  EnterStore(kStoreObj_Locking, this, control);
  LayoutOf<StoreLayout>(this).thirdTraceWord = control;
  return Leave(NextInt(kStoreObj_Locking, 1));
}

int CStoreObj::New() {
  EnterStore(kStoreObj_New, this);
  SetRecord(this, 900);
  return Leave(NextInt(kStoreObj_New, 1));
}

int CStoreObj::ReRead() {
  EnterStore(kStoreObj_ReRead, this);
  return Leave(NextInt(kStoreObj_ReRead, 1));
}

void CStoreObj::SetOrderIndex(CIndex* index) {
  EnterStore(kStoreObj_SetOrderIndex, this, index);
  Leave();
}

// Exported as e2e_set_rel_position (below).
int CStoreObj::SetRelPosition(double, int) { return 0; }

int CStoreObj::SetSourceTable(CTable* table) {
  EnterStore(kStoreObj_SetSourceTable, this, table);
  return Leave(NextInt(kStoreObj_SetSourceTable, 1));
}

int CStoreObj::Update() {
  EnterStore(kStoreObj_Update, this);
  return Leave(NextInt(kStoreObj_Update, 1));
}

void CStoreObj::FieldExchange(int direction) {
  EnterStore(kStoreObj_FieldExchange, this, direction);
  Leave();
}

// --- Field exchange -------------------------------------------------------------------
// The journal shows the variable's address and the value found there; then
// the scripted value is written.

namespace {

struct NumericLayout {
  double value;
};
struct DateLayoutOf {
  int32_t day;
};

int Found(char value) { return value; }
int Found(int value) { return value; }
long Found(long value) { return value; }
double Found(double value) { return value; }
double Found(long double value) { return static_cast<double>(value); }
double Found(CNumeric const& value) { return reinterpret_cast<NumericLayout const&>(value).value; }
int Found(CDate const& value) { return DateDayNumber(&value); }
char const* Found(CString const& value) { return StringText(&value); }

void Write(char& variable) { variable = g_control.exchange.c; }
void Write(int& variable) { variable = g_control.exchange.i; }
void Write(long& variable) { variable = g_control.exchange.l; }
void Write(double& variable) { variable = g_control.exchange.d; }
void Write(long double& variable) { variable = g_control.exchange.ld; }
void Write(CNumeric& variable) { reinterpret_cast<NumericLayout&>(variable).value = g_control.exchange.numeric; }
void Write(CDate& variable) { reinterpret_cast<DateLayoutOf&>(variable).day = g_control.exchange.day; }
void Write(CString& variable) { reinterpret_cast<StringLayout&>(variable).text = g_control.exchange.text; }

template <class Selector, class Variable>
void Exchange(OperationId op, CStoreObj* store, Selector selector, Variable& variable, int direction) {
  EnterStore(op, store, selector, &variable, Found(variable), direction);
  Write(variable);
  Leave();
}

template <class Selector>
void ExchangeBuffer(OperationId op, CStoreObj* store, Selector selector, char* buffer, long length, int direction) {
  EnterStore(op, store, selector, static_cast<void const*>(buffer), length, direction);
  if (buffer && length > 0) {
    size_t count = strlen(g_control.exchange.buffer);
    if (count > static_cast<size_t>(length - 1)) count = static_cast<size_t>(length - 1);
    memcpy(buffer, g_control.exchange.buffer, count);
    buffer[count] = '\0';
  }
  Leave();
}

}  // namespace

#define E2E_EXCHANGE(Name, Type)                                                  \
  void CStoreObj::Name(int field, Type& value, int direction) {                   \
    Exchange(kStoreObj_##Name##_ByNumber, this, field, value, direction);         \
  }                                                                               \
  void CStoreObj::Name(CField* field, Type& value, int direction) {               \
    Exchange(kStoreObj_##Name##_ByField, this, field, value, direction);          \
  }                                                                               \
  void CStoreObj::Name(char const* field, Type& value, int direction) {           \
    Exchange(kStoreObj_##Name##_ByName, this, field, value, direction);           \
  }

E2E_EXCHANGE(FX_Char, char)
E2E_EXCHANGE(FX_Int, int)
E2E_EXCHANGE(FX_Long, long)
E2E_EXCHANGE(FX_Double, double)
E2E_EXCHANGE(FX_LongDouble, long double)
E2E_EXCHANGE(FX_CNumeric, CNumeric)
E2E_EXCHANGE(FX_Date, CDate)
E2E_EXCHANGE(FX_String, CString)

#undef E2E_EXCHANGE

void CStoreObj::FX_String(int field, char* buffer, long length, int direction) {
  ExchangeBuffer(kStoreObj_FX_StringBuffer_ByNumber, this, field, buffer, length, direction);
}

void CStoreObj::FX_String(CField* field, char* buffer, long length, int direction) {
  ExchangeBuffer(kStoreObj_FX_StringBuffer_ByField, this, field, buffer, length, direction);
}

void CStoreObj::FX_String(char const* field, char* buffer, long length, int direction) {
  ExchangeBuffer(kStoreObj_FX_StringBuffer_ByName, this, field, buffer, length, direction);
}

// --- Exported constructor and destructor entries --------------------------------------
// The export table maps the constructors' and destructors' decorated names to
// these entries (see the engine's export definition). They note the object's
// first word, which holds the module's virtual table at that moment, before
// the engine's own constructor or destructor stores the engine's.

extern "C" {

void* __thiscall e2e_construct_dictionary(void* self, char const* sys, char const* adm, char const* user,
                                          char const* file) {
  NoteFirstWord(kDataDictionary_Construct, self);
  return ::new (self) CDataDictionary(sys, adm, user, file);
}

void __thiscall e2e_destroy_dictionary(CDataDictionary* self) {
  NoteFirstWord(kDataDictionary_Destroy, self);
  self->CDataDictionary::~CDataDictionary();
}

void* __thiscall e2e_construct_key(void* self, CIndex* index, int first, int second) {
  NoteFirstWord(kKeyObj_Construct, self);
  return ::new (self) CKeyObj(index, first, second);
}

void __thiscall e2e_destroy_key(CKeyObj* self) {
  NoteFirstWord(kKeyObj_Destroy, self);
  self->CKeyObj::~CKeyObj();
}

void* __thiscall e2e_copy_recaddr(void* self, CRecAddr const* source) {
  NoteFirstWord(kRecAddr_Construct_Copy, self);
  return ::new (self) CRecAddr(*source);
}

void* __thiscall e2e_construct_recaddr(void* self, CRecAddr const* source) {
  NoteFirstWord(kRecAddr_Construct_FromPointer, self);
  return ::new (self) CRecAddr(source);
}

void __thiscall e2e_destroy_recaddr(CRecAddr* self) {
  NoteFirstWord(kRecAddr_Destroy, self);
  self->CRecAddr::~CRecAddr();
}

void* __thiscall e2e_construct_store(void* self, CTable* table, CIndex* index) {
  NoteFirstWord(kStoreObj_Construct, self);
  return ::new (self) CStoreObj(table, index);
}

void __thiscall e2e_destroy_store(CStoreObj* self) {
  NoteFirstWord(kStoreObj_Destroy, self);
  self->CStoreObj::~CStoreObj();
}

// SetRelPosition's position as the eight bytes the caller pushed: taken as a
// double, it would be loaded onto the x87, which quiets a signalling NaN and
// raises the invalid-operation flag. Not-a-number positions (exponent all
// ones) are journalled only, never computed with.
int __thiscall e2e_set_rel_position(CStoreObj* self, RealWords position, int flags) {
  EnterStore(kStoreObj_SetRelPosition, self, position, flags);
  if ((position.high & 0x7ff00000u) != 0x7ff00000u) {
    double value;
    memcpy(&value, &position, sizeof value);
    SetRecord(self, static_cast<int>(value * 1000));
  }
  return Leave(NextInt(kStoreObj_SetRelPosition, 1));
}

EngineControl* E2E_EngineControl() { return &g_control; }

int __stdcall DllMain(void*, unsigned long reason, void*) {
  if (reason == 1) ResetControl();
  return 1;
}

}  // extern "C"

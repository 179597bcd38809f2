#include "tests/support/standin_engine.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <type_traits>

#include "core/trace_log.h"
#include "facades/value_types.h"
#include "platform/host/host_platform.h"

namespace tolvan {
namespace testing {

namespace {

void const* const kEngineTableStorage[4] = {};

std::string Render(int value) { return std::to_string(value); }
std::string Render(long value) { return std::to_string(value); }
std::string Render(double value) {
  char text[64];
  snprintf(text, sizeof text, "%g", value);
  return text;
}
std::string Render(char const* text) { return text ? std::string("\"") + text + "\"" : "null"; }
std::string Render(unsigned char* text) { return Render(reinterpret_cast<char const*>(text)); }
std::string Render(void const* address) {
  char text[32];
  FormatPointer(address, text);
  return text;
}

std::string Join() { return ""; }
template <class A, class... Rest>
std::string Join(A first, Rest... rest) {
  std::string tail = Join(rest...);
  return Render(first) + (tail.empty() ? "" : "," + tail);
}

template <class R>
R ResultFor(OperationId op) {
  if constexpr (std::is_same<R, char const*>::value) {
    return Engine().textResult;
  } else if constexpr (std::is_pointer<R>::value) {
    return reinterpret_cast<R>(Engine().NextResult(op, 0));
  } else {
    return static_cast<R>(Engine().NextResult(op));
  }
}

// The ordinary entry: records the call, then answers with the scripted
// result. A member function's `this` arrives as the first argument.
template <OperationId op, class R, class... A>
R Generic(void* self, A... args) {
  Engine().Record(op, self, Join(args...));
  Engine().ThrowIfScripted(op);
  if (Engine().onCall) Engine().onCall(op, self);
  if constexpr (!std::is_void<R>::value) return ResultFor<R>(op);
}

template <OperationId op, class... A>
void Construct(void* self, A... args) {
  void const* firstWord;
  memcpy(&firstWord, self, sizeof firstWord);
  Engine().firstWordsAtConstruction.push_back(firstWord);
  Engine().Record(op, self, Join(args...));
  memcpy(self, &kEngineVirtualTable, sizeof kEngineVirtualTable);
}

template <OperationId op>
void Destroy(void* self) {
  void const* firstWord;
  memcpy(&firstWord, self, sizeof firstWord);
  Engine().firstWordsAtDestruction.push_back(firstWord);
  Engine().Record(op, self, "");
  Engine().ThrowIfScripted(op);
}

void SetShareMode(void* table, int mode) {
  memcpy(static_cast<char*>(table) + offsetof(TableLayout, shareMode), &mode, sizeof mode);
}

int OpenAccess(void* self, int mode, int safety) {
  int const result = Generic<kTable_OpenAccess, int>(self, mode, safety);
  if (result) SetShareMode(self, mode);
  return result;
}

int CloseAccess(void* self, int safety) {
  int const result = Generic<kTable_CloseAccess, int>(self, safety);
  if (result) SetShareMode(self, 0);
  return result;
}

void SetLocale(int locale, unsigned char* upper, unsigned char* lower) {
  Engine().Record(kDataDictionary_SetLocale, nullptr, Join(locale, upper, lower));
}

// The record address entries keep a value in the object's second word.
void RecAddrCopy(void* self, RecAddrObject const* source) {
  Construct<kRecAddr_Construct_Copy>(self, static_cast<void const*>(source));
  Engine().ThrowIfScripted(kRecAddr_Construct_Copy);
  static_cast<RecAddrObject*>(self)->value = source->value;
}

void RecAddrFromPointer(void* self, RecAddrObject const* source) {
  Construct<kRecAddr_Construct_FromPointer>(self, static_cast<void const*>(source));
  static_cast<RecAddrObject*>(self)->value = source ? source->value : 0;
}

// A by-value result of a member function: the result storage comes first on
// this ABI, then the object.
void* GetRecAddr(void* result, void* self) {
  Engine().Record(kStoreObj_GetRecAddr, self, "");
  Engine().ThrowIfScripted(kStoreObj_GetRecAddr);
  RecAddrObject* address = static_cast<RecAddrObject*>(result);
  address->virtualTable = kEngineVirtualTable;
  address->value = Engine().recAddrValue;
  return result;
}

double GetRelPosition(void* self) {
  Engine().Record(kStoreObj_GetRelPosition, self, "");
  return Engine().relativePosition;
}

template <class T>
void WriteBack(T* variable);
template <>
void WriteBack(char* v) { *v = Engine().exchange.c; }
template <>
void WriteBack(int* v) { *v = Engine().exchange.i; }
template <>
void WriteBack(long* v) { *v = Engine().exchange.l; }
template <>
void WriteBack(double* v) { *v = Engine().exchange.d; }
template <>
void WriteBack(long double* v) { *v = Engine().exchange.ld; }
template <>
void WriteBack(CDate* v) { memcpy(static_cast<void*>(v), &Engine().exchange.dayNumber, sizeof(int32_t)); }
template <>
void WriteBack(CString* v) { memcpy(static_cast<void*>(v), &Engine().exchange.text, sizeof(char const*)); }
template <>
void WriteBack(CNumeric* v) { static_cast<NumericObject*>(static_cast<void*>(v))->value = Engine().exchange.d; }

template <OperationId op, class Selector, class T>
void Exchange(void* self, Selector selector, T* variable, int direction) {
  Engine().Record(op, self, Join(selector, static_cast<void const*>(variable), direction));
  if (direction == 0) WriteBack(variable);
}

template <OperationId op, class Selector>
void ExchangeBuffer(void* self, Selector selector, char* buffer, long length, int direction) {
  Engine().Record(op, self, Join(selector, static_cast<void const*>(buffer), length, direction));
  if (direction == 0 && buffer && length > 0) {
    std::string const& text = Engine().bufferText;
    size_t const n = std::min(text.size(), static_cast<size_t>(length - 1));
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
}

template <class F>
void* Address(F* function) {
  return reinterpret_cast<void*>(function);
}

#define EXCHANGE_FAMILY(Name, Type)                                                          \
  {k##StoreObj_##Name##_ByNumber, Address(&Exchange<k##StoreObj_##Name##_ByNumber, int, Type>)}, \
  {k##StoreObj_##Name##_ByField, Address(&Exchange<k##StoreObj_##Name##_ByField, void*, Type>)}, \
  {k##StoreObj_##Name##_ByName, Address(&Exchange<k##StoreObj_##Name##_ByName, char const*, Type>)}

struct Entry {
  OperationId op;
  void* address;
};

// Every engine entry with the argument types of its declaration (enums as
// int, objects as untyped pointers: the same on this ABI).
Entry const kEntries[] = {
    {kDataDictionary_Construct, Address(&Construct<kDataDictionary_Construct, char const*, char const*, char const*, char const*>)},
    {kKeyObj_Construct, Address(&Construct<kKeyObj_Construct, void*, int, int>)},
    {kRecAddr_Construct_Copy, Address(&RecAddrCopy)},
    {kRecAddr_Construct_FromPointer, Address(&RecAddrFromPointer)},
    {kStoreObj_Construct, Address(&Construct<kStoreObj_Construct, void*, void*>)},
    {kDataDictionary_Destroy, Address(&Destroy<kDataDictionary_Destroy>)},
    {kKeyObj_Destroy, Address(&Destroy<kKeyObj_Destroy>)},
    {kRecAddr_Destroy, Address(&Destroy<kRecAddr_Destroy>)},
    {kStoreObj_Destroy, Address(&Destroy<kStoreObj_Destroy>)},
    {kRecAddr_Equals, Address(&Generic<kRecAddr_Equals, int, void*>)},
    {kTable_AddField, Address(&Generic<kTable_AddField, void*, char const*>)},
    {kTable_AddIndex, Address(&Generic<kTable_AddIndex, void*, char const*>)},
    {kDataDictionary_AddTable, Address(&Generic<kDataDictionary_AddTable, void*, char const*>)},
    {kTable_BeginReadSequence, Address(&Generic<kTable_BeginReadSequence, int>)},
    {kDataDictionary_BeginTransaction, Address(&Generic<kDataDictionary_BeginTransaction, int>)},
    {kTable_Clear, Address(&Generic<kTable_Clear, int>)},
    {kDataDictionary_Close, Address(&Generic<kDataDictionary_Close, void>)},
    {kTable_CloseAccess, Address(&CloseAccess)},
    {kStoreObj_Compare, Address(&Generic<kStoreObj_Compare, int, void*, int>)},
    {kStoreObj_Delete, Address(&Generic<kStoreObj_Delete, int>)},
    {kTable_DeleteField_ByNumber, Address(&Generic<kTable_DeleteField_ByNumber, int, int>)},
    {kTable_DeleteField_ByField, Address(&Generic<kTable_DeleteField_ByField, int, void*>)},
    {kTable_DeleteField_ByName, Address(&Generic<kTable_DeleteField_ByName, int, char const*>)},
    {kTable_DeleteIndex_ByNumber, Address(&Generic<kTable_DeleteIndex_ByNumber, int, int>)},
    {kTable_DeleteIndex_ByObject, Address(&Generic<kTable_DeleteIndex_ByObject, int, void*>)},
    {kTable_DeleteIndex_ByName, Address(&Generic<kTable_DeleteIndex_ByName, int, char const*>)},
    {kDataDictionary_DeleteTable_ByNumber, Address(&Generic<kDataDictionary_DeleteTable_ByNumber, int, int>)},
    {kDataDictionary_DeleteTable_ByObject, Address(&Generic<kDataDictionary_DeleteTable_ByObject, int, void*>)},
    {kDataDictionary_DeleteTable_ByName, Address(&Generic<kDataDictionary_DeleteTable_ByName, int, char const*>)},
    {kTable_EnableIndexing, Address(&Generic<kTable_EnableIndexing, int, int>)},
    {kTable_EndReadSequence, Address(&Generic<kTable_EndReadSequence, void>)},
    {kDataDictionary_EndTransaction, Address(&Generic<kDataDictionary_EndTransaction, int, int>)},
    EXCHANGE_FAMILY(FX_CNumeric, CNumeric),
    EXCHANGE_FAMILY(FX_Char, char),
    EXCHANGE_FAMILY(FX_Date, CDate),
    EXCHANGE_FAMILY(FX_Double, double),
    EXCHANGE_FAMILY(FX_Int, int),
    EXCHANGE_FAMILY(FX_Long, long),
    EXCHANGE_FAMILY(FX_LongDouble, long double),
    EXCHANGE_FAMILY(FX_String, CString),
    {kStoreObj_FX_StringBuffer_ByNumber, Address(&ExchangeBuffer<kStoreObj_FX_StringBuffer_ByNumber, int>)},
    {kStoreObj_FX_StringBuffer_ByField, Address(&ExchangeBuffer<kStoreObj_FX_StringBuffer_ByField, void*>)},
    {kStoreObj_FX_StringBuffer_ByName, Address(&ExchangeBuffer<kStoreObj_FX_StringBuffer_ByName, char const*>)},
    {kStoreObj_FieldExchange, Address(&Generic<kStoreObj_FieldExchange, void, int>)},
    {kDataBaseStaticObj_GetDescription, Address(&Generic<kDataBaseStaticObj_GetDescription, char const*>)},
    {kIndex_GetField, Address(&Generic<kIndex_GetField, void*, int>)},
    {kTable_GetField_ByNumber, Address(&Generic<kTable_GetField_ByNumber, void*, int>)},
    {kTable_GetField_ByName, Address(&Generic<kTable_GetField_ByName, void*, char const*>)},
    {kDataDictionary_GetFilePath, Address(&Generic<kDataDictionary_GetFilePath, char const*, int>)},
    {kTable_GetIndex_ByNumber, Address(&Generic<kTable_GetIndex_ByNumber, void*, int>)},
    {kTable_GetIndex_ByName, Address(&Generic<kTable_GetIndex_ByName, void*, char const*>)},
    {kRecAddr_GetLongVal, Address(&Generic<kRecAddr_GetLongVal, long>)},
    {kDataDictionary_GetObjType, Address(&Generic<kDataDictionary_GetObjType, int>)},
    {kIndex_GetObjType, Address(&Generic<kIndex_GetObjType, int>)},
    {kKeyObj_GetObjType, Address(&Generic<kKeyObj_GetObjType, int>)},
    {kRecAddr_GetObjType, Address(&Generic<kRecAddr_GetObjType, int>)},
    {kStoreObj_GetObjType, Address(&Generic<kStoreObj_GetObjType, int>)},
    {kTable_GetObjType, Address(&Generic<kTable_GetObjType, int>)},
    {kStoreObj_GetRecAddr, Address(&GetRecAddr)},
    {kStoreObj_GetRelPosition, Address(&GetRelPosition)},
    {kTable_GetTLockMode, Address(&Generic<kTable_GetTLockMode, int>)},
    {kDataDictionary_GetTable_ByNumber, Address(&Generic<kDataDictionary_GetTable_ByNumber, void*, int>)},
    {kDataDictionary_GetTable_ByName, Address(&Generic<kDataDictionary_GetTable_ByName, void*, char const*>)},
    {kStoreObj_Goto_ByRecAddr, Address(&Generic<kStoreObj_Goto_ByRecAddr, int, void*, int>)},
    {kStoreObj_Goto_ByKey, Address(&Generic<kStoreObj_Goto_ByKey, int, void*, int, int>)},
    {kStoreObj_Goto_ByNavigation, Address(&Generic<kStoreObj_Goto_ByNavigation, int, int, int>)},
    {kTable_IsBufDirty, Address(&Generic<kTable_IsBufDirty, int>)},
    {kTable_IsOpen, Address(&Generic<kTable_IsOpen, int>)},
    {kTable_IsRecLocked, Address(&Generic<kTable_IsRecLocked, int, void*>)},
    {kStoreObj_Locking, Address(&Generic<kStoreObj_Locking, int, int>)},
    {kStoreObj_New, Address(&Generic<kStoreObj_New, int>)},
    {kDataDictionary_Open, Address(&Generic<kDataDictionary_Open, int, char const*>)},
    {kTable_OpenAccess, Address(&OpenAccess)},
    {kDataDictionary_OpenEmpty, Address(&Generic<kDataDictionary_OpenEmpty, int>)},
    {kTable_Pack, Address(&Generic<kTable_Pack, int>)},
    {kTable_PutTLock, Address(&Generic<kTable_PutTLock, int, int>)},
    {kTable_ReIndex, Address(&Generic<kTable_ReIndex, int>)},
    {kStoreObj_ReRead, Address(&Generic<kStoreObj_ReRead, int>)},
    {kDataDictionary_SetAdmFilePath, Address(&Generic<kDataDictionary_SetAdmFilePath, int, char const*>)},
    {kKeyObj_SetKeyLength, Address(&Generic<kKeyObj_SetKeyLength, void, int, int>)},
    {kDataDictionary_SetLocale, Address(&SetLocale)},
    {kRecAddr_SetLongVal, Address(&Generic<kRecAddr_SetLongVal, void, long>)},
    {kStoreObj_SetOrderIndex, Address(&Generic<kStoreObj_SetOrderIndex, void, void*>)},
    {kStoreObj_SetRelPosition, Address(&Generic<kStoreObj_SetRelPosition, int, double, int>)},
    {kStoreObj_SetSourceTable, Address(&Generic<kStoreObj_SetSourceTable, int, void*>)},
    {kDataDictionary_SetSysFilePath, Address(&Generic<kDataDictionary_SetSysFilePath, int, char const*>)},
    {kDataDictionary_SetUserFilePath, Address(&Generic<kDataDictionary_SetUserFilePath, int, char const*>)},
    {kStoreObj_Update, Address(&Generic<kStoreObj_Update, int>)},
};
static_assert(sizeof kEntries / sizeof kEntries[0] == kOperationCount, "one stand-in per operation");

host::LibraryExport g_exports[kOperationCount];

int g_getDoubleCalls = 0;
int g_dateCalls = 0;
std::string g_dateRendering;

}  // namespace

void const* const kEngineVirtualTable = kEngineTableStorage;

StandInEngine& Engine() {
  static StandInEngine engine;
  return engine;
}

void StandInEngine::Install() {
  for (size_t i = 0; i < kOperationCount; ++i) {
    g_exports[i] = {DecoratedName(kEntries[i].op), kEntries[i].address};
  }
  host::SetEngineLibrary(g_exports, kOperationCount);
}

void StandInEngine::Reset() { *this = StandInEngine(); }

void StandInEngine::Record(OperationId op, void const* object, std::string const& arguments) {
  std::string name = SignatureText(op);
  name = name.substr(0, name.find('('));
  calls.push_back({op, object, name + "(" + arguments + ")"});
}

std::vector<std::string> StandInEngine::CallTexts() const {
  std::vector<std::string> texts;
  for (EngineCall const& call : calls) texts.push_back(call.text);
  return texts;
}

int StandInEngine::CallCount(OperationId op) const {
  int count = 0;
  for (EngineCall const& call : calls) count += call.op == op;
  return count;
}

intptr_t StandInEngine::NextResult(OperationId op, intptr_t fallback) {
  auto queued = queued_.find(op);
  if (queued != queued_.end() && !queued->second.empty()) {
    intptr_t const value = queued->second.front();
    queued->second.pop_front();
    return value;
  }
  auto standing = standing_.find(op);
  return standing != standing_.end() ? standing->second : fallback;
}

void StandInEngine::ThrowIfScripted(OperationId op) {
  if (op != throwOn) return;
  throwOn = kOperationCount;
  throw static_cast<int>(op);
}

int GetDoubleCalls() { return g_getDoubleCalls; }
int DateToStringCalls() { return g_dateCalls; }
void ResetValueTypes() {
  g_getDoubleCalls = 0;
  g_dateCalls = 0;
  g_dateRendering.clear();
}
void SetDateRendering(std::string const& text) { g_dateRendering = text; }

}  // namespace testing
}  // namespace tolvan

using namespace tolvan::testing;

long double CNumeric::GetDouble() const {
  ++g_getDoubleCalls;
  return reinterpret_cast<NumericObject const*>(this)->value;
}

extern "C" void JDateToString(char* buffer, long dayNumber) {
  ++g_dateCalls;
  std::string const text = g_dateRendering.empty() ? "D" + std::to_string(dayNumber) : g_dateRendering;
  memcpy(buffer, text.c_str(), text.size() + 1);
}

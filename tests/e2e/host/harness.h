// The test host's tools: checks that report by scenario, the engine's journal
// and the two trace logs compared with expected text, recorders that replace
// a few of the module's imports, and engine-sized storage for host objects.
#ifndef TOLVAN_TESTS_E2E_HOST_HARNESS_H
#define TOLVAN_TESTS_E2E_HOST_HARNESS_H

#include "facades/engine_interface.h"
#include "facades/value_types.h"
#include "tests/e2e/common/engine_control.h"

namespace e2e {

using namespace tolvan;  // the operation identifiers

// --- Checks ---------------------------------------------------------------------
// Each check counts; a failing one prints what differed. Returns the outcome.
bool Expect(bool condition, char const* format, ...);
bool ExpectText(char const* what, char const* actual, size_t actualSize, char const* expected,
                size_t expectedSize);
inline bool ExpectText(char const* what, Text const& actual, Text const& expected) {
  return ExpectText(what, actual.c_str(), actual.size(), expected.c_str(), expected.size());
}
int ChecksPassed();
int ChecksFailed();

// --- The engine and the value-types library ----------------------------------------
EngineControl& Engine();  // loads Tolvan33.dll on first use
ValueTypeCounters& ValueTypes();
void QueueResult(OperationId op, intptr_t result);
void QueuePointer(OperationId op, void const* result);
// The engine throws from the next call of `op`, after `passing` calls of it.
void ThrowOnNextCall(OperationId op, int passing = 0);
// The virtual table the engine found in an object's first word when the
// constructor or destructor entry `op` ran on it (null if it never ran).
void const* FirstWordSeen(OperationId op, void const* object);

// Expected journal lines, written as the engine writes them.
class Calls {
 public:
  template <class... A>
  Calls& Call(OperationId op, void const* object, A... args) {
    text.Append(kOperationNames[op]);
    JournalItem(text, object);
    JournalItems(text, args...);
    return *this;
  }
  template <class R>
  Calls& Returns(R result) {
    text.Append(" ->");
    JournalItem(text, result);
    text.Append("\n");
    return *this;
  }
  Calls& Done() {
    text.Append("\n");
    return *this;
  }
  Calls& Throws() {
    text.Append(" !throw\n");
    return *this;
  }
  Text text;
};

// Compares the calls the engine received since the last comparison.
void ExpectCalls(char const* what, Calls const& expected);
void ForgetCalls();
// Prints the operations the engine has seen in this process.
void PrintCoveredOperations();

// --- Trace logs -------------------------------------------------------------------------
// The readable signature text of an operation (signatures.cpp).
char const* Signature(OperationId op);

// A floating value as the trace must spell it.
struct Real {
  char const* text;
};

// The expected text of both logs: every item is a space and its text, a
// pointer is "........" in the masked log and eight hexadecimal digits in the
// plain log, the line end is " \r\n".
class Trace {
 public:
  Trace& Item(char const* text);
  Trace& Pointer(void const* address);
  Trace& Int(long value);
  Trace& End();
  Trace& Raw(char const* masked, char const* plain);

  // A call record: object, signature text, argument items, line end.
  template <class... A>
  Trace& Call(void const* object, OperationId op, A... args) {
    Pointer(object).Item(Signature(op));
    Arguments(args...);
    return End();
  }
  // The opening of a result record: the 14-space item.
  Trace& Result() { return Item("              "); }
  Trace& ResultInt(long value) { return Result().Int(value).End(); }
  Trace& ResultPointer(void const* address) { return Result().Pointer(address).End(); }
  Trace& ResultText(char const* text) { return Result().Item(text).End(); }
  Trace& TableState(int word) { return Item("(").Int(word).Item(")"); }
  Trace& TableResult(long value, int word) { return Result().Int(value).TableState(word).End(); }
  Trace& TablePointerResult(void const* address, int word) {
    return Result().Pointer(address).TableState(word).End();
  }
  Trace& FirstWord(int first) { return Item("(").Int(first).Item(")"); }
  Trace& ThreeWords(int first, int second, int third) {
    return Item("(").Int(first).Item(":").Int(second).Item(":").Int(third).Item(")");
  }
  Trace& StoreResult(long value, int first) { return Result().Int(value).FirstWord(first).End(); }
  Trace& StoreResult(long value, int first, int second, int third) {
    return Result().Int(value).ThreeWords(first, second, third).End();
  }

  Text masked;
  Text plain;

 private:
  void Arguments() {}
  template <class A, class... Rest>
  void Arguments(A first, Rest... rest) {
    Argument(first);
    Arguments(rest...);
  }
  void Argument(int value) { Int(value); }
  void Argument(long value) { Int(value); }
  void Argument(char const* text) { Item(text); }
  void Argument(unsigned char* text) { Item(reinterpret_cast<char const*>(text)); }
  void Argument(Real value) { Item(value.text); }
  template <class T>
  void Argument(T* object) {
    Pointer(object);
  }
};

// A file's bytes as they are on disk; false when it cannot be opened.
bool ReadWholeFile(char const* path, Text& content);
// Compares what both logs gained since the last comparison.
void ExpectTrace(char const* what, Trace const& expected);
// Passes over what the logs gained, unchecked.
void SkipTrace();
void ExpectNoLogFiles(char const* what);
size_t MaskedLogSize();

// --- The module's imports, replaced by recorders ------------------------------------
// Message boxes (the test machine has no display), their owner window and
// the runtime's operator delete are replaced in the import table of
// Tolvan32.dll, or of another loaded copy of the module.
struct MessageBoxSeen {
  char text[256];
  char caption[64];
  void* owner;
  unsigned style;
  size_t maskedLogSize;  // how far the masked log was written when it showed
};
void RecordModuleImports(char const* moduleFile = "Tolvan32.dll");
int MessageBoxCount();
MessageBoxSeen const& MessageBoxAt(int index);
// Runs `action` once, while the next message box is shown, as the box's own
// message loop would run the host's code.
void WhileNextMessageBoxShown(void (*action)());
// From now on boxes are only counted, from any thread: those whose text is
// texts[i] in tallies[i], any other in tallies[count] (its text in
// MessageBoxAt(0)). No more than four texts.
void TallyMessageBoxes(char const* const* texts, int count);
long MessageBoxTally(int index);
void* ActiveWindowGiven();
int DeletedCount(void const* block);
// Whether an address lies inside Tolvan32.dll's image.
bool InsideModule(void const* address);

// --- Host objects ------------------------------------------------------------------------
// Engine-sized storage for an object the host constructs through the module.
template <size_t Size>
struct Storage {
  alignas(8) unsigned char bytes[Size];
  void* get() { return bytes; }
};

// The protected FieldExchange, called the way a derived class of the host
// calls it: directly, not through a virtual table.
struct StoreAccess : CStoreObj {
  void CallFieldExchange(int direction) { CStoreObj::FieldExchange(direction); }
};
inline void CallFieldExchange(CStoreObj* store, int direction) {
  static_cast<StoreAccess*>(store)->CallFieldExchange(direction);
}

// A CNumeric of the stand-in value-types library holds a double.
struct NumericValue {
  double value;
  CNumeric& get() { return *reinterpret_cast<CNumeric*>(this); }
};
struct DateValue {
  int32_t day;
  CDate& get() { return *reinterpret_cast<CDate*>(this); }
};
struct StringValue {
  char const* text;
  CString& get() { return *reinterpret_cast<CString*>(this); }
};

// --- Threads ------------------------------------------------------------------------------
typedef unsigned long(__stdcall* ThreadStart)(void*);
// Starts one thread per argument, all running `start`, and waits until every
// one has ended.
void RunOnThreads(ThreadStart start, void* const* arguments, int count);
inline void RunOnThread(ThreadStart start, void* argument) { RunOnThreads(start, &argument, 1); }

// Reads an environment variable of this process ("" when absent).
void EnvironmentValue(char const* name, char* buffer, unsigned long size);

}  // namespace e2e

#endif

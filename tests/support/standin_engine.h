// An in-process engine for the host tests: every entry records its call and
// answers with a scripted result, and the engine objects are plain storage
// laid out as the module expects.
#ifndef TOLVAN_TESTS_SUPPORT_STANDIN_ENGINE_H
#define TOLVAN_TESTS_SUPPORT_STANDIN_ENGINE_H

#include <stdint.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/engine_layout.h"
#include "core/operations.h"
#include "facades/engine_interface.h"

namespace tolvan {
namespace testing {

// The virtual table the stand-in engine's constructors store.
extern void const* const kEngineVirtualTable;

struct EngineCall {
  OperationId op;
  void const* object;
  std::string text;  // "CTable::OpenAccess(2,1)"
};

struct RecAddrObject {  // what the engine builds for a record address
  void const* virtualTable;
  long value;
};

struct EngineObjects {
  // Engine objects of each kind, laid out as the module reads them.
  TableLayout table{};
  DictionaryLayout dictionary{};
  StoreLayout store{};
};

// Values the engine leaves in the host's variable on a zero direction.
struct ExchangeValues {
  char c = 'x';
  int i = 42;
  long l = -7;
  double d = 2.5;
  long double ld = 0.125L;
  int32_t dayNumber = 1;
  char const* text = "engine text";
};

class StandInEngine {
 public:
  // Installs the engine as the library "Tolvan33.dll" of the host platform.
  void Install();
  void Reset();

  void Record(OperationId op, void const* object, std::string const& arguments);
  std::vector<std::string> CallTexts() const;
  int CallCount(OperationId op) const;

  // Integer and pointer results, as raw words; a queued result is used once
  // before the standing one. Unscripted, integers are 1 and pointers null.
  void SetResult(OperationId op, intptr_t value) { standing_[op] = value; }
  void QueueResult(OperationId op, intptr_t value) { queued_[op].push_back(value); }
  intptr_t NextResult(OperationId op, intptr_t fallback = 1);
  char const* textResult = "engine text";  // results of type char const *
  double relativePosition = 0.75;
  long recAddrValue = 4711;

  // An entry that throws (an int) the next time it is called.
  OperationId throwOn = kOperationCount;
  void ThrowIfScripted(OperationId op);

  // Runs inside each ordinary entry after the call is recorded, so that a
  // test can change the engine's objects the way the engine would.
  std::function<void(OperationId, void*)> onCall;

  ExchangeValues exchange;
  std::string bufferText = "buffer text";

  std::vector<void const*> firstWordsAtConstruction;
  std::vector<void const*> firstWordsAtDestruction;

  std::vector<EngineCall> calls;

 private:
  std::map<int, intptr_t> standing_;
  std::map<int, std::deque<intptr_t>> queued_;
};

StandInEngine& Engine();

// The value-types library of the host build.
struct NumericObject {
  double value;
};
int GetDoubleCalls();
int DateToStringCalls();
void ResetValueTypes();
// What JDateToString writes (default: "D" and the day number).
void SetDateRendering(std::string const& text);

}  // namespace testing
}  // namespace tolvan

#endif

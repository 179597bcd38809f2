// What the stand-in engine and the stand-in value-types library share with
// the test host: the engine's journal of received calls, its scripted
// behaviour, and the value-types library's call counters. The host reaches
// them through one exported C function of each library.
#ifndef TOLVAN_TESTS_E2E_COMMON_ENGINE_CONTROL_H
#define TOLVAN_TESTS_E2E_COMMON_ENGINE_CONTROL_H

#include "core/operations.h"
#include "tests/e2e/common/runtime.h"

namespace e2e {

using tolvan::OperationId;
using tolvan::kOperationCount;

// Engine object sizes: the host allocates this much for each object it
// constructs, as the real host allocates the engine's sizes.
enum {
  kDictionaryObjectSize = 96,
  kStoreObjectSize = 48,
  kKeyObjectSize = 24,
  kRecAddrObjectSize = 8,
  kStaticObjectSize = 16,
};

// Object types the engine's GetObjType answers.
enum {
  kDictionaryType = 11,
  kTableType = 12,
  kStoreType = 13,
  kKeyType = 14,
  kRecAddrType = 15,
  kIndexType = 16,
};

// Values the engine writes into the host's variable on every field exchange,
// whatever the direction, so that the trace shows whether it read the
// variable before or after the engine call.
struct ExchangeValues {
  char c;
  int i;
  long l;
  double d;
  long double ld;
  double numeric;  // stored into the CNumeric, whose GetDouble returns it
  int32_t day;
  char const* text;
  char buffer[16];
};

// The first word of an object as an exported constructor or destructor of
// the engine found it: the module's virtual table, stored before the call.
struct FirstWordSeen {
  int operation;
  void const* object;
  void const* word;
};

enum { kJournalCapacity = 1 << 16, kQueueDepth = 8, kFirstWordCapacity = 64 };

struct EngineControl {
  // One line per entry call: "<operation> <object> <arguments> -> <result>".
  char journal[kJournalCapacity];
  int journalLength;
  int calls[kOperationCount];

  // Results used once each, before the engine's own answer.
  intptr_t queued[kOperationCount][kQueueDepth];
  int queuedCount[kOperationCount];

  // The next call of this operation throws EngineFailure (-1: none), after
  // letting `throwSkip` calls of it pass.
  int throwOn;
  int throwSkip;

  int sequenceSwitch;      // given to each dictionary the engine constructs
  double relativePosition;  // GetRelPosition
  char const* description;  // GetDescription
  int fieldFirstWord;      // the two words of fields looked up by name
  int fieldSecondWord;
  ExchangeValues exchange;

  FirstWordSeen firstWords[kFirstWordCapacity];
  int firstWordCount;

  // Where GetRecAddr last built its result: the caller's storage.
  void const* builtRecAddr;

  // Calls from several threads at once: nothing is journaled (the counts in
  // `calls` still are), and what the engine must never see is counted.
  int journalOff;
  int rebuiltUnlessExclusive;  // Pack, ReIndex or Clear on a table not held exclusively
};

// What a scripted entry throws.
struct EngineFailure {
  int operation;
};

struct ValueTypeCounters {
  int getDouble;
  int dateToString;
};

typedef EngineControl* (*EngineControlEntry)();
char const kEngineControlEntry[] = "E2E_EngineControl";

// The operation identifiers by name, for the journal.
static char const* const kOperationNames[kOperationCount] = {
#define TOLVAN_OPERATION(id, decorated, signature) #id,
#include "core/operations.inc"
#undef TOLVAN_OPERATION
};

// ---------------------------------------------------------------------------
// A growing text, the one container of these programs.
class Text {
 public:
  Text() = default;
  Text(Text const&) = delete;
  Text& operator=(Text const&) = delete;
  ~Text() { free(data_); }

  char const* c_str() const { return data_ ? data_ : ""; }
  size_t size() const { return size_; }
  void Clear() {
    size_ = 0;
    if (data_) data_[0] = '\0';
  }

  Text& Append(char const* bytes, size_t count) {
    if (size_ + count + 1 > capacity_) {
      size_t capacity = capacity_ ? capacity_ : 256;
      while (size_ + count + 1 > capacity) capacity *= 2;
      data_ = static_cast<char*>(realloc(data_, capacity));
      capacity_ = capacity;
    }
    memcpy(data_ + size_, bytes, count);
    size_ += count;
    data_[size_] = '\0';
    return *this;
  }
  Text& Append(char const* text) { return Append(text, strlen(text)); }
  Text& Format(char const* format, ...) {
    char piece[512];
    va_list arguments;
    va_start(arguments, format);
    int const length = _vsnprintf(piece, sizeof piece - 1, format, arguments);
    va_end(arguments);
    piece[sizeof piece - 1] = '\0';
    return Append(piece, length < 0 ? strlen(piece) : static_cast<size_t>(length));
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// ---------------------------------------------------------------------------
// How the journal writes what an entry received: integers in decimal,
// addresses as eight hexadecimal digits, texts in quotes, floating values as
// their bits (so that "unchanged" means unchanged).
inline void JournalItem(Text& line, int value) { line.Format(" %d", value); }
inline void JournalItem(Text& line, long value) { line.Format(" %ld", value); }
inline void JournalItem(Text& line, char const* text) {
  if (text) {
    line.Format(" \"%s\"", text);
  } else {
    line.Append(" null");
  }
}
inline void JournalItem(Text& line, unsigned char* text) { JournalItem(line, reinterpret_cast<char const*>(text)); }
// A double as the eight bytes on the stack, for the engine entry and the
// host that must pass it on without loading it onto the x87.
struct RealWords {
  uint32_t low, high;
};
inline void JournalItem(Text& line, RealWords value) { line.Format(" #%08x%08x", value.high, value.low); }
inline void JournalItem(Text& line, double value) {
  RealWords words;
  memcpy(&words, &value, sizeof words);
  JournalItem(line, words);
}
inline void JournalItem(Text& line, long double value) { JournalItem(line, static_cast<double>(value)); }
template <class T>
void JournalItem(Text& line, T* object) {
  line.Format(" %08x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(object)));
}
template <class T>
void JournalItem(Text& line, T value) {
  static_assert(__is_enum(T), "no journal item for this type");
  JournalItem(line, static_cast<int>(value));
}

inline void JournalItems(Text&) {}
template <class A, class... Rest>
void JournalItems(Text& line, A first, Rest... rest) {
  JournalItem(line, first);
  JournalItems(line, rest...);
}

}  // namespace e2e

#endif

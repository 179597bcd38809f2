// The one pattern every facade operation follows:
//   resolve the engine entry, call record, engine call, policy, result record,
//   return the engine's result.
// Facades name their operation, the result type and the state items of their
// family; everything else is derived from the arguments they pass on. An
// operation that only passes the call on skips the pattern when it has nothing
// to trace and its entry is known (Forward, below).
//
// Reference parameters are passed on as pointers: on every supported ABI a
// reference is passed exactly as a pointer, and a pointer is what the trace
// writes for it.
#ifndef TOLVAN_FACADES_FORWARDING_H
#define TOLVAN_FACADES_FORWARDING_H

#include "core/engine_binding.h"
#include "core/engine_layout.h"
#include "core/module_state.h"
#include "core/trace_log.h"
#include "core/trace_time.h"
#include "facades/engine_interface.h"
#include "facades/module_tables.h"
#include "platform/crt.h"
#include "platform/entry_call.h"

namespace tolvan {

// ---------------------------------------------------------------------------
// Trace items of arguments and results, chosen by declared type. A record
// gathers its items as values and hands them to the records' shared code, so
// that the operations' many signatures share one body per record kind.
struct TraceArg {
  enum Kind { kInt, kReal, kText, kPointer } kind;
  union {
    int integer;
    // A double as its bits: copied, it never touches the x87. Two words,
    // so that an item needs no 8-byte alignment on the 32-bit stack.
    unsigned int real[2];
    char const* text;
    void const* pointer;
  };
};

inline TraceArg ArgOf(int value) {
  TraceArg arg;
  arg.kind = TraceArg::kInt;
  arg.integer = value;
  return arg;
}
inline TraceArg ArgOf(long value) { return ArgOf(static_cast<int>(value)); }
inline TraceArg ArgOf(RealBits bits) {
  TraceArg arg;
  arg.kind = TraceArg::kReal;
  static_assert(sizeof arg.real == sizeof bits, "a double's bits");
  memcpy(arg.real, &bits, sizeof bits);
  return arg;
}
inline TraceArg ArgOf(double value) {
  RealBits bits;
  memcpy(&bits, &value, sizeof bits);
  return ArgOf(bits);
}
inline TraceArg ArgOf(char const* text) {
  TraceArg arg;
  arg.kind = TraceArg::kText;
  arg.text = text;
  return arg;
}
inline TraceArg ArgOf(unsigned char* text) { return ArgOf(reinterpret_cast<char const*>(text)); }
// Engine objects, and the objects behind reference parameters.
template <class T>
TraceArg ArgOf(T* object) {
  TraceArg arg;
  arg.kind = TraceArg::kPointer;
  arg.pointer = object;
  return arg;
}
// Enumerations are written as integers.
template <class T>
TraceArg ArgOf(T value) {
  static_assert(__is_enum(T), "no trace item for this type");
  return ArgOf(static_cast<int>(value));
}

void TraceArgItem(TraceArg const& arg);
template <class T>
void TraceValue(T value) {
  TraceArgItem(ArgOf(value));
}

// The 14-space item that opens every result record.
extern char const kResultIndent[];

// Call record: object, signature text, one item per argument, line end.
// Returns CallClock read once the line is written, as the engine is called.
long long WriteCallRecord(OperationId op, void const* object, TraceArg const* args, int count);
template <class... A>
long long TraceCallRecord(OperationId op, void const* object, A... args) {
  if (!g_module.tracing) return 0;
  // One item more, so that no array is empty.
  TraceArg const items[] = {ArgOf(args)..., ArgOf(0)};
  return WriteCallRecord(op, object, items, static_cast<int>(sizeof...(A)));
}

// ---------------------------------------------------------------------------
// State items written after the result item, by family.
struct NoState {
  static void Trace(void const*) {}
};
struct TableState {  // "(" trace word ")"
  static void Trace(void const* object);
};
struct StoreFirstWord {  // "(" first ")"
  static void Trace(void const* object);
};
struct StoreThreeWords {  // "(" first ":" second ":" third ")"
  static void Trace(void const* object);
};

// Result record: with time the call's duration (CallClock read first thing,
// against `begun`, its reading as the engine was called), indent, result
// item, the state items of the family.
void WriteResultRecord(TraceArg result, void (*state)(void const* object), void const* object, long long begun);
template <class State, class R>
void TraceResultRecord(R result, void const* object, long long begun) {
  if (!g_module.tracing) return;
  WriteResultRecord(ArgOf(result), &State::Trace, object, begun);
}

// ---------------------------------------------------------------------------
// The policy hook runs around the engine call: it receives the call as a
// function object and returns the result the host is to receive.
struct PassThrough {
  template <class EngineCall>
  auto operator()(EngineCall engineCall) const {
    return engineCall();
  }
};

// An operation whose entry cannot be resolved has been reported by the
// binding; it is not performed, writes no result record, and returns the
// zero of its result type, so the host's call returns a defined value.
// The tracing flag does not change after attach, so one test of it decides
// both records; untraced, the engine call is the last thing done.
// Inlined into each caller, which is itself shared where operations are
// alike (ForwardPassingOn, the exclusive escalation).
template <class R, class State, class Self, class Policy, class... A>
TOLVAN_ALWAYS_INLINE R ForwardWith(OperationId op, Self const* self, Policy policy, A... args) {
  void* const address = EngineEntry(op);
  Self* const object = const_cast<Self*>(self);
  auto engineCall = [&]() -> R { return CallEntry<R>(address, object, args...); };
  if (!g_module.tracing) return address ? policy(engineCall) : R();
  long long const begun = TraceCallRecord(op, self, args...);
  if (!address) return R();
  // The host's call, with whatever calls the policy makes: the whole time
  // from the host's call to its return.
  R result{};
  WatchEngineCall([&] { result = policy(engineCall); });
  TraceResultRecord<State>(result, self, begun);
  return result;
}

// Operations without a result: call record only.
template <class Self, class... A>
void ForwardVoid(OperationId op, Self const* self, A... args) {
  void* const address = EngineEntry(op);
  TraceCallRecord(op, self, args...);
  if (address) WatchEngineCall([&] { CallEntry<void>(address, self, args...); });
}

// ---------------------------------------------------------------------------
// The operations that only pass the call on.
//
// With tracing off and its entry known, such an operation has nothing to add
// to the host's call: the facade finds the engine entry in the untraced
// entries, which are filled only while tracing is off, and leaves for it by a
// jump, with the object register and the stack as the host left them; the
// engine returns straight to the host. An empty untraced entry (tracing on,
// or the entry not looked up yet or missing) gives the operation's full path
// instead, reached by the same jump. One jump for both keeps the facade
// without a frame: clang makes a jump of only one of two calls that pass on
// the host's stack arguments, and the frame of the other then lands on the
// fast path as well. The full path is marked unlikely so that the way to the
// entry is laid out straight, rather than as a conditional move that computes
// the full path's address on every call.
//
// Except with a double argument: used past a branch, it is loaded onto the
// x87 stack on the way in, which sets the invalid-operation flag and quiets a
// signalling NaN even where the load is dead. A conditional move keeps the
// jump in the facade's first block, and the double is never loaded.
template <class T>
struct IsReal {
  enum { value = 0 };
};
template <>
struct IsReal<double> {
  enum { value = 1 };
};

template <OperationId op, class FullPath, class R, class Self, class... A>
TOLVAN_ALWAYS_INLINE R EntryOrFullPath(Self const* self, A... args) {
  void* target = g_module.untracedEntries[op];
  if ((IsReal<A>::value || ... || false)) {
    target = target ? target : CodeAddress(&FullPath::Run);
  } else if (TOLVAN_UNLIKELY(!target)) {
    target = CodeAddress(&FullPath::Run);
  }
  return CallEntry<R>(target, self, args...);
}

// A full path is a member of a class derived from the facade's class, so that
// it is called exactly as the engine entry is (on the product: __thiscall,
// the same stack arguments, the same bytes popped). It hands the facade's
// class on, so that operations of one signature share one forwarder. Its
// arguments travel as Passed says, so a double reaches the engine unchanged.
//
// The operation is an argument of the shared part, not of its type, so that
// operations of one signature share one body.
template <class R, class State, class Self, class... A>
TOLVAN_NEVER_INLINE R ForwardPassingOn(OperationId op, Self const* self, A... args) {
  return ForwardWith<R, State>(op, self, PassThrough(), args...);
}

template <OperationId op, class R, class State, class Self, class... A>
struct FullForward : Self {
  R Run(typename Passed<A>::Type... args) const {
    return ForwardPassingOn<R, State>(op, static_cast<Self const*>(this), args...);
  }
};

template <OperationId op, class State, class Self, class... A>
struct FullForward<op, void, State, Self, A...> : Self {
  void Run(typename Passed<A>::Type... args) const { ForwardVoid(op, static_cast<Self const*>(this), args...); }
};

// A pass-through operation: Forward<kTable_IsOpen, int, TableState>(this).
template <OperationId op, class R, class State = NoState, class Self, class... A>
TOLVAN_ALWAYS_INLINE R Forward(Self const* self, A... args) {
  return EntryOrFullPath<op, FullForward<op, R, State, Self, A...>, R>(self, args...);
}

// Constructors: the module's table goes into the object's first word before
// anything else; the engine's constructor then replaces it with its own. The
// result record is the constructed object.
template <class Self, class... A>
void ForwardConstructor(OperationId op, Self* self, A... args) {
  StoreModuleTable(self);
  void* const address = EngineEntry(op);
  long long const begun = TraceCallRecord(op, self, args...);
  if (!address) return;
  WatchEngineCall([&] { CallEntry<void>(address, self, args...); });
  TraceResultRecord<NoState>(static_cast<void const*>(self), self, begun);
}

// Destructors: the module's table goes back into the first word before
// anything else; `beforeEngine` is the family's own step, taken after the
// call record whether or not the engine can be called. No result record.
template <class Self, class BeforeEngine>
void ForwardDestructor(OperationId op, Self* self, BeforeEngine beforeEngine) {
  StoreModuleTable(self);
  void* const address = EngineEntry(op);
  TraceCallRecord(op, self);
  beforeEngine();
  if (address) WatchEngineCall([&] { CallEntry<void>(address, self); });
}

template <class Self>
void ForwardDestructor(OperationId op, Self* self) {
  ForwardDestructor(op, self, [] {});
}

}  // namespace tolvan

#endif

#include "core/flight_recorder.h"
#include "facades/forwarding.h"

namespace tolvan {

char const kResultIndent[] = "              ";
static_assert(sizeof kResultIndent == 15, "the result indent is 14 spaces");

void TraceArgItem(TraceArg const& arg) {
  switch (arg.kind) {
    case TraceArg::kInt:
      TraceInt(arg.integer);
      break;
    case TraceArg::kReal: {
      double value;
      memcpy(&value, arg.real, sizeof value);
      TraceReal(value);
      break;
    }
    case TraceArg::kText:
      TraceText(arg.text);
      break;
    case TraceArg::kPointer:
      TracePointer(arg.pointer);
      break;
  }
}

long long WriteCallRecord(OperationId op, void const* object, TraceArg const* args, int count) {
  TraceLine([&] {
    TracePointer(object);
    TraceText(SignatureText(op));
    for (int i = 0; i < count; ++i) TraceArgItem(args[i]);
    TraceLineEnd();
  });
  if (g_module.recorder) CheckSnapshotRequest();
  return CallClock();
}

void WriteResultRecord(TraceArg result, void (*state)(void const* object), void const* object, long long begun) {
  long long const took = CallClock() - begun;
  TraceLine([&] {
    TraceDuration(took);
    TraceText(kResultIndent);
    TraceArgItem(result);
    state(object);
    TraceLineEnd();
  });
  if (IsSlowCall(took)) TriggerRecorder(kTriggerSlow);
}

void TableState::Trace(void const* object) {
  TraceText("(");
  TraceInt(TableTraceWord(static_cast<CTable const*>(object)));
  TraceText(")");
}

void StoreFirstWord::Trace(void const* object) {
  TraceText("(");
  TraceInt(StoreFirstTraceWord(static_cast<CStoreObj const*>(object)));
  TraceText(")");
}

void StoreThreeWords::Trace(void const* object) {
  CStoreObj const* store = static_cast<CStoreObj const*>(object);
  TraceText("(");
  TraceInt(StoreFirstTraceWord(store));
  TraceText(":");
  TraceInt(StoreSecondTraceWord(store));
  TraceText(":");
  TraceInt(StoreThirdTraceWord(store));
  TraceText(")");
}

}  // namespace tolvan

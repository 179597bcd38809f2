#include "facades/forwarding.h"

namespace tolvan {

char const kResultIndent[] = "              ";
static_assert(sizeof kResultIndent == 15, "the result indent is 14 spaces");

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

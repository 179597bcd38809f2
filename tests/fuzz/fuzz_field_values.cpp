// The values of field exchange as the trace shows them: character buffers of
// any bytes (with or without a zero byte inside their length), and day
// numbers with any text the value-types library may render for them.
#include <string>
#include <vector>

#include "core/module_state.h"
#include "facades/engine_interface.h"
#include "facades/field_exchange.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/standin_engine.h"

using tolvan::fuzz::ItemBytes;
using tolvan::fuzz::ReadLog;

namespace {

std::string Decimal(long value) { return std::to_string(static_cast<int>(value)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  tolvan::fuzz::LogDirectory();
  tolvan::fuzz::Input input(data, size);
  uint8_t const switches = input.Byte();
  int32_t const dayNumber = (switches & 1) ? input.Byte() % 3 : input.Value<int32_t>();
  int8_t const lengthChoice = static_cast<int8_t>(input.Byte());
  std::string const bytes = input.Rest();

  // The date text: 0 is empty, 1 is the module's own, any other is the
  // library's text cut to 15 characters. The library is given far more room
  // than a date needs; the stand-in writes its text with a zero after it.
  std::string const rendering = bytes.substr(0, 255);
  tolvan::testing::SetDateRendering(rendering);
  int const callsBefore = tolvan::testing::DateToStringCalls();
  char text[tolvan::kDateTextMax + 1];
  int const textLength = tolvan::DateText(dayNumber, text);
  std::string expected;
  if (dayNumber == 1) {
    expected = "00010101";
  } else if (dayNumber != 0) {
    expected = std::string(rendering.empty() ? "D" + std::to_string(dayNumber) : rendering).c_str();
    expected = expected.substr(0, tolvan::kDateTextMax);
  }
  TOLVAN_FUZZ_EXPECT(text == expected && textLength == static_cast<int>(expected.size()), "day %d: \"%s\"", dayNumber,
                     text);
  TOLVAN_FUZZ_EXPECT(tolvan::testing::DateToStringCalls() - callsBefore == (dayNumber > 1 || dayNumber < 0 ? 1 : 0),
                     "day %d: the library is called for every day but 0 and 1", dayNumber);

  // A buffer and its length, in a block of exactly the buffer's size.
  std::vector<char> block(bytes.begin(), bytes.end());
  bool const nullBuffer = (switches & 2) != 0;
  long const length = lengthChoice < 0 ? lengthChoice : static_cast<long>(bytes.size() * lengthChoice / 127);
  char* const buffer = nullBuffer ? nullptr : block.data();

  tolvan::fuzz::ClearLogs();
  tolvan::g_module.tracing = 1;
  tolvan::TraceBuffer(buffer, length);
  std::string shown = "NULL";
  if (buffer) {
    long used = 0;
    while (used < length && buffer[used]) ++used;
    shown = used ? std::string(buffer, static_cast<size_t>(used)) : "EMPTY";
  }
  std::string const bufferItems = ItemBytes(shown) + ItemBytes(Decimal(length));
  TOLVAN_FUZZ_EXPECT(ReadLog('a') == bufferItems, "buffer of %ld bytes", length);

  // The same through the exchange facades, whose line shows both values.
  tolvan::fuzz::ClearLogs();
  tolvan::testing::Engine().Reset();
  tolvan::testing::Engine().Install();
  tolvan::StoreLayout storeObject{};
  auto* store = reinterpret_cast<CStoreObj*>(&storeObject);
  store->FX_String(4, buffer, length, 1);
  int32_t day = dayNumber;
  store->FX_Date(5, *reinterpret_cast<CDate*>(&day), 1);
  tolvan::g_module.tracing = 0;
  std::string const pointer = ItemBytes("........");
  std::string const masked = ReadLog('b');
  std::string const expectedMasked =
      pointer + ItemBytes("CStoreObj::FX_String(int,char *,long,int)") + ItemBytes("4") + bufferItems + ItemBytes("1") +
      ItemBytes("\n") + pointer + ItemBytes("CStoreObj::FX_Date(int,class CDate &,int)") + ItemBytes("5") +
      ItemBytes(expected.empty() ? "EMPTY" : expected) + ItemBytes("1") + ItemBytes("\n");
  TOLVAN_FUZZ_EXPECT(masked == expectedMasked, "exchange lines of %zu bytes", masked.size());
  return 0;
}

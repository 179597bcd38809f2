// One trace item of any bytes, any length, masked or not, with either log
// unopenable: what each file gains must be exactly what the item's rules say.
#include <string>
#include <vector>

#include "core/module_state.h"
#include "core/trace_log.h"
#include "tests/fuzz/fuzz_support.h"

using tolvan::fuzz::ItemBytes;
using tolvan::fuzz::ReadLog;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  tolvan::fuzz::LogDirectory();
  tolvan::fuzz::Input input(data, size);
  uint8_t const switches = input.Byte();
  int8_t const lengthChoice = static_cast<int8_t>(input.Byte());
  std::string const bytes = input.Rest();

  bool const tracing = (switches & 1) == 0;
  bool const nullText = (switches & 2) != 0;
  auto const masking = (switches & 4) ? tolvan::kMaskPointer : tolvan::kShowItem;
  char const* const unopenable[] = {"", "", "b", "a", "ba", "", "", ""};
  std::string const letters = unopenable[(switches >> 3) & 7];

  // The text in a block of exactly its size: reading past the length given
  // is a fault the sanitizer sees.
  std::vector<char> block(bytes.begin(), bytes.end());
  char const* const text = nullText ? nullptr : block.data();
  int const length = lengthChoice < 0 ? lengthChoice : static_cast<int>(bytes.size() * lengthChoice / 127);

  tolvan::fuzz::ClearLogs();
  tolvan::host::SetUnopenableLogs(letters);
  tolvan::g_module.tracing = tracing ? 1 : 0;
  tolvan::WriteTraceItem(text, length, masking);
  tolvan::g_module.tracing = 0;
  tolvan::host::SetUnopenableLogs("");

  std::string chosen = !text ? "NULL" : length <= 0 ? "EMPTY" : std::string(text, static_cast<size_t>(length));
  std::string const masked = masking == tolvan::kMaskPointer ? "........" : chosen;
  bool const maskedOpens = tracing && letters.find('b') == std::string::npos;
  bool const plainOpens = maskedOpens && letters.find('a') == std::string::npos;

  std::string const maskedLog = ReadLog('b');
  std::string const plainLog = ReadLog('a');
  TOLVAN_FUZZ_EXPECT(maskedLog == (maskedOpens ? ItemBytes(masked) : ""), "masked log of %zu bytes", maskedLog.size());
  TOLVAN_FUZZ_EXPECT(plainLog == (plainOpens ? ItemBytes(chosen) : ""), "plain log of %zu bytes", plainLog.size());
  TOLVAN_FUZZ_EXPECT(tracing || (!tolvan::fuzz::LogExists('b') && !tolvan::fuzz::LogExists('a')),
                     "tracing off creates no file");
  return 0;
}

// The fixture of the host tests: a fresh module per test, its logs in a
// directory of their own, the stand-in engine installed.
#ifndef TOLVAN_TESTS_SUPPORT_TEST_FIXTURE_H
#define TOLVAN_TESTS_SUPPORT_TEST_FIXTURE_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "core/module_state.h"
#include "platform/host/host_platform.h"
#include "tests/support/standin_engine.h"

namespace tolvan {
namespace testing {

// One trace item as each log shows it.
struct Item {
  Item(char const* text) : plain(text ? text : "NULL"), masked(plain) {}
  Item(std::string const& text) : plain(text), masked(text) {}
  Item(int value) : plain(std::to_string(value)), masked(plain) {}
  Item(std::string p, std::string m) : plain(std::move(p)), masked(std::move(m)) {}
  std::string plain;
  std::string masked;
};
using Line = std::vector<Item>;

// A pointer item: its address in the plain log, dots in the masked one.
Item P(void const* address);
std::string Hex(void const* address);
extern char const kIndent[];  // the 14-space item of result records

// The bytes a log holds for these lines: " item" each, then " \r\n".
std::string Render(std::vector<Line> const& lines, bool masked);

class ModuleTest : public ::testing::Test {
 public:  // scenario tables in the tests arrange through the fixture
  void SetUp() override;
  void TearDown() override;

  // Attaches a fresh module with these option variables set (others unset).
  // Returns what the attach returned.
  int Attach(std::map<std::string, std::string> const& options = {});
  void AttachTracing(int level = 1) { Attach({{"Tolvan32_Debug", std::to_string(level)}}); }

  std::string MaskedLog() const { return ReadLog('b'); }
  std::string PlainLog() const { return ReadLog('a'); }
  bool LogExists(char letter) const;
  std::string ReadLog(char letter) const;
  void ClearLogs();

  // Both logs hold exactly these lines.
  void ExpectTrace(std::vector<Line> const& lines);

  std::vector<std::string> MessageTexts() const;

  StandInEngine& engine = Engine();
  std::string logDirectory_;
  bool attached_ = false;
};

}  // namespace testing
}  // namespace tolvan

#endif

#include "tests/support/test_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "core/trace_log.h"

namespace tolvan {
namespace testing {

char const kIndent[] = "              ";

namespace {

char const* const kOptionNames[] = {"Tolvan32_Debug", "Tolvan32_NoSEQ", "Tolvan32_NoShare", "Tolvan32_StopSEQ",
                                     "Tolvan32_TraceIds", "Tolvan32_TraceTime", "Tolvan32_Recorder",
                                     "Tolvan32_RecorderSlowMs"};

}  // namespace

std::string Hex(void const* address) {
  char text[32];
  FormatPointer(address, text);
  return text;
}

Item P(void const* address) { return Item(Hex(address), "........"); }

std::string Render(std::vector<Line> const& lines, bool masked) {
  std::string bytes;
  for (Line const& line : lines) {
    for (Item const& item : line) bytes += " " + (masked ? item.masked : item.plain);
    bytes += " \r\n";
  }
  return bytes;
}

void ModuleTest::SetUp() {
  char pattern[] = "/tmp/tolvan-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  logDirectory_ = std::string(pattern) + "/";
  host::SetLogDirectory(logDirectory_);
  host::SetUnopenableLogs("");
  host::HideEngineExport("");
  host::FailAllocation(0);
  host::MessageBoxes().clear();
  host::SetWhileMessageBoxShown(nullptr);
  host::FillBufferWithTooLongValues(false);
  for (char const* name : kOptionNames) unsetenv(name);
  ResetValueTypes();
  engine.Reset();
  engine.Install();
  g_module = ModuleState();
}

void ModuleTest::TearDown() {
  host::FailAllocation(0);
  if (attached_) ModuleDetach();
  for (char const* name : kOptionNames) unsetenv(name);
  ClearLogs();
  rmdir(logDirectory_.c_str());
  g_module = ModuleState();
}

int ModuleTest::Attach(std::map<std::string, std::string> const& options) {
  if (attached_) ModuleDetach();
  g_module = ModuleState();
  for (char const* name : kOptionNames) unsetenv(name);
  for (auto const& option : options) setenv(option.first.c_str(), option.second.c_str(), 1);
  int const accepted = ModuleAttach();
  attached_ = accepted != 0;
  return accepted;
}

bool ModuleTest::LogExists(char letter) const {
  return access((logDirectory_ + "Tolvan32_" + letter + ".log").c_str(), F_OK) == 0;
}

std::string ModuleTest::ReadLog(char letter) const {
  std::ifstream file(logDirectory_ + "Tolvan32_" + letter + ".log", std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void ModuleTest::ClearLogs() {
  unlink((logDirectory_ + "Tolvan32_b.log").c_str());
  unlink((logDirectory_ + "Tolvan32_a.log").c_str());
}

void ModuleTest::ExpectTrace(std::vector<Line> const& lines) {
  EXPECT_EQ(MaskedLog(), Render(lines, true)) << "masked log";
  EXPECT_EQ(PlainLog(), Render(lines, false)) << "plain log";
}

std::vector<std::string> ModuleTest::MessageTexts() const {
  std::vector<std::string> texts;
  for (auto const& box : host::MessageBoxes()) texts.push_back(box.text);
  return texts;
}

}  // namespace testing
}  // namespace tolvan

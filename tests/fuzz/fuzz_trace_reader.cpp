// The trace reader on any bytes: every command of tolvan32-trace reads the
// input as a log file, as a person at a support desk would run it. Nothing
// may hang or crash, every line is counted, and no markup from the log gets
// into the report page.
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tools/common/tool_output.h"
#include "tools/common/tool_platform.h"

namespace {

std::string const& Directory() {
  static std::string const directory = [] {
    char pattern[] = "/tmp/tolvan-fuzz-trace-XXXXXX";
    if (!mkdtemp(pattern)) abort();
    return std::string(pattern) + "/";
  }();
  return directory;
}

void WriteFile(std::string const& path, std::string const& data) {
  FILE* const file = fopen(path.c_str(), "wb");
  TOLVAN_FUZZ_EXPECT(file != nullptr, "cannot write %s", path.c_str());
  fwrite(data.data(), 1, data.size(), file);
  fclose(file);
}

std::string ReadFile(std::string const& path) {
  std::string data;
  FILE* const file = fopen(path.c_str(), "rb");
  if (!file) return data;
  char buffer[65536];
  size_t count;
  while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) data.append(buffer, count);
  fclose(file);
  return data;
}

size_t Count(std::string const& text, std::string const& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// One command with its standard output caught in a file and its standard
// error dropped (libFuzzer reports on standard error between the commands);
// its exit status.
int Run(std::vector<char const*> arguments, std::string const& output, std::string* caught) {
  fflush(stdout);
  fflush(stderr);
  int const savedOut = dup(1);
  int const savedError = dup(2);
  int const file = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int const null = open("/dev/null", O_WRONLY);
  TOLVAN_FUZZ_EXPECT(savedOut >= 0 && savedError >= 0 && file >= 0 && null >= 0, "cannot catch the output");
  dup2(file, 1);
  dup2(null, 2);
  close(file);
  close(null);
  arguments.insert(arguments.begin(), "tolvan32-trace");
  int const status = tolvan::tools::ToolMain(static_cast<int>(arguments.size()), const_cast<char**>(arguments.data()));
  tolvan::tools::Flush(tolvan::tools::StandardOutput());
  tolvan::tools::Flush(tolvan::tools::StandardError());
  fflush(stdout);
  fflush(stderr);
  dup2(savedOut, 1);
  dup2(savedError, 2);
  close(savedOut);
  close(savedError);
  if (caught) *caught = ReadFile(output);
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string const log(reinterpret_cast<char const*>(data), size);
  std::string const path = Directory() + "Tolvan32_a.log";
  std::string const output = Directory() + "out";
  WriteFile(path, log);
  std::string json;
  int status = Run({"summary", "--json", path.c_str()}, output, &json);
  // Bytes that begin as gzip or a zip does are read so: their damage is a
  // file error (2), named, never a crash.
  bool const compressed = log.compare(0, 3, "\x1f\x8b\x08") == 0 || log.compare(0, 4, "PK\3\4") == 0;
  int const worst = compressed ? 2 : 1;
  TOLVAN_FUZZ_EXPECT(status >= 0 && status <= worst, "summary --json exit status %d", status);
  size_t const lines = Count(log, "\n") + (!log.empty() && log.back() != '\n');
  std::string const linesKey = "\"lines\":" + std::to_string(lines) + ",";
  TOLVAN_FUZZ_EXPECT(compressed || json.find(linesKey) != std::string::npos, "not every line counted: %s",
                     linesKey.c_str());

  for (std::vector<char const*> const& command :
       {std::vector<char const*>{"summary", path.c_str()}, {"show", path.c_str()}, {"show", "--json", path.c_str()},
        {"show", "--errors", path.c_str()}, {"records", path.c_str()}, {"records", "--redact", path.c_str()}}) {
    std::vector<char const*> arguments = command;
    status = Run(arguments, output, nullptr);
    TOLVAN_FUZZ_EXPECT(status >= 0 && status <= worst, "%s exit status %d", command[0], status);
  }
  for (bool redact : {false, true}) {
    std::string page;
    std::vector<char const*> arguments = {"report", "--html", "-", path.c_str()};
    if (redact) arguments.insert(arguments.begin() + 1, "--redact");
    status = Run(arguments, output, &page);
    TOLVAN_FUZZ_EXPECT(status >= 0 && status <= worst, "report exit status %d", status);
    TOLVAN_FUZZ_EXPECT((compressed && page.empty()) || (Count(page, "<script") == 1 && Count(page, "</html>") == 1),
                       "markup from the log on the page");
  }
  return 0;
}

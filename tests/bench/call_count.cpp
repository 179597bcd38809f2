// A fixed number of calls of one engine function, forwarded by the module
// (tracing off) or made directly, or of one trace item written by the module
// or by the bare file work it demands, for counting instructions under
// callgrind (which counts the process's own instructions, not the kernel's):
//   tolvan_call_count forwarded|direct|item|bare CALLS
// The instructions of one call are the difference of two counts divided by
// the difference of their numbers of calls, which cancels the start-up.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <unistd.h>

#include <string>

#include "core/trace_log.h"
#include "tests/bench/bench_setup.h"

namespace {

char const kItemText[] = "CDataDictionary::BeginTransaction(void)";

void WriteBareItem(std::string const& masked, std::string const& plain) {
  for (std::string const* path : {&masked, &plain}) {
    FILE* file = fopen(path->c_str(), "ab");
    fwrite(" ", 1, 1, file);
    fwrite(kItemText, 1, sizeof kItemText - 1, file);
    fclose(file);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s forwarded|direct|item|bare CALLS\n", argv[0]);
    return 2;
  }
  bool const forwarded = strcmp(argv[1], "forwarded") == 0;
  long const calls = atol(argv[2]);
  if (strcmp(argv[1], "item") == 0 || strcmp(argv[1], "bare") == 0) {
    char directory[] = "/tmp/tolvan-count-XXXXXX";
    if (!mkdtemp(directory)) return 1;
    std::string const prefix = std::string(directory) + "/Tolvan32_";
    tolvan::bench::AttachModule(true, std::string(directory) + "/");
    for (long i = 0; i < calls; ++i) {
      if (argv[1][0] == 'i') {
        tolvan::WriteTraceItem(kItemText, sizeof kItemText - 1);
      } else {
        WriteBareItem(prefix + "b.log", prefix + "a.log");
      }
    }
    tolvan::ModuleDetach();
    unlink((prefix + "b.log").c_str());
    unlink((prefix + "a.log").c_str());
    rmdir(directory);
    return 0;
  }
  tolvan::bench::AttachModule(false);
  tolvan::DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  dictionary->BeginTransaction();  // resolves the entry in both modes alike
  long sum = 0;
  if (forwarded) {
    for (long i = 0; i < calls; ++i) sum += dictionary->BeginTransaction();
  } else {
    for (long i = 0; i < calls; ++i) sum += tolvan::bench::g_directEntry(&storage);
  }
  tolvan::ModuleDetach();
  printf("%ld\n", sum);
  return sum == 0;
}

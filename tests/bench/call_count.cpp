// A fixed number of calls of one engine function, forwarded by the module
// (tracing off) or made directly, for counting instructions under callgrind:
//   tolvan_call_count forwarded|direct CALLS
// The instructions of one call are the difference of two counts divided by
// the difference of their numbers of calls, which cancels the start-up.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tests/bench/bench_setup.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s forwarded|direct CALLS\n", argv[0]);
    return 2;
  }
  bool const forwarded = strcmp(argv[1], "forwarded") == 0;
  long const calls = atol(argv[2]);
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

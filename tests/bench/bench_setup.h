// The module as the benchmarks use it: attached with the options given, the
// lean stand-in engine installed, the entries used already resolved.
#ifndef TOLVAN_TESTS_BENCH_BENCH_SETUP_H
#define TOLVAN_TESTS_BENCH_BENCH_SETUP_H

#include <stdlib.h>

#include <string>

#include "core/module_state.h"
#include "facades/engine_interface.h"
#include "tests/support/lean_engine.h"

namespace tolvan {
namespace bench {

inline void AttachModule(bool tracing, std::string const& logDirectory = "") {
  ModuleDetach();
  g_module = ModuleState();
  host::SetLogDirectory(logDirectory);
  if (tracing) {
    setenv("Tolvan32_Debug", "1", 1);
  } else {
    unsetenv("Tolvan32_Debug");
  }
  if (!ModuleAttach()) abort();
  lean::Install();
}

// The engine's own function, called as the module calls it: through an
// address kept in memory.
typedef int (*BeginTransactionEntry)(DictionaryLayout*);
inline BeginTransactionEntry volatile g_directEntry = &lean::BeginTransaction;

}  // namespace bench
}  // namespace tolvan

#endif

// The one atomic operation the module uses: an exchange, so that only one
// error report at a time works on the shared message buffer.
#ifndef TOLVAN_PLATFORM_ATOMIC_H
#define TOLVAN_PLATFORM_ATOMIC_H

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace tolvan {

// Stores `value` and returns what was there before, as one indivisible step.
inline long PlatformExchange(long* target, long value) {
#if defined(_MSC_VER) && !defined(__clang__)
  return _InterlockedExchange(reinterpret_cast<long volatile*>(target), value);
#else
  return __atomic_exchange_n(target, value, __ATOMIC_ACQ_REL);
#endif
}

}  // namespace tolvan

#endif

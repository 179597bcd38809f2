// The module's few atomic operations: an exchange, so that only one error
// report at a time works on the shared message buffer, a counter of the
// escalations under way, which threads change and read at once, and the
// list of the threads' line storage, which they join without a lock.
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

// Adds `delta` and returns the new value, as one indivisible step.
inline long PlatformAdd(long* target, long delta) {
#if defined(_MSC_VER) && !defined(__clang__)
  return _InterlockedExchangeAdd(reinterpret_cast<long volatile*>(target), delta) + delta;
#else
  return __atomic_add_fetch(target, delta, __ATOMIC_ACQ_REL);
#endif
}

// Stores `value` if `target` holds `expected`; returns what it held.
inline long PlatformCompareExchange(long* target, long value, long expected) {
#if defined(_MSC_VER) && !defined(__clang__)
  return _InterlockedCompareExchange(reinterpret_cast<long volatile*>(target), value, expected);
#else
  __atomic_compare_exchange_n(target, &expected, value, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
  return expected;
#endif
}

inline void PlatformStore(long* target, long value) {
#if defined(_MSC_VER) && !defined(__clang__)
  _InterlockedExchange(reinterpret_cast<long volatile*>(target), value);
#else
  __atomic_store_n(target, value, __ATOMIC_RELEASE);
#endif
}

inline long PlatformLoad(long const* target) {
#if defined(_MSC_VER) && !defined(__clang__)
  return *reinterpret_cast<long const volatile*>(target);
#else
  return __atomic_load_n(target, __ATOMIC_ACQUIRE);
#endif
}

// Loads before it are not moved after it (nor later loads before it): a
// reader of a sequence-numbered block reads the block between two loads of
// its number.
inline void PlatformLoadFence() {
#if defined(_MSC_VER) && !defined(__clang__)
  _ReadWriteBarrier();
#else
  __atomic_thread_fence(__ATOMIC_ACQUIRE);
#endif
}

// The same for a pointer.
inline void* PlatformExchangePointer(void** target, void* value) {
#if defined(_MSC_VER) && !defined(__clang__)
  return _InterlockedExchangePointer(reinterpret_cast<void* volatile*>(target), value);
#else
  return __atomic_exchange_n(target, value, __ATOMIC_ACQ_REL);
#endif
}

inline void* PlatformCompareExchangePointer(void** target, void* value, void* expected) {
#if defined(_MSC_VER) && !defined(__clang__)
  return _InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(target), value, expected);
#else
  __atomic_compare_exchange_n(target, &expected, value, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
  return expected;
#endif
}

inline void* PlatformLoadPointer(void* const* target) {
#if defined(_MSC_VER) && !defined(__clang__)
  return *reinterpret_cast<void* const volatile*>(target);
#else
  return __atomic_load_n(target, __ATOMIC_ACQUIRE);
#endif
}

}  // namespace tolvan

#endif

// Calling an engine entry: a member function of the engine's class, known only
// by its address. How such a call is made depends on the C++ ABI.
#ifndef TOLVAN_PLATFORM_ENTRY_CALL_H
#define TOLVAN_PLATFORM_ENTRY_CALL_H

#include "platform/abi.h"
#include "platform/crt.h"

namespace tolvan {

// How an argument travels through the module's own code on its way to the
// engine. On the 32-bit x86 a double is passed as its eight bytes on the
// stack, exactly as a 64-bit integer is; handed on as one, it never touches
// the x87, whose load would raise the invalid-operation flag and quiet a
// signalling NaN. Elsewhere it travels as itself.
enum class RealBits : unsigned long long {};
template <class T>
struct Passed {
  typedef T Type;
};
#if defined(_M_IX86) || defined(__i386__)
template <>
struct Passed<double> {
  typedef RealBits Type;
};
#endif

inline double RealOf(RealBits bits) {
  double value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

// Calls the member function at `address` on `object` with `args`, exactly as
// the host's compiler calls the member it declared: the same registers, the
// same stack, and for a class returned by value the same hidden result
// pointer (the caller's result object is constructed in place).
template <class R, class Self, class... A>
R CallEntry(void* address, Self const* object, A... args) {
  // The entry may be a const member; the call itself is the same.
  Self* const target = const_cast<Self*>(object);
#if TOLVAN_MICROSOFT_CXX_ABI
  // Microsoft ABI: __thiscall, reached through a pointer to member, which for
  // a class without virtual bases is the bare code address.
  typedef R (Self::*Member)(A...);
  static_assert(sizeof(Member) == sizeof(void*), "single-inheritance pointer to member expected");
  Member member;
  memcpy(&member, &address, sizeof address);
  return (target->*member)(args...);
#else
  // Itanium ABI: a member function is an ordinary function whose first
  // argument is the object (after the result pointer, as for any function
  // returning a class by value).
  typedef R (*Function)(Self*, A...);
  return reinterpret_cast<Function>(address)(target, args...);
#endif
}

// The code address of a module member function that is not virtual, in the
// form CallEntry takes an engine entry's. A member of a class without
// virtual bases is its bare code address on the Microsoft ABI; on the
// Itanium ABI that address is the first word of the pointer to member.
template <class Member>
void* CodeAddress(Member member) {
#if TOLVAN_MICROSOFT_CXX_ABI
  static_assert(sizeof member == sizeof(void*), "single-inheritance pointer to member expected");
#endif
  void* address;
  memcpy(&address, &member, sizeof address);
  return address;
}

}  // namespace tolvan

#endif

// Keeping the module's own state right while an exception from the engine
// passes through it on its way to the host.
//
// The product carries no C++ exception tables (the C runtime of older Windows
// versions lacks their handler), so it uses structured exception handling: a
// C++ exception thrown by the engine is a structured exception underneath, and
// its unwind runs the __finally blocks of the frames it leaves. The host test
// build, compiled natively with C++ exceptions, does the same with a
// destructor. The module never catches the exception: it goes on unchanged.
#ifndef TOLVAN_PLATFORM_UNWIND_H
#define TOLVAN_PLATFORM_UNWIND_H

#include "platform/abi.h"

#if TOLVAN_MICROSOFT_CXX_ABI && !defined(__clang__)
#include <excpt.h>
#endif

namespace tolvan {

// Runs `body`. If an exception leaves it, `onUnwind` runs while the exception
// passes, before it reaches the frames above; otherwise `onUnwind` does not run.
#if TOLVAN_MICROSOFT_CXX_ABI
template <class Body, class OnUnwind>
void CallWithUnwindStep(Body const& body, OnUnwind const& onUnwind) {
  __try {
    body();
  } __finally {
    if (_abnormal_termination()) onUnwind();
  }
}
#else
template <class Body, class OnUnwind>
void CallWithUnwindStep(Body const& body, OnUnwind const& onUnwind) {
  struct Step {
    OnUnwind const& onUnwind;
    bool finished;
    ~Step() noexcept(false) {
      if (!finished) onUnwind();
    }
  } step{onUnwind, false};
  body();
  step.finished = true;
}
#endif

// Runs `body`. If an exception leaves it, `onException` runs while the system
// looks for the handler, before anything is unwound and whether or not any
// handler is found (a crash included); the exception then goes on unchanged.
// The host test build can only act during the unwind of a C++ exception.
#if TOLVAN_MICROSOFT_CXX_ABI
template <class OnException>
int RunExceptionStep(OnException const& onException) {
  onException();
  return 0;  // EXCEPTION_CONTINUE_SEARCH: the exception is not handled here
}

template <class Body, class OnException>
void CallWithExceptionStep(Body const& body, OnException const& onException) {
  __try {
    body();
  } __except (RunExceptionStep(onException)) {
  }
}
#else
template <class Body, class OnException>
void CallWithExceptionStep(Body const& body, OnException const& onException) {
  CallWithUnwindStep(body, onException);
}
#endif

}  // namespace tolvan

#endif

// Support for code that a cancelled thread unwinds through.
//
// Cancellation unwinds a thread like an exception (glibc's forced unwind).
// Two things follow for the library's own code:
//
// - No destructor may be left by it: destructors are noexcept, and a forced
//   unwind out of one ends the process (std::terminate). Every library
//   destructor that can reach a cancellation point (close, join, a sleep)
//   holds cancellation off with a ZoNoCancel for its whole body; a pending
//   cancellation then takes effect at the thread's next cancellation point
//   outside it.
// - State that a function changes around a cancellation point (a lock it
//   holds, a counter it raised, a bag it handles) is put back by a ZoOnExit
//   guard, which runs on return and on unwinding alike.
//
// glibc unwinds without telling AddressSanitizer, so the stack redzones of
// the frames it skips stay poisoned below the stack pointer, and code then
// called from a landing pad can land on them (__asan_handle_no_return, called
// before every _Unwind_Resume, reports its locals there and dies). The
// functions in which a thread can be cancelled are therefore not instrumented
// (ZOLIB_UNWOUND), and ZoOnExit clears the dead stack's shadow first when it
// runs on the unwinding path. Without AddressSanitizer both do nothing.
#pragma once

#include <pthread.h>

// For functions that contain a cancellation point or a signal wait.
#define ZOLIB_UNWOUND __attribute__((no_sanitize_address))

#if defined(__SANITIZE_ADDRESS__)
#define ZOLIB_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZOLIB_ASAN 1
#endif
#endif

#ifdef ZOLIB_ASAN
// Clears the shadow of the calling thread's stack below the caller's frame.
void ZoCleanDeadStack();
// Records the calling thread's stack bounds while that is still safe (not
// while unwinding); ZoCleanDeadStack() finds them out itself otherwise.
void ZoNoteStack();
#else
inline void ZoCleanDeadStack() {}
inline void ZoNoteStack() {}
#endif

// Holds the calling thread's cancellation off for the object's lifetime and
// then puts the previous state back (a pending cancellation stays pending).
class ZoNoCancel {
  public:
    ZoNoCancel() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &before); }
    ~ZoNoCancel() {
        int ignored;
        pthread_setcancelstate(before, &ignored);
    }
    ZoNoCancel(const ZoNoCancel&) = delete;
    ZoNoCancel& operator=(const ZoNoCancel&) = delete;

  private:
    int before;
};

// Runs `leave` when the scope ends: on the normal way out, which the scope
// marks with Returned() just before it, and while a cancelled thread unwinds
// through it (then after clearing the dead stack, see above).
template <class Leave>
class ZoOnExit {
  public:
    explicit ZoOnExit(Leave leave) : leave(leave) {}
    ~ZoOnExit() {
        if (!returned) ZoCleanDeadStack();
        leave();
    }
    ZoOnExit(const ZoOnExit&) = delete;
    ZoOnExit& operator=(const ZoOnExit&) = delete;

    void Returned() { returned = true; }

  private:
    Leave leave;
    bool returned = false;
};

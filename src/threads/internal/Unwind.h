// Support for code that runs while a cancelled thread unwinds.
//
// glibc unwinds a cancelled thread without telling AddressSanitizer, so the
// stack redzones of the frames it skips stay poisoned below the stack
// pointer. Code then called from a landing pad (a destructor, a cleanup
// handler) can land on them: the sanitizer's own __asan_handle_no_return,
// called before every _Unwind_Resume, reports its local variables there and
// dies. Two measures keep the library's part clean: the functions in which a
// thread can be cancelled are not instrumented (ZOLIB_UNWOUND), so they leave
// no redzones behind, and the library's landing pads call ZoCleanDeadStack()
// before anything else. Without AddressSanitizer both do nothing.
#pragma once

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

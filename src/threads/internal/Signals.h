// The suspend and resume signals of ZoThread, seen from the thread itself.
//
// ThreadSanitizer runs most signal handlers late, from inside its own calls
// (intercepted functions, atomic operations), with every signal blocked; it
// saves the thread's mask in one place per thread and puts it back after the
// queued handlers have run. A handler that makes such a call while another
// signal is queued runs the queue again inside the first run, which saves the
// blocked-everything mask over the real one: the thread then goes on with
// every signal blocked, and the next suspend or abort signal waits in the
// kernel for good. Under that sanitizer the handlers therefore note that they
// ran, and the library calls a body makes often (IsCanceled(), the snoozes)
// unblock both signals again first; whatever waited then arrives. Without the
// sanitizer the kernel restores the mask itself and this is not needed.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define ZOLIB_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZOLIB_TSAN 1
#endif
#endif

#ifdef ZOLIB_TSAN
// Unblocks the suspend and resume signals of a ZoThread body if one of their
// handlers ran on the calling thread since the last call.
void ZoRearmThreadSignals();
#else
inline void ZoRearmThreadSignals() {}
#endif

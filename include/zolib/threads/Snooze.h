// The Snooze family: sleep the calling thread for a time in one of four units.
//
// The whole time is always slept: a signal that interrupts the sleep (the
// suspend and resume signals of ZoThread, for instance) only delays its end,
// as the sleep resumes for whatever time was left. Time spent suspended
// inside the signal handler therefore adds to the sleep. Each call is a
// cancellation point. Values too large for the clock sleep practically for
// ever; nothing overflows.
#pragma once

#include <zolib/Export.h>

enum TSnoozeTime : int { SNOOZE_SEC = 0, SNOOZE_MSEC = 1, SNOOZE_USEC = 2, SNOOZE_NSEC = 3 };

// 0 after the whole time; -1 (errno EINVAL) without sleeping for a unit
// outside SNOOZE_SEC..SNOOZE_NSEC.
ZOLIB_API int Snooze(unsigned long value, TSnoozeTime unit);
ZOLIB_API int sSnooze(unsigned long seconds);
ZOLIB_API int mSnooze(unsigned long milliseconds);
ZOLIB_API int uSnooze(unsigned long microseconds);
ZOLIB_API int nSnooze(unsigned long nanoseconds);

// Gives up the processor to another ready thread (sched_yield); 0 or -1.
ZOLIB_API int Yield();

#include <zolib/threads/Snooze.h>

#include "internal/Unwind.h"
#include "threads/internal/Signals.h"

#include <sched.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace {

time_t WholeSeconds(unsigned long seconds) {
    // time_t is signed: clamp instead of wrapping to a negative request.
    return seconds > static_cast<unsigned long>(LONG_MAX) ? LONG_MAX : static_cast<time_t>(seconds);
}

}  // namespace

ZOLIB_UNWOUND int Snooze(unsigned long value, TSnoozeTime unit) {
    timespec request;
    switch (unit) {
        case SNOOZE_SEC:
            request.tv_sec = WholeSeconds(value);
            request.tv_nsec = 0;
            break;
        case SNOOZE_MSEC:
            request.tv_sec = WholeSeconds(value / 1000);
            request.tv_nsec = static_cast<long>(value % 1000) * 1000000;
            break;
        case SNOOZE_USEC:
            request.tv_sec = WholeSeconds(value / 1000000);
            request.tv_nsec = static_cast<long>(value % 1000000) * 1000;
            break;
        case SNOOZE_NSEC:
            request.tv_sec = WholeSeconds(value / 1000000000);
            request.tv_nsec = static_cast<long>(value % 1000000000);
            break;
        default:
            errno = EINVAL;
            return -1;
    }
    ZoRearmThreadSignals();
    // A signal handler (suspension included) interrupts the sleep; go on
    // sleeping what was left so the caller always gets the whole time.
    timespec left;
    while (nanosleep(&request, &left) == -1) {
        if (errno != EINTR) return -1;
        request = left;
    }
    return 0;
}

int sSnooze(unsigned long seconds) {
    return Snooze(seconds, SNOOZE_SEC);
}

int mSnooze(unsigned long milliseconds) {
    return Snooze(milliseconds, SNOOZE_MSEC);
}

int uSnooze(unsigned long microseconds) {
    return Snooze(microseconds, SNOOZE_USEC);
}

int nSnooze(unsigned long nanoseconds) {
    return Snooze(nanoseconds, SNOOZE_NSEC);
}

int Yield() {
    return sched_yield();
}

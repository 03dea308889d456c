#include <zolib/threads/Crosswalk.h>
#include <zolib/threads/Snooze.h>

#include "internal/Unwind.h"

#include <cerrno>
#include <climits>
#include <ctime>

namespace {

// How long the destructor waits for a lock, and for woken waiters to leave.
const int kLeaveMilliseconds = 2000;

// The wait's deadline on the real-time clock, the clock of INIT_COND.
timespec Deadline(unsigned long nanoseconds) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned long seconds = nanoseconds / 1000000000;
    long rest = static_cast<long>(nanoseconds % 1000000000) + now.tv_nsec;
    if (rest >= 1000000000) {
        rest -= 1000000000;
        seconds++;
    }
    timespec deadline;
    // Past the end of time_t the deadline is as good as never.
    if (seconds > static_cast<unsigned long>(LONG_MAX - now.tv_sec)) {
        deadline.tv_sec = LONG_MAX;
        deadline.tv_nsec = 999999999;
    } else {
        deadline.tv_sec = now.tv_sec + static_cast<time_t>(seconds);
        deadline.tv_nsec = rest;
    }
    return deadline;
}

}  // namespace

ZoCrosswalk::ZoCrosswalk(int laneCount)
    : laneCount(laneCount > 0 ? laneCount : 0),
      lanes(laneCount > 0 ? new Lane[laneCount] : nullptr),
      laneMutex(INIT_MUTEX),
      laneCond(INIT_COND) {
    Flush();
}

ZoCrosswalk::~ZoCrosswalk() {
    ZoNoCancel hold;  // it sleeps while waiters leave
    if (lanes == nullptr) return;
    // Let everybody through, then wait until the last waiter has counted
    // itself out (under the locker mutex) before the lanes go away.
    // A waiter aborted inside its condition wait leaves both mutexes
    // locked for good, so neither is waited for without bound.
    timespec limit = Deadline(kLeaveMilliseconds * 1000000UL);
    bool locker = pthread_mutex_timedlock(&mutex, &limit) == 0;
    bool lane = pthread_mutex_timedlock(&laneMutex, &limit) == 0;
    for (int i = 0; i < laneCount; i++)
        lanes[i].green = true;
    if (locker) Unlock();
    pthread_cond_broadcast(&laneCond);
    if (lane) pthread_mutex_unlock(&laneMutex);
    // A waiter that was aborted inside Wait() never counts itself out, so
    // the wait is bounded; woken waiters leave within microseconds.
    // Waiters count themselves out under the locker mutex; reading under it
    // too orders their last touch of the lanes before the delete below.
    for (int tries = 0; tries < kLeaveMilliseconds; tries++) {
        if (locker) Lock();
        long inside = 0;
        for (int i = 0; i < laneCount; i++)
            inside += lanes[i].waiting;
        if (locker) Unlock();
        if (inside == 0) break;
        mSnooze(1);
    }
    delete[] lanes;
}

void ZoCrosswalk::Switch(int lane, bool green) {
    if (!Valid(lane)) return;
    Lock();
    pthread_mutex_lock(&laneMutex);
    lanes[lane].green = green;
    Unlock();
    pthread_cond_broadcast(&laneCond);
    pthread_mutex_unlock(&laneMutex);
    mSnooze(1);
}

void ZoCrosswalk::Green(int lane) {
    Switch(lane, true);
}

void ZoCrosswalk::Red(int lane) {
    Switch(lane, false);
}

void ZoCrosswalk::LeaveWait(Lane& lane) {
    pthread_mutex_unlock(&laneMutex);
    Lock();
    lane.waiting--;
    Unlock();
}

ZOLIB_UNWOUND bool ZoCrosswalk::Wait(int lane, unsigned long timeout) {
    if (!Valid(lane)) return false;
    Lane& record = lanes[lane];
    Lock();
    record.waiting++;
    pthread_mutex_lock(&laneMutex);
    Unlock();
    // The condition waits are cancellation points: a cancelled waiter
    // unwinds through this guard (holding laneMutex again) and leaves the
    // crosswalk as a returning one would.
    ZoOnExit leave([this, &record] { LeaveWait(record); });
    bool result = true;
    if (timeout == 0) {
        while (!record.green)
            pthread_cond_wait(&laneCond, &laneMutex);
    } else {
        timespec deadline = Deadline(timeout);
        while (!record.green) {
            // ETIMEDOUT, or a deadline the clock rejects: the time is up.
            if (pthread_cond_timedwait(&laneCond, &laneMutex, &deadline) != 0) {
                result = false;
                break;
            }
        }
    }
    leave.Returned();
    return result;
}

long ZoCrosswalk::Waiting(int lane) {
    return Valid(lane) ? lanes[lane].waiting.load() : 0;
}

void ZoCrosswalk::Flush() {
    for (int i = 0; i < laneCount; i++) {
        lanes[i].green = false;
        lanes[i].waiting = 0;
    }
}

// ZoStopWatch: elapsed real time in clock ticks of times(), 100 to a second.
//
// Start() runs the watch, Pause() banks the ticks so far and Start() goes on
// from there, Stop() freezes the readings at a mark and Reset() clears all.
// A running watch reads T = now - start + banked - 1 ticks, so it reads -1
// in the tick it was started; a paused one reads exactly the banked ticks.
// The conversions give 0 for T = -1 and otherwise take T as an unsigned
// 32-bit count: Seconds() T / 100, MSeconds() T * 10, USeconds() T * 1000,
// NSeconds() T * 10,000,000, the three integer results reduced modulo 2^32
// (NSeconds wraps after 429 ticks, about 4.29 s).
//
// Ownership: a watch owns nothing but its readings and its lock.
// Threads: every operation takes the watch's own (non-recursive) lock, so
// one watch can be driven and read from several threads, but never by a
// thread that holds its lock. Nothing blocks beyond that lock; nothing fails.
#pragma once

#include <zolib/threads/Locker.h>

#include <sys/times.h>
#include <time.h>

class ZOLIB_API ZoStopWatch : public ZoLocker {
  public:
    // Reset; the watch does not run until Start().
    ZoStopWatch();
    ~ZoStopWatch() override;

    void Reset();
    // Runs from now; after Pause() it continues the measurement. After Stop()
    // the watch must be Reset() before it is started again.
    void Start();
    // Banks the ticks since the last Start() (twice if called twice).
    void Pause();
    // Freezes the readings at this moment.
    void Stop();

    clock_t Ticks();
    double Seconds();
    unsigned long MSeconds();
    unsigned long USeconds();
    unsigned long NSeconds();

  protected:
    bool paused;
    clock_t startTicks;    // times() at the last Start()
    clock_t accumulated;   // ticks banked by Pause()
    clock_t stopTicks;     // times() at Stop(); 0 while not stopped
    struct tms tmsBuffer;  // scratch for times(); contents unused

  private:
    clock_t Now() { return times(&tmsBuffer); }
    clock_t Count();  // T; the caller holds the lock
    clock_t LockedCount();
};

// Test helpers of the threads suite: bounded waits, a per-test watchdog and a
// controllable clock for code that reads times().
#pragma once

#include <chrono>
#include <ctime>
#include <functional>

namespace zotest {

// Polls `done` every millisecond; false if it is still not true after `limit`.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

// Milliseconds since `start` on the monotonic clock.
long MillisecondsSince(std::chrono::steady_clock::time_point start);

// While one exists, times() returns the value set here instead of the real
// tick count (FakeClock.cpp interposes times() for the whole test program).
class FakeClock {
  public:
    explicit FakeClock(clock_t now);
    ~FakeClock();
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    void Set(clock_t now);
};

}  // namespace zotest

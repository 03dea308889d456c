// Test helpers of the threads suite: the shared bounded waits and a
// controllable clock for code that reads times().
#pragma once

#include <ctime>

#include "support/Wait.h"

namespace zotest {

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

// The soak harness of the stress program. Each scenario runs for a time: one
// second by default, which keeps the suite fast under the sanitizers, or as
// many seconds as $ZOLIB_SOAK_SECONDS says (scripts/soak.sh sets it for the
// long form). Waits are bounded (tests/support/Wait.h), the watchdog's limit
// is scaled to that time, and each scenario reports what it counted on one line.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <initializer_list>
#include <utility>

#include "support/Wait.h"

namespace soak {

using zotest::WaitUntil;

// Seconds each scenario runs.
double Seconds();

// Tells the workers of one scenario when their time is up.
class Clock {
  public:
    bool Running() const { return Elapsed() < Seconds(); }
    double Elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

  private:
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// Prints "[ counts   ] <name>: key=value ..." and records each count as a
// property of the running test (kept in gtest's XML output).
void Report(const char* name, std::initializer_list<std::pair<const char*, long>> counts);

// True when the thread `tid` (the kernel's id) waits in the suspend
// handler for the resume signal (sigwait is rt_sigtimedwait, 128).
bool Parked(pid_t tid);

// A small pseudo-random sequence of the thread's own (rand() is shared).
class Random {
  public:
    explicit Random(unsigned seed) : state(seed * 2654435761u + 1) {}
    unsigned Next(unsigned bound) {
        state = state * 1103515245u + 12345u;
        return (state >> 16) % bound;
    }

  private:
    unsigned state;
};

}  // namespace soak

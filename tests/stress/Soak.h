// Helpers of the stress tests. Each test runs for a time: one second by
// default, which keeps the test suite fast under the sanitizers, or as many
// seconds as $ZOLIB_SOAK_SECONDS says (scripts/soak.sh sets it for the long
// form). Every wait is bounded, and a watchdog scaled to that time ends a test
// that hangs. Each test reports what it counted on one line.
#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <utility>

namespace soak {

// Seconds each stress test runs.
double Seconds();

// Tells the workers of one test when their time is up.
class Clock {
  public:
    Clock() : start(std::chrono::steady_clock::now()) {}
    bool Running() const { return Elapsed() < Seconds(); }
    double Elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

  private:
    std::chrono::steady_clock::time_point start;
};

// Polls `done` every millisecond; false if it is still not true after `limit`.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20));

// Prints "[ counts   ] <name>: key=value ..." and records each count as a
// property of the running test (kept in gtest's XML output).
void Report(const char* name, std::initializer_list<std::pair<const char*, long>> counts);

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

// Shared by the test programs: bounded waits, and (with Wait.cpp linked in) a
// watchdog that ends a test still running after 60 s with its name, so a
// deadlock fails instead of hanging.
#pragma once

#include <chrono>
#include <functional>

namespace zotest {

// Polls `done` every millisecond; false if it is still not true after `limit`.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

// The watchdog's limit for each test from now on (60 s unless raised by a
// program whose tests run longer).
void SetTestTimeLimit(std::chrono::seconds limit);

// Milliseconds since `start` on the monotonic clock.
long MillisecondsSince(std::chrono::steady_clock::time_point start);

}  // namespace zotest

#include "support/Wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace zotest {

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

namespace {

std::atomic<long> limitSeconds{60};

// A test that deadlocks must fail, not hang: each test gets a deadline, and
// a test still running past it ends the program with its name.
class Watchdog : public ::testing::EmptyTestEventListener {
  public:
    ~Watchdog() override {
        std::unique_lock<std::mutex> lock(mutex);
        quit = true;
        wake.notify_all();
        lock.unlock();
        thread.join();
    }
    void OnTestStart(const ::testing::TestInfo& test) override {
        std::lock_guard<std::mutex> lock(mutex);
        name = std::string(test.test_suite_name()) + "." + test.name();
        deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds.load());
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        std::lock_guard<std::mutex> lock(mutex);
        deadline = std::chrono::steady_clock::time_point::max();
    }

  private:
    // Looks ten times a second.
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!wake.wait_for(lock, std::chrono::milliseconds(100), [this] { return quit; })) {
            if (std::chrono::steady_clock::now() < deadline) continue;
            std::fprintf(stderr, "watchdog: %s did not finish in time\n", name.c_str());
            std::abort();
        }
    }

    std::mutex mutex;
    std::condition_variable wake;
    bool quit = false;
    std::string name;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    std::thread thread{[this] { Watch(); }};  // last: starts once the rest is made
};

// gtest takes ownership of the listener and deletes it at exit.
const bool kWatchdogInstalled =
    (::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog), true);

}  // namespace

void SetTestTimeLimit(std::chrono::seconds limit) {
    limitSeconds = static_cast<long>(limit.count());
}

}  // namespace zotest

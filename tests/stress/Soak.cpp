#include "stress/Soak.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace soak {

double Seconds() {
    static const double seconds = [] {
        const char* text = getenv("ZOLIB_SOAK_SECONDS");
        double value = text != nullptr ? atof(text) : 0;
        return value > 0 ? value : 1.0;
    }();
    return seconds;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void Report(const char* name, std::initializer_list<std::pair<const char*, long>> counts) {
    std::string line = std::string("[ counts   ] ") + name + ":";
    for (const auto& [key, value] : counts) {
        line += " " + std::string(key) + "=" + std::to_string(value);
        ::testing::Test::RecordProperty(key, std::to_string(value));
    }
    printf("%s\n", line.c_str());
    fflush(stdout);
}

namespace {

// A test that deadlocks must fail, not hang: each test gets its running time
// and a minute more, and a test still running past that ends the program
// with its name.
class Watchdog : public ::testing::EmptyTestEventListener {
  public:
    Watchdog() : thread([this] { Watch(); }) {}
    ~Watchdog() override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quit = true;
        }
        wake.notify_all();
        thread.join();
    }

    void OnTestStart(const ::testing::TestInfo& test) override {
        std::lock_guard<std::mutex> lock(mutex);
        name = std::string(test.test_suite_name()) + "." + test.name();
        deadline = std::chrono::steady_clock::now() +
                   std::chrono::seconds(60 + static_cast<long>(2 * Seconds()));
        armed = true;
        wake.notify_all();
    }

    void OnTestEnd(const ::testing::TestInfo&) override {
        std::lock_guard<std::mutex> lock(mutex);
        armed = false;
    }

  private:
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!quit) {
            if (!armed) {
                wake.wait(lock);
                continue;
            }
            if (wake.wait_until(lock, deadline) == std::cv_status::timeout && armed &&
                std::chrono::steady_clock::now() >= deadline) {
                fprintf(stderr, "watchdog: %s did not finish in time\n", name.c_str());
                abort();
            }
        }
    }

    std::mutex mutex;
    std::condition_variable wake;
    bool quit = false;
    bool armed = false;
    std::string name;
    std::chrono::steady_clock::time_point deadline;
    std::thread thread;
};

// gtest takes ownership of the listener and deletes it at exit.
const bool kWatchdogInstalled = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);
    return true;
}();

}  // namespace

}  // namespace soak

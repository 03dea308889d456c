// The soak harness of the stress program. Each test runs for a time: one
// second by default (the suite, under both sanitizers), or as many seconds as
// $ZOLIB_SOAK_SECONDS says (scripts/soak.sh, the long form). Waits are
// bounded, and each test prints what it counted on one "[ counts ]" line.
#pragma once

#include <zolib/threads/Job.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/Wait.h"

namespace soak {

using zotest::WaitUntil;

inline double Seconds() {
    static const double seconds = [] {
        const char* text = getenv("ZOLIB_SOAK_SECONDS");
        return text != nullptr && atof(text) > 0 ? atof(text) : 1.0;
    }();
    return seconds;
}

// Tells the workers of one test when their time is up.
struct Clock {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    bool Running() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() <
               Seconds();
    }
};

inline void Report(const char* name, std::initializer_list<std::pair<const char*, long>> counts) {
    std::string line = std::string("[ counts   ] ") + name + ":";
    for (const auto& [key, value] : counts)
        line += " " + std::string(key) + "=" + std::to_string(value);
    printf("%s\n", line.c_str());
    fflush(stdout);
}

// True when the thread `tid` (the kernel's id) waits in the suspend
// handler for the resume signal (sigwait is rt_sigtimedwait, 128).
inline bool Parked(pid_t tid) {
    FILE* file = fopen(("/proc/self/task/" + std::to_string(tid) + "/syscall").c_str(), "r");
    long number = -1;
    if (file != nullptr && fscanf(file, "%ld", &number) != 1) number = -1;
    if (file != nullptr) fclose(file);
    return number == 128;
}

// Runs `count` threads, each given its index, and joins them.
inline void Together(int count, const std::function<void(int)>& body) {
    std::vector<std::thread> threads;
    for (int i = 0; i < count; i++)
        threads.emplace_back(body, i);
    for (std::thread& thread : threads)
        thread.join();
}

// A small pseudo-random sequence of the thread's own (rand() is shared).
struct Random {
    explicit Random(unsigned seed) : state(seed * 2654435761u + 1) {}
    unsigned state;
    unsigned Next(unsigned bound) {
        state = state * 1103515245u + 12345u;
        return (state >> 16) % bound;
    }
};

// A thread running `body`; counts its Canceled() calls.
class Thread : public ZoThread {
  public:
    explicit Thread(std::function<void(Thread&)> body) : ZoThread("soak"), body(std::move(body)) {}
    ~Thread() override { Halt(); }
    void Process() override {
        kernelId = gettid();
        body(*this);
    }
    void Canceled() override { canceled++; }
    bool Parked() const { return !IsRunning() || soak::Parked(kernelId); }

    std::atomic<int> canceled{0};
    std::atomic<pid_t> kernelId{0};

  private:
    std::function<void(Thread&)> body;
};

// A job running `body`; counts its Canceled() calls.
class Job : public ZoJob {
  public:
    explicit Job(std::function<void(Job&)> body) : ZoJob("soak"), body(std::move(body)) {}
    ~Job() override { Halt(); }
    void DoIt() override { body(*this); }
    void Canceled() override { canceled++; }

    std::atomic<int> canceled{0};

  private:
    std::function<void(Job&)> body;
};

}  // namespace soak

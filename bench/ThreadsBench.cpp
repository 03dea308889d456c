// Crosswalk: time from Green() until a waiting thread runs, against a bare
// mutex + condition variable gate switched the same way.
#include <zolib/threads/Crosswalk.h>

#include <benchmark/benchmark.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// One waiter thread goes round: wait at the gate, stamp the time it woke,
// then hold until the controller has closed the gate again. The controller
// opens the gate only once the waiter is blocked, so each round measures a
// real wake-up.
struct Round {
    std::atomic<int64_t> woke{0};
    std::atomic<bool> again{false};
    std::atomic<bool> quit{false};
};

template <typename Gate>
void MeasureWake(benchmark::State& state, Gate& gate) {
    Round round;
    std::vector<double> rounds;
    std::thread waiter([&] {
        for (;;) {
            gate.Wait();
            round.woke.store(Now());
            while (!round.again.exchange(false)) {
                if (round.quit.load()) return;
                std::this_thread::yield();
            }
        }
    });
    for (auto _ : state) {
        while (!gate.Blocked())
            std::this_thread::yield();
        // Give the waiter time to be asleep in the wait, not just counted in.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        round.woke.store(0);
        int64_t start = Now();
        gate.Open();
        int64_t woke;
        while ((woke = round.woke.load()) == 0)
            std::this_thread::yield();
        double seconds = static_cast<double>(woke - start) * 1e-9;
        state.SetIterationTime(seconds);
        rounds.push_back(seconds);
        gate.Close();
        round.again.store(true);
    }
    round.quit.store(true);
    gate.Open();
    waiter.join();
    // A preempted round costs as much as hundreds of quiet ones; the median
    // round says what a wake-up costs.
    std::sort(rounds.begin(), rounds.end());
    state.counters["median"] = rounds.empty() ? 0.0 : rounds[rounds.size() / 2];
}

struct CrosswalkGate {
    ZoCrosswalk walk{1};
    void Wait() { walk.Wait(0, 0); }
    bool Blocked() { return walk.Waiting(0) == 1; }
    void Open() { walk.Green(0); }
    void Close() { walk.Red(0); }
};

struct CondGate {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
    bool green = false;
    std::atomic<int> waiting{0};
    void Wait() {
        pthread_mutex_lock(&mutex);
        waiting++;
        while (!green)
            pthread_cond_wait(&cond, &mutex);
        waiting--;
        pthread_mutex_unlock(&mutex);
    }
    bool Blocked() { return waiting.load() == 1; }
    void Open() { Set(true); }
    void Close() { Set(false); }
    // Like the crosswalk's lights, the switching thread then sleeps 1 ms, so
    // that both wake their waiter from the same position (a sleeping
    // switcher leaves its core to the waiter).
    void Set(bool value) {
        pthread_mutex_lock(&mutex);
        green = value;
        pthread_cond_broadcast(&cond);
        pthread_mutex_unlock(&mutex);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

void BM_GreenToWake_ZoLib(benchmark::State& state) {
    CrosswalkGate gate;
    MeasureWake(state, gate);
}
BENCHMARK(BM_GreenToWake_ZoLib)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);

void BM_GreenToWake_cond(benchmark::State& state) {
    CondGate gate;
    MeasureWake(state, gate);
}
BENCHMARK(BM_GreenToWake_cond)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);

}  // namespace

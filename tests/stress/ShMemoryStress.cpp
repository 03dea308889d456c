// Processes take turns at one shared-memory segment under its lock while the
// test kills some of them: holders killed while they hold the lock (at a
// moment they announce) and workers killed at random moments. The lock must
// stay usable, every dead holder must be noticed by exactly one next holder,
// and no update may be lost: what the processes counted for themselves adds
// up to the shared total.
#include <zolib/messaging/ShMemory.h>

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "messaging/ChildProcess.h"
#include "stress/Soak.h"

namespace {

constexpr int kWorkers = 4;
constexpr int kSlots = 256;  // one per process of a round

struct Shared {
    int32_t holder;  // pid inside the lock; 0 once it leaves properly
    int32_t pad;
    int64_t total;          // one per turn, read and written back slowly
    int64_t recovered;      // turns that found a dead holder's mark
    int64_t turns[kSlots];  // each process's own count of its turns
};

// Takes the lock. A dead holder left its mark: the update it was making may
// be half done, so the total is rebuilt from the processes' own counts.
bool Enter(ZoShMemory& memory) {
    auto* shared = static_cast<Shared*>(memory.Address());
    if (!memory.Lock()) return false;
    if (shared->holder != 0) {
        shared->recovered++;
        int64_t sum = 0;
        for (int64_t turns : shared->turns)
            sum += turns;
        shared->total = sum;
    }
    shared->holder = getpid();
    return true;
}

bool Turn(ZoShMemory& memory, int slot) {
    auto* shared = static_cast<Shared*>(memory.Address());
    if (!Enter(memory)) return false;
    shared->turns[slot]++;
    int64_t total = shared->total;
    sched_yield();  // a second holder would now lose an update
    shared->total = total + 1;
    shared->holder = 0;
    return memory.Unlock();
}

int Worker(const char* name, int slot, std::chrono::steady_clock::time_point end) {
    ZoShMemory memory(name, sizeof(Shared));
    if (!memory.InitCheck()) return 1;
    while (std::chrono::steady_clock::now() < end)
        if (!Turn(memory, slot)) return 2;
    return 0;
}

// Takes the lock, announces it, and waits there to be killed.
int Holder(const char* name, int slot, child::Note* holding) {
    ZoShMemory memory(name, sizeof(Shared));
    if (!memory.InitCheck() || !Enter(memory)) return 1;
    static_cast<Shared*>(memory.Address())->turns[slot]++;
    holding->Post();
    for (;;)
        pause();
}

struct Round {
    long holdersKilled = 0;
    long workersKilled = 0;
    long processes = 0;
};

TEST(ShMemorySoak, ProcessesKilledMidLockLoseNothing) {
    soak::Clock clock;
    soak::Random random(5);
    long rounds = 0, processes = 0, holdersKilled = 0, workersKilled = 0, turns = 0;
    long recovered = 0;
    // A segment of its own per round: killed processes leave their counts in
    // it, and the count is 16-bit.
    while (clock.Running() || rounds == 0) {
        std::string name = "/zolib-soak." + std::to_string(getpid()) + "." + std::to_string(rounds);
        ZoShMemory memory(name.c_str(), sizeof(Shared));
        ASSERT_TRUE(memory.InitCheck());
        // Rounds of at most 2 s, at least 0.3 s.
        double seconds = std::min(2.0, std::max(soak::Seconds() - clock.Elapsed(), 0.3));
        auto roundEnd = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long>(1000 * seconds));
        Round round;
        std::vector<std::pair<pid_t, int>> workers;  // pid, slot
        int nextSlot = 0;
        auto spawn = [&] {
            int slot = nextSlot++;
            workers.emplace_back(
                child::Spawn([&, slot] { return Worker(name.c_str(), slot, roundEnd); }), slot);
            round.processes++;
        };
        for (int w = 0; w < kWorkers; w++)
            spawn();
        while (std::chrono::steady_clock::now() + std::chrono::milliseconds(100) < roundEnd &&
               nextSlot < kSlots - 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10 + random.Next(30)));
            if (random.Next(2) == 0) {
                child::Note holding;
                int slot = nextSlot++;
                pid_t holder = child::Spawn([&] { return Holder(name.c_str(), slot, &holding); });
                round.processes++;
                ASSERT_TRUE(holding.Wait());
                // Let the workers pile up at the lock, then kill the holder.
                std::this_thread::sleep_for(std::chrono::milliseconds(random.Next(5)));
                kill(holder, SIGKILL);
                EXPECT_EQ(child::Reap(holder), 128 + SIGKILL);
                round.holdersKilled++;
            } else {
                size_t victim = random.Next(static_cast<unsigned>(workers.size()));
                kill(workers[victim].first, SIGKILL);
                EXPECT_EQ(child::Reap(workers[victim].first), 128 + SIGKILL);
                workers.erase(workers.begin() + static_cast<long>(victim));
                round.workersKilled++;
                spawn();
            }
        }
        for (const auto& [pid, slot] : workers)
            EXPECT_EQ(child::Reap(pid, 60000), 0) << "worker in slot " << slot;

        // Every dead holder was noticed once (this last turn notices one
        // killed after the workers had ended); a worker killed at a random
        // moment may have died inside the lock too.
        ASSERT_TRUE(Enter(memory));
        auto* shared = static_cast<Shared*>(memory.Address());
        int64_t sum = 0;
        for (int64_t count : shared->turns)
            sum += count;
        EXPECT_GE(shared->recovered, round.holdersKilled);
        EXPECT_LE(shared->recovered, round.holdersKilled + round.workersKilled);
        EXPECT_EQ(shared->total, sum);
        shared->holder = 0;
        recovered += shared->recovered;
        turns += sum;
        EXPECT_TRUE(memory.Unlock());
        // Killed processes never detached: the name stays unless removed.
        shm_unlink(name.c_str());

        holdersKilled += round.holdersKilled;
        workersKilled += round.workersKilled;
        processes += round.processes;
        rounds++;
    }
    soak::Report("shmemory", {{"rounds", rounds},
                              {"processes", processes},
                              {"turns", turns},
                              {"holders_killed_in_lock", holdersKilled},
                              {"workers_killed", workersKilled},
                              {"dead_holders_recovered", recovered}});
    EXPECT_GT(holdersKilled + workersKilled, 0);
}

}  // namespace

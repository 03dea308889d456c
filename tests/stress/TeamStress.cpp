// Teams of running threads are cancelled or aborted, round after round, some
// first suspended and resumed, while some of their threads end by themselves.
// Every thread must be gone after each round; a cancelled thread runs
// Canceled() exactly once, an aborted one never; deleting the team returns.
#include <zolib/threads/Crosswalk.h>
#include <zolib/threads/Snooze.h>
#include <zolib/threads/Team.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "stress/Soak.h"

namespace {

enum Kind {
    SLEEPER,   // short sleeps for ever
    POLLER,    // polls for cancellation between very short sleeps
    WAITER,    // waits at a red crosswalk lane (cancel rounds only)
    FINISHER,  // ends by itself after a moment
};

struct Counts {
    std::atomic<long> entered{0};
    std::atomic<long> canceled[4] = {};
    std::atomic<long> finished{0};
};

class Worker : public ZoThread {
  public:
    Worker(Kind kind, Counts* counts, ZoCrosswalk* walk, unsigned long finishUs)
        : ZoThread("worker"), kind(kind), counts(counts), walk(walk), finishUs(finishUs) {}
    ~Worker() override { Halt(); }

    void Process() override {
        tid = gettid();
        counts->entered++;
        switch (kind) {
            case SLEEPER:
                for (;;)
                    mSnooze(2);
            case POLLER:
                for (;;) {
                    IsCanceled();
                    uSnooze(20);
                }
            case WAITER:
                walk->Wait(0, 0);
                break;
            case FINISHER:
                uSnooze(finishUs);
                break;
        }
        counts->finished++;
    }
    void Canceled() override { counts->canceled[kind]++; }

    std::atomic<pid_t> tid{0};  // the kernel's id of the thread

  private:
    Kind kind;
    Counts* counts;
    ZoCrosswalk* walk;
    unsigned long finishUs;
};

// True when the thread has ended or is parked in the suspend handler's wait
// for the resume signal (rt_sigtimedwait): the team's suspension took hold.
bool Parked(Worker* worker) {
    if (!worker->IsRunning()) return true;
    std::string path = "/proc/self/task/" + std::to_string(worker->tid) + "/syscall";
    FILE* file = fopen(path.c_str(), "r");
    if (file == nullptr) return !worker->IsRunning();
    long number = -1;
    bool read = fscanf(file, "%ld", &number) == 1;
    fclose(file);
    return read && number == 128;
}

bool AllStopped(const std::vector<ZoThread*>& threads) {
    for (ZoThread* thread : threads)
        if (thread->IsRunning()) return false;
    return true;
}

TEST(TeamSoak, CancelAndAbortRunningTeams) {
    ZoCrosswalk walk(1);  // lane 0 stays red
    soak::Random random(7);
    soak::Clock clock;
    long rounds = 0, started = 0, ended = 0, canceled = 0, aborted = 0, suspended = 0;
    while (clock.Running() || rounds < 4) {
        bool aborting = rounds % 2 == 1;
        Counts counts;
        ZoTeam team("soak");
        std::vector<ZoThread*> threads;
        std::vector<ZoThread*> forever;  // the threads that never end by themselves
        int count = 4 + static_cast<int>(random.Next(5));
        for (int i = 0; i < count; i++) {
            // An aborted thread would leave the crosswalk's wait broken: no
            // waiters in abort rounds.
            Kind kind = static_cast<Kind>(random.Next(aborting ? 2 : 3));
            if (i == 0) kind = FINISHER;
            ZoThread* thread = new Worker(kind, &counts, &walk, random.Next(3000));
            threads.push_back(thread);
            if (kind != FINISHER) forever.push_back(thread);
            team.Attach(thread);
        }
        team.Run();
        started += count;
        ASSERT_TRUE(soak::WaitUntil([&] { return counts.entered == count; }));
        if (random.Next(4) == 0) {
            team.Suspend();
            EXPECT_TRUE(soak::WaitUntil([&] {
                for (ZoThread* thread : threads)
                    if (!Parked(static_cast<Worker*>(thread))) return false;
                return true;
            }));
            team.Resume();
            suspended++;
        }
        if (aborting) {
            team.Abort();
        } else {
            team.Cancel();
        }
        EXPECT_TRUE(soak::WaitUntil([&] { return AllStopped(threads); }));
        long canceledForever =
            counts.canceled[SLEEPER] + counts.canceled[POLLER] + counts.canceled[WAITER];
        if (aborting) {
            EXPECT_EQ(canceledForever, 0);
            aborted += static_cast<long>(forever.size());
        } else {
            EXPECT_EQ(canceledForever, static_cast<long>(forever.size()));
            canceled += canceledForever;
        }
        // A finisher either ended by itself or was ended; never both.
        EXPECT_LE(counts.finished + counts.canceled[FINISHER],
                  count - static_cast<long>(forever.size()));
        ended += static_cast<long>(threads.size());
        rounds++;
        // The team deletes its threads here.
    }
    EXPECT_EQ(walk.Waiting(0), 0);
    soak::Report("team", {{"rounds", rounds},
                          {"threads_started", started},
                          {"threads_ended", ended},
                          {"canceled", canceled},
                          {"aborted", aborted},
                          {"suspended_rounds", suspended}});
}

}  // namespace

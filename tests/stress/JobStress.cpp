// Jobs are paused and resumed over and over while they work, and some are
// stopped at a random moment, paused or not. A paused job makes at most the
// step it was in; a job left to finish reports every milestone and ends at
// 100 %; a stopped one runs Canceled() once and ends.
#include <zolib/threads/Job.h>
#include <zolib/threads/Snooze.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "stress/Soak.h"

namespace {

constexpr unsigned long kSteps = 200;

class Stepper : public ZoJob {
  public:
    Stepper() : ZoJob("stepper") { SetMaxStep(kSteps); }
    ~Stepper() override { Halt(); }

    void DoIt() override {
        for (unsigned long i = 0; i < kSteps; i++) {
            if (IsPaused()) pausedWaits++;
            steps++;
            uSnooze(20);  // the work of one step
            Milestone("step", 0);
        }
        done = true;
    }
    void Feedback(const char*, short value) override {
        feedbacks++;
        lastProgress = value;
    }
    void Canceled() override { canceled++; }

    std::atomic<long> steps{0};
    std::atomic<long> pausedWaits{0};
    std::atomic<long> feedbacks{0};
    std::atomic<short> lastProgress{0};
    std::atomic<bool> done{false};
    std::atomic<int> canceled{0};
};

void Sleep(soak::Random& random, unsigned upToUs) {
    std::this_thread::sleep_for(std::chrono::microseconds(random.Next(upToUs)));
}

TEST(JobSoak, PausedAndResumedOverAndOver) {
    soak::Random random(3);
    soak::Clock clock;
    long jobs = 0, completed = 0, stopped = 0, pauses = 0, pausedWaits = 0, milestones = 0;
    while (clock.Running() || jobs < 3) {
        Stepper job;
        bool stop = jobs % 3 == 2;
        unsigned stopAfter = random.Next(20);
        job.Start();
        // Stop() cancels only a body that has begun.
        ASSERT_TRUE(soak::WaitUntil([&] { return job.IsRunning() || job.done; }));
        for (unsigned cycle = 0; !job.done; cycle++) {
            if (stop && cycle == stopAfter) break;
            job.Pause();
            long before = job.steps;
            Sleep(random, 2000);
            // Paused: the body finishes at most the step it was in.
            EXPECT_LE(job.steps, before + 1);
            if (stop && cycle + 1 == stopAfter) break;  // stopped while paused
            job.Resume();
            pauses++;
            Sleep(random, 3000);
        }
        if (stop) {
            job.Stop();
            EXPECT_FALSE(job.IsRunning());
            EXPECT_EQ(job.canceled, job.done ? 0 : 1);
            stopped += job.canceled;
        } else {
            EXPECT_TRUE(soak::WaitUntil([&] { return job.done && !job.IsRunning(); }));
            EXPECT_EQ(job.WaitEnd(), 0);
            EXPECT_EQ(job.steps, static_cast<long>(kSteps));
            EXPECT_EQ(job.feedbacks, static_cast<long>(kSteps));  // every milestone
            EXPECT_EQ(job.lastProgress, 100);
            EXPECT_EQ(job.Progress(), 100);
            EXPECT_EQ(job.canceled, 0);
            completed++;
        }
        pausedWaits += job.pausedWaits;
        milestones += job.steps;
        jobs++;
    }
    soak::Report("job", {{"jobs", jobs},
                         {"completed", completed},
                         {"stopped", stopped},
                         {"pauses", pauses},
                         {"paused_waits", pausedWaits},
                         {"steps", milestones}});
    EXPECT_GT(pausedWaits, 0);
}

}  // namespace

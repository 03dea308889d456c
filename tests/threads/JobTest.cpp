// Jobs on a fake tick clock. Jobs paused, resumed and stopped over and over
// while they work are in tests/stress (the job scenario).
#include <zolib/threads/Job.h>
#include <zolib/threads/Snooze.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "threads/Helpers.h"

namespace {

using zotest::FakeClock;
using zotest::WaitUntil;

// A job whose work is a function of the test; it records every report.
class ScriptJob : public ZoJob {
  public:
    explicit ScriptJob(std::function<void(ScriptJob&)> work = nullptr)
        : ZoJob("script"), work(std::move(work)) {}
    ~ScriptJob() override { Halt(); }  // the body uses `work`

    void DoIt() override {
        reached = true;
        if (work) work(*this);
    }
    // Each report, and whether it came from the job's own thread.
    void Feedback(const char* text, short percent) override {
        std::lock_guard<std::mutex> lock(mutex);
        reports.push_back(percent);
        onJobThread += ID() != 0 && pthread_equal(ID(), pthread_self()) && !strcmp(text, "step");
    }
    void Canceled() override { canceled = true; }

    // Runs until told to finish, pausing where asked.
    static void UntilReleased(ScriptJob& job) {
        while (!job.release) {
            if (job.heedPause) job.IsPaused();
            mSnooze(1);
        }
    }

    std::function<void(ScriptJob&)> work;
    std::atomic<bool> reached{false};
    std::atomic<bool> release{false};
    std::atomic<bool> heedPause{true};
    std::atomic<bool> canceled{false};
    std::mutex mutex;
    std::vector<short> reports;
    int onJobThread = 0;
};

TEST(JobFeedback, ReportsEveryStepWhosePercentageIsAMultipleOfTheFrequency) {
    std::vector<short> twice{0};  // 200 steps by 10: each tenth reached by two steps
    for (short percent = 10; percent < 100; percent += 10)
        twice.insert(twice.end(), {percent, percent});
    twice.push_back(100);
    struct {
        unsigned long maxStep;
        short frequency;  // 0: the default (every step)
        int steps;
        std::vector<short> reports;
    } cases[] = {
        {4, 25, 4, {25, 50, 75, 100}}, {3, 50, 3, {100}},     {200, 10, 200, twice},
        {4, 0, 4, {25, 50, 75, 100}},  {0, 10, 3, {0, 0, 0}},  // without maxStep the progress stays
                                                               // put
    };
    for (const auto& c : cases) {
        ScriptJob job;
        job.SetMaxStep(c.maxStep);
        if (c.frequency != 0) job.SetFeedbackFreq(c.frequency);
        for (int i = 0; i < c.steps; i++)
            job.Milestone("step", 0);
        EXPECT_EQ(job.reports, c.reports) << c.maxStep << " steps by " << c.frequency;
    }
    ScriptJob job;
    job.SetMaxStep(1);
    for (int i = 0; i < 400; i++)  // far beyond maxStep: capped, not wrapped
        job.Milestone("more", 0);
    EXPECT_EQ(job.Progress(), 32767);
    job.SetMaxStep(0);
    job.Milestone("b", 0);
    EXPECT_EQ(job.Progress(), 32767);
}

TEST(JobRun, ReportsFromItsOwnThreadAndFreezesTheClock) {
    FakeClock clock(1000);
    ScriptJob job([](ScriptJob& job) {
        for (int i = 0; i < 4; i++)
            job.Milestone("step", 0);
    });
    job.SetMaxStep(4);
    job.SetFeedbackFreq(25);
    job.Start();
    job.Start();  // runs once
    EXPECT_EQ(job.WaitEnd(), 0);
    EXPECT_EQ(job.reports, (std::vector<short>{25, 50, 75, 100}));
    EXPECT_EQ(job.onJobThread, 4);
    double elapsed = 1.0;
    clock.Set(5000);
    job.Elapsed(&elapsed);
    EXPECT_EQ(elapsed, 0.0);  // stopped in the tick it started
}

TEST(JobPause, PausedTimeIsNotCountedNorAfterTheEnd) {
    FakeClock clock(1000);
    ScriptJob job(ScriptJob::UntilReleased);
    job.Resume();  // not paused: nothing
    job.Start();
    ASSERT_TRUE(WaitUntil([&] { return job.reached.load(); }));  // clock started at 1000
    clock.Set(1100);
    job.Pause();  // 100 ticks banked
    job.Pause();  // changes nothing
    clock.Set(1600);
    job.Resume();  // goes on from 1600
    clock.Set(1650);
    double seconds = 0.0;
    job.Elapsed(&seconds);
    EXPECT_DOUBLE_EQ(seconds, 1.49);
    unsigned long nanoseconds = 0;
    job.Elapsed(&nanoseconds);
    EXPECT_EQ(nanoseconds, 1490000000UL);
    // Paused again, it ends without a look at IsPaused(): a later Resume()
    // does not start its clock again.
    job.heedPause = false;
    mSnooze(20);  // past its last look
    job.Pause();
    job.release = true;
    EXPECT_EQ(job.WaitEnd(), 0);
    clock.Set(9000);
    job.Resume();
    job.Elapsed(&seconds);
    EXPECT_DOUBLE_EQ(seconds, 1.5);  // 150 ticks banked, none since
}

TEST(JobPause, PausedBeforeStartWaitsAtItsFirstCheckAndStopsThere) {
    for (bool stop : {false, true}) {
        std::atomic<bool> passed{false}, sawPause{false};
        ScriptJob job([&](ScriptJob& job) {
            sawPause = job.IsPaused();
            passed = true;
        });
        FakeClock clock(100);
        job.Pause();
        job.Start();
        ASSERT_TRUE(WaitUntil([&] { return job.reached.load(); }));
        mSnooze(50);  // into the pause wait
        EXPECT_FALSE(passed);
        clock.Set(301);
        if (stop) {
            job.Stop();  // cancels at IsPaused() and stops the clock
            EXPECT_TRUE(job.canceled);
            EXPECT_FALSE(job.IsRunning());
            clock.Set(10000);
            double seconds = 0.0;
            job.Elapsed(&seconds);
            EXPECT_DOUBLE_EQ(seconds, 2.0);
            // The cancelled body gave the pause mutex back, or this blocks.
            job.Resume();
            job.Pause();
            EXPECT_FALSE(job.Locked());
            job.Unlock();
        }
        job.Resume();
        EXPECT_EQ(job.WaitEnd(), stop ? ESRCH : 0);
        EXPECT_EQ(passed, !stop);
        EXPECT_EQ(sawPause, !stop);
    }
}

TEST(JobEstimate, LeftScalesTheTimePerPercentAndIsZeroAtNoneOrFull) {
    FakeClock clock(2000);
    ScriptJob job([](ScriptJob& job) {
        job.Milestone("quarter", 0);
        ScriptJob::UntilReleased(job);
        for (int i = 0; i < 3; i++)
            job.Milestone("rest", 0);
    });
    job.SetMaxStep(4);
    double seconds = -1.0;
    unsigned long elapsed = 0, left = 7;
    job.Left(&seconds);
    job.Left(&left);
    EXPECT_EQ(seconds, 0.0);
    EXPECT_EQ(left, 0UL);
    job.Left(static_cast<double*>(nullptr));
    job.Elapsed(static_cast<unsigned long*>(nullptr));
    job.Start();
    ASSERT_TRUE(WaitUntil([&] { return job.Progress() == 25; }));
    clock.Set(3001);  // 1000 ticks: 10 s
    job.Left(&seconds);
    EXPECT_DOUBLE_EQ(seconds, 30.0);
    // 10 s are 10^10 ns, kept modulo 2^32 as NSeconds() does.
    job.Elapsed(&elapsed);
    EXPECT_EQ(elapsed, 10000000000UL % 4294967296UL);
    job.Left(&left);
    EXPECT_EQ(left, 4230196224UL);  // 1410065408 / 25 * 75
    job.release = true;
    EXPECT_EQ(job.WaitEnd(), 0);
    job.Left(&seconds);
    EXPECT_EQ(seconds, 0.0);
}

}  // namespace

// The stop watch and jobs on a tick clock set by the tests: exact tick
// arithmetic and widths without sleeping for seconds. Jobs paused, resumed and stopped over
// and over while they work are in tests/stress (the job scenario).
#include <zolib/threads/Job.h>
#include <zolib/threads/Snooze.h>
#include <zolib/threads/StopWatch.h>

#include <gtest/gtest.h>
#include <sys/times.h>

#include <atomic>
#include <cstring>
#include <sstream>
#include <vector>

#include "support/Wait.h"

// The tick count times() gives the whole program, the library's calls
// included: nothing in this program needs the real one.
std::atomic<clock_t> now{0};

extern "C" clock_t times(struct tms* buffer) noexcept {
    if (buffer != nullptr) std::memset(buffer, 0, sizeof *buffer);
    return now;
}

namespace {

using zotest::WaitUntil;
using Reports = std::vector<short>;

// Each step sets the clock, then calls: S Start, P Pause, T Stop, R Reset,
// - nothing. A running watch reads one tick less than it ran. The widths
// are exact (2490000000 ns for 249 ticks, not 2489999999), wrap at 32 bits,
// and read 0 for -1 ticks; microseconds are ticks × 1000.
TEST(StopWatchTicks, EveryCallSequenceCountsTheRunningStretches) {
    const std::pair<const char*, long> kCases[] = {
        {"S5000", -1},  // in the tick it started
        {"S1000 -1250", 249},
        {"S100 P200 -900", 100},  // paused: the banked ticks, no -1
        {"S100 P200 S900 -950", 149},
        {"S0 P30 P50", 80},  // a second pause banks the stretch again
        {"S10 T111 -5000", 100},
        {"S10 P20 T20 R20 S20 -20", -1},
        {"S0 -5000001", 5000000},
        {"S0 -500000001", 500000000},
    };
    for (const auto& c : kCases) {
        ZoStopWatch watch;
        std::istringstream steps(c.first);
        char call;
        for (clock_t at; steps >> call >> at;) {
            now = at;
            if (call == 'S') watch.Start();
            if (call == 'P') watch.Pause();
            if (call == 'T') watch.Stop();
            if (call == 'R') watch.Reset();
        }
        EXPECT_EQ(watch.Ticks(), c.second) << c.first;
        unsigned long long ran = c.second < 0 ? 0 : static_cast<unsigned long long>(c.second);
        EXPECT_DOUBLE_EQ(watch.Seconds(), static_cast<double>(ran) / 100);
        EXPECT_EQ(watch.MSeconds(), ran * 10 % 4294967296ULL);
        EXPECT_EQ(watch.USeconds(), ran * 1000 % 4294967296ULL);
        EXPECT_EQ(watch.NSeconds(), ran * 10000000 % 4294967296ULL);
    }
}

// A job that records every report. Its work: `steps` milestones, waiting
// after the first until released (and pausing there while it heeds pauses).
class ScriptJob : public ZoJob {
  public:
    explicit ScriptJob(int steps = 0) : ZoJob("script"), steps(steps) {}
    ~ScriptJob() override { Halt(); }

    void DoIt() override {
        for (int i = 0; i < steps; i++) {
            Milestone("step", 0);
            while (i == 0 && !release) {
                if (heedPause) IsPaused();
                mSnooze(1);
            }
        }
    }
    // Each report, and whether it came from the job's own thread (read
    // after the thread ended).
    void Feedback(const char* text, short percent) override {
        reports.push_back(percent);
        onJobThread += ID() != 0 && pthread_equal(ID(), pthread_self()) && !strcmp(text, "step");
    }

    const int steps;
    std::atomic<bool> release{false}, heedPause{true};
    Reports reports;
    int onJobThread = 0;
};

// Run once, reporting from its own thread at the steps whose percentage is a
// multiple of the frequency; paused time is not counted, nor the time after
// the end, even when a Resume() comes late; the time left scales the time
// per percent, and is 0 before any progress and at the end. Steps beyond
// the last cap the progress.
TEST(JobRun, ReportsFromItsOwnThreadAndCountsOnlyRunningTime) {
    now = 1000;
    ScriptJob job(4);
    job.SetMaxStep(4);
    job.SetFeedbackFreq(50);
    double seconds = -1.0;
    unsigned long nanoseconds = 7;
    job.Left(&seconds);
    job.Left(&nanoseconds);
    EXPECT_TRUE(seconds == 0.0 && nanoseconds == 0);  // nothing done: no estimate
    job.Resume();                                     // not paused: nothing
    job.Start();
    job.Start();                                                   // runs once
    ASSERT_TRUE(WaitUntil([&] { return job.Progress() == 25; }));  // clock started at 1000
    now = 1100;
    job.Pause();  // 100 ticks banked
    now = 1600;
    job.Resume();  // goes on from 1600
    now = 1650;
    job.Elapsed(&seconds);
    job.Elapsed(&nanoseconds);
    EXPECT_DOUBLE_EQ(seconds, 1.49);
    EXPECT_EQ(nanoseconds, 1490000000UL);
    job.Left(&seconds);  // the time per percent for the 75 to go
    EXPECT_NEAR(seconds, 1.49 * 3, 1e-9);
    job.Left(&nanoseconds);  // wrapped to 32 bits as Elapsed is
    EXPECT_EQ(nanoseconds, 4470000000ULL % 4294967296ULL);
    job.heedPause = false;
    mSnooze(20);  // past its last look at IsPaused()
    job.Pause();
    job.release = true;
    EXPECT_EQ(job.WaitEnd(), 0);
    EXPECT_EQ(job.reports, (Reports{50, 100}));
    EXPECT_EQ(job.onJobThread, 2);
    now = 9000;
    job.Resume();
    job.Elapsed(&seconds);
    EXPECT_DOUBLE_EQ(seconds, 1.5);  // 150 ticks banked, none since
    job.Left(&seconds);
    EXPECT_EQ(seconds, 0.0);  // done
    job.SetMaxStep(1);
    for (int i = 0; i < 400; i++)
        job.Milestone("more", 0);
    EXPECT_EQ(job.Progress(), 32767);
}

}  // namespace

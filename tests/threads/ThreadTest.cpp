// Threads, tasks, sleeps, teams, crosswalks, stop watches and jobs. Random
// control sequences on running threads, cancellation inside every library
// call, and teams, jobs and crosswalks under load are scenarios of the
// stress program (tests/stress/Scenarios.cpp). The stop watch and the jobs run
// on a tick clock set by the tests: exact tick arithmetic without sleeping for
// seconds.
//
// Team.h comes before GoogleTest here, so <sys/wait.h> (which GoogleTest
// includes) defines WAIT_ANY after the team's enumeration; TeamNoMacro.cpp
// and TeamWaitOrder.cpp build the two other orders.
#include <zolib/threads/Crosswalk.h>
#include <zolib/threads/Job.h>
#include <zolib/threads/Snooze.h>
#include <zolib/threads/StopWatch.h>
#include <zolib/threads/Task.h>
#include <zolib/threads/Team.h>
#include <zolib/threads/Thread.h>

#include <gtest/gtest.h>
#include <sys/times.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "support/Wait.h"

static_assert(WAIT_ANY == -1, "the C library's WAIT_ANY keeps its value");

// The tick count times() gives the whole program, the library's calls
// included: nothing in this program needs the real one.
static std::atomic<clock_t> now{0};

extern "C" clock_t times(struct tms* buffer) noexcept {
    if (buffer != nullptr) std::memset(buffer, 0, sizeof *buffer);
    return now;
}

namespace {

using zotest::MillisecondsSince;
using zotest::WaitUntil;

// Sleeps `runFor` ms (-1: until ended), never polling IsStopped(). With
// `deferMs` it first holds cancellation off that long; with `selfAbort` it
// aborts itself.
class Body : public ZoThread {
  public:
    explicit Body(unsigned long deferMs = 0, bool selfAbort = false, const char* name = "body",
                  long runFor = -1)
        : ZoThread(name), deferMs(deferMs), selfAbort(selfAbort), runFor(runFor) {}
    ~Body() override { Halt(); }

    void Process() override {
        struct StackObject {
            Body* body;
            ~StackObject() { body->unwound = true; }
        } guard{this};
        if (deferMs > 0) Cancelable(false);
        entered = true;
        if (selfAbort) Abort();
        if (deferMs > 0) {
            mSnooze(deferMs);  // a cancellation point, but cancellation is off
            survived = true;
            Cancelable(true);
            IsCanceled();
        }
        for (auto start = std::chrono::steady_clock::now();
             runFor < 0 || MillisecondsSince(start) < runFor;)
            mSnooze(1);
    }
    void Canceled() override {
        unwoundFirst = unwound.load();
        canceled++;
    }

    unsigned long deferMs;
    bool selfAbort;
    long runFor;
    std::atomic<bool> entered{false}, survived{false}, unwound{false}, unwoundFirst{false};
    std::atomic<int> canceled{0};
};

// Cancel unwinds the stack, then runs Canceled(); Abort ends the thread on
// the spot, whether cancellation is off or the thread aborts itself. Before
// Run() the controls do nothing; a thread runs once.
TEST(ThreadEnd, CancelUnwindsAndCallsCanceledAbortEndsOnTheSpot) {
    enum How { CANCEL, ABORT, SELF_ABORT };
    const struct {
        How how;
        unsigned long deferMs;
        bool canceled, survived;
    } kCases[] = {
        {CANCEL, 0, true, false},
        {CANCEL, 100, true, true},    // waits while cancellation is off
        {ABORT, 5000, false, false},  // even if cancellation is off
        {SELF_ABORT, 0, false, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << "case " << c.how << ", defer " << c.deferMs);
        Body thread(c.deferMs, c.how == SELF_ABORT);
        EXPECT_EQ(thread.WaitEnd(), ESRCH);
        c.how == CANCEL ? thread.Cancel() : thread.Abort();
        thread.Suspend();
        EXPECT_FALSE(thread.IsSuspended() || thread.IsStopped());
        ASSERT_TRUE(thread.Run());
        if (c.how == SELF_ABORT) {
            EXPECT_EQ(thread.WaitEnd(), 0);
        } else {
            ASSERT_TRUE(WaitUntil([&] { return thread.IsRunning() && thread.entered; }));
            c.how == CANCEL ? thread.Cancel() : thread.Abort();
            EXPECT_TRUE(thread.IsStopped());
        }
        EXPECT_FALSE(thread.IsRunning() || thread.Run());
        EXPECT_EQ(thread.canceled, c.canceled ? 1 : 0);
        EXPECT_EQ(thread.unwound && thread.unwoundFirst, c.canceled);
        EXPECT_EQ(thread.survived, c.survived);
    }
}

// The function gets the task and its data; a self-deleting task is released
// on its own thread (the sanitizer builds see memory and thread released).
TEST(Task, CallsItsFunctionWithItselfAndDataAndMayDeleteItself) {
    static std::atomic<ZoTask*> seen{nullptr};
    auto record = [](ZoTask* task, void* data) { seen = data == &seen ? task : nullptr; };
    ZoTask* self = new ZoTask("self", record, &seen, true);
    ASSERT_TRUE(self->Run());
    EXPECT_TRUE(WaitUntil([&] { return seen == self; }));
}

// Each unit's split into seconds and the rest: a wrong one is refused by the
// kernel (-1) or sleeps the wrong time. Suspended and resumed midway, a
// sleep still lasts its full time.
TEST(Snooze, SleepsAtLeastTheTimeInEveryUnitEvenWhenSuspended) {
    const struct {
        int (*snooze)(unsigned long);
        unsigned long value;
        long atLeastMs;
    } kCases[] = {{mSnooze, 1500, 1500},
                  {uSnooze, 1000500, 1000},
                  {nSnooze, 1000000001, 1000},
                  {sSnooze, 0, 0}};
    for (const auto& c : kCases) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c.snooze(c.value), 0) << c.value;
        EXPECT_GE(MillisecondsSince(start), c.atLeastMs) << c.value;
    }
    std::atomic<long> slept{0};
    auto sleep = [](ZoTask*, void* data) {
        auto start = std::chrono::steady_clock::now();
        *static_cast<std::atomic<long>*>(data) = mSnooze(1200) == 0 ? MillisecondsSince(start) : -1;
    };
    ZoTask sleeper("sleeper", sleep, &slept, false);
    ASSERT_TRUE(sleeper.Run());
    mSnooze(100);
    sleeper.Suspend();
    mSnooze(300);
    sleeper.Resume();  // not lost: the sleep ends, at its full time
    ASSERT_TRUE(WaitUntil([&] { return slept != 0; }));
    EXPECT_GE(slept, 1200);
    errno = 0;
    EXPECT_TRUE(Snooze(1, static_cast<TSnoozeTime>(7)) == -1 && errno == EINVAL);
}

// WAIT_ALL returns once every member ended, WAIT_ANY once one did (each
// after at least one poll); other modes, and WAIT_ANY on an empty team, at
// once. The team deletes its members, aborting those still running.
TEST(Team, WaitAllForTheLastAnyForTheFirstAndMembersListedOnce) {
    struct {
        int mode;
        long slowMs;     // the second member's time; -1: until stopped
        bool slowEnded;  // when WaitEnd returns
        long atLeastMs, underMs;
    } cases[] = {
        {WAIT_ALL, 1300, true, 1000, 30000},
        {WAIT_ANY, -1, false, 0, 30000},  // WAIT_ANY is <sys/wait.h>'s -1 in this file
        {7, -1, false, 0, 900},           // not a mode: no poll
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        ZoTeam team("crew");
        auto* quick = new Body(0, false, "quick", 20);
        auto* slow = new Body(0, false, "slow", c.slowMs);
        team.Attach(quick);
        team.Attach(slow);
        team.Run();
        ASSERT_TRUE(WaitUntil([&] { return slow->IsRunning(); }));
        auto start = std::chrono::steady_clock::now();
        team.WaitEnd(c.mode);
        EXPECT_GE(MillisecondsSince(start), c.atLeastMs);
        EXPECT_LT(MillisecondsSince(start), c.underMs);
        EXPECT_TRUE(c.underMs <= 900 || !quick->IsRunning());
        EXPECT_EQ(slow->IsRunning(), !c.slowEnded);
    }
    ZoTeam empty("nobody");
    auto start = std::chrono::steady_clock::now();
    empty.WaitEnd(WAIT_ANY);
    EXPECT_LT(MillisecondsSince(start), 900);
    EXPECT_TRUE(empty.IsRunning() && empty.IsSuspended());  // true of every member of none
    // A thread is listed once, Find takes the first of a name, and only the
    // team of a thread detaches it.
    ZoTeam team("crew");
    Body first(0, false, "twin"), second(0, false, "twin");
    for (ZoThread* thread : {&first, &first, &second, static_cast<Body*>(nullptr)})
        team.Attach(thread);
    EXPECT_EQ(team.Find("twin"), &first);
    empty.Deattach(&first);
    EXPECT_EQ(first.Team(), &team);
    team.Deattach(&first);
    EXPECT_EQ(first.Team(), nullptr);
    EXPECT_FALSE(team.IsRunning() || team.IsSuspended());
    EXPECT_EQ(team.Find("twin"), &second);  // gone with one Deattach
    team.Deattach(&second);
}

// Waiters are let go by their own lane's green light only, every one of
// them, and while it stays green; the crosswalk lock is not held meanwhile
// (Locked() takes a free lock). Lanes outside the range are ignored.
TEST(CrosswalkLights, OneGreenReleasesEveryWaiterAndStaysGreenUntilRed) {
    static std::atomic<int> crossed{0};
    ZoCrosswalk crosswalk(3);
    auto walk = [](ZoTask*, void* data) { crossed += static_cast<ZoCrosswalk*>(data)->Wait(2, 0); };
    std::vector<std::unique_ptr<ZoTask>> walkers;
    for (int i = 0; i < 3; i++) {
        walkers.emplace_back(new ZoTask("walker", walk, &crosswalk, false));
        ASSERT_TRUE(walkers.back()->Run());
    }
    ASSERT_TRUE(WaitUntil([&] { return crosswalk.Waiting(2) == 3; }));
    crosswalk.Red(2);
    crosswalk.Green(0);
    crosswalk.Green(-1);
    mSnooze(50);
    EXPECT_EQ(crosswalk.Waiting(2), 3);
    EXPECT_FALSE(crosswalk.Locked());
    crosswalk.Unlock();
    crosswalk.Green(2);
    ASSERT_TRUE(WaitUntil([&] { return crossed == 3; }));
    for (auto& walker : walkers)
        EXPECT_EQ(walker->WaitEnd(), 0);
    EXPECT_EQ(crosswalk.Waiting(2) + crosswalk.Waiting(3), 0);
    EXPECT_TRUE(crosswalk.Wait(2, 0) && crosswalk.Wait(0, 1000));
    EXPECT_FALSE(crosswalk.Wait(-1, 0) || crosswalk.Wait(3, 1000));
    crosswalk.Red(2);
    EXPECT_FALSE(crosswalk.Wait(2, 20000000));
}

// Each step sets the clock, then calls: S Start, P Pause, T Stop, R Reset,
// - nothing. A running watch reads one tick less than it ran. The widths
// are exact (2490000000 ns for 249 ticks, not 2489999999), wrap at 32 bits,
// and read 0 for -1 ticks; microseconds are ticks × 1000.
TEST(StopWatchTicks, EveryCallSequenceCountsTheRunningStretches) {
    const std::pair<const char*, long> kCases[] = {
        {"S5000", -1},  // in the tick it started
        {"S1000 -1250", 249},
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

// A job that records every report. Its work: four milestones, waiting after
// the first until released (and pausing there while it heeds pauses).
class ScriptJob : public ZoJob {
  public:
    ScriptJob() : ZoJob("script") {}
    ~ScriptJob() override { Halt(); }

    void DoIt() override {
        for (int i = 0; i < 4; i++) {
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

    std::atomic<bool> release{false}, heedPause{true};
    std::vector<short> reports;
    int onJobThread = 0;
};

// Run once, reporting from its own thread at the steps whose percentage is a
// multiple of the frequency; paused time is not counted, nor the time after
// the end, even when a Resume() comes late; the time left scales the time
// per percent, and is 0 before any progress and at the end. Steps beyond
// the last cap the progress.
TEST(JobRun, ReportsFromItsOwnThreadAndCountsOnlyRunningTime) {
    now = 1000;
    ScriptJob job;
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
    job.heedPause = false;
    mSnooze(20);  // past its last look at IsPaused()
    job.Pause();
    job.release = true;
    EXPECT_EQ(job.WaitEnd(), 0);
    EXPECT_EQ(job.reports, (std::vector<short>{50, 100}));
    EXPECT_EQ(job.onJobThread, 2);
    now = 9000;
    job.Resume();
    job.Elapsed(&seconds);
    EXPECT_DOUBLE_EQ(seconds, 1.5);  // 150 ticks banked, none since
    job.Left(&seconds);
    EXPECT_EQ(seconds, 0.0);  // done
}

}  // namespace

#include <zolib/threads/Snooze.h>
#include <zolib/threads/Task.h>
#include <zolib/threads/Thread.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "threads/Helpers.h"

namespace {

using zotest::MillisecondsSince;
using zotest::WaitUntil;
using SteadyClock = std::chrono::steady_clock;

// Counts rounds until released; each round sleeps, which is a cancellation
// point and lets signals in. (Suspension, and its mix with cancel and abort,
// is swept in tests/stress/ControlSweep.cpp.) The loop does not poll IsStopped(): Cancel()
// and Abort() set the stop flag first, and a body that ended on it would
// not show how the thread was ended.
class Counter : public ZoThread {
  public:
    explicit Counter(const char* name = "counter") : ZoThread(name) {}
    ~Counter() override { Halt(); }

    void Process() override {
        while (!release) {
            rounds++;
            mSnooze(1);
        }
    }
    void Canceled() override { canceled = true; }

    std::atomic<bool> release{false};
    std::atomic<long> rounds{0};
    std::atomic<bool> canceled{false};
};

// What a body leaves behind for the test to inspect.
struct Trace {
    std::atomic<bool> release{false};  // lets a body end on its own
    std::atomic<bool> entered{false};
    std::atomic<bool> pastTheEnd{false};  // code after the point where the body must end
    std::atomic<bool> unwound{false};     // a stack object's destructor ran
    std::atomic<bool> canceled{false};
    std::atomic<pthread_t> canceledOn{0};
    std::atomic<int> order{0};  // 1: stack object went first, 2: Canceled() first
};

struct StackObject {
    Trace* trace;
    ~StackObject() {
        trace->unwound = true;
        int none = 0;
        trace->order.compare_exchange_strong(none, 1);
    }
};

class Blocked : public ZoThread {
  public:
    explicit Blocked(Trace* trace, bool cancelable = true)
        : ZoThread("blocked"), trace(trace), cancelable(cancelable) {}
    ~Blocked() override { Halt(); }

    void Process() override {
        StackObject guard{trace};
        if (!cancelable) Cancelable(false);
        trace->entered = true;
        while (!trace->release)
            mSnooze(1);  // not IsStopped(), as in Counter
        trace->pastTheEnd = true;
    }
    void Canceled() override {
        trace->canceledOn = pthread_self();
        trace->canceled = true;
        int none = 0;
        trace->order.compare_exchange_strong(none, 2);
    }

    Trace* trace;
    bool cancelable;
};

TEST(ThreadLifecycle, RunsOnceOnly) {
    Counter thread("once");
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.IsSuspended());
    EXPECT_EQ(thread.WaitEnd(), ESRCH);
    EXPECT_STREQ(thread.GetName(), "once");

    ASSERT_TRUE(thread.Run());
    EXPECT_NE(thread.ID(), pthread_t{0});
    ASSERT_TRUE(WaitUntil([&] { return thread.IsRunning(); }));
    EXPECT_FALSE(thread.Run());

    thread.Stop();
    EXPECT_TRUE(thread.IsStopped());
    thread.release = true;
    EXPECT_EQ(thread.WaitEnd(), 0);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.Run());
    EXPECT_EQ(thread.WaitEnd(), ESRCH);
    EXPECT_FALSE(thread.canceled);
}

TEST(ThreadLifecycle, ControlsBeforeRunAreHarmless) {
    Counter thread;
    thread.Suspend();
    EXPECT_FALSE(thread.IsSuspended());
    thread.Resume();
    thread.Cancel();
    thread.Abort();
    EXPECT_FALSE(thread.IsStopped());
    ASSERT_TRUE(thread.Run());
    ASSERT_TRUE(WaitUntil([&] { return thread.rounds > 0; }));
}

struct Nap {
    std::atomic<bool> started{false};
    std::atomic<long> slept{0};
    std::atomic<int> result{-2};
};

TEST(ThreadSuspension, SleeperStillSleepsItsFullTime) {
    Nap nap;
    ZoTask task(
        "sleeper",
        [](ZoTask*, void* data) {
            Nap* nap = static_cast<Nap*>(data);
            auto start = SteadyClock::now();
            nap->started = true;
            nap->result = mSnooze(1200);  // whole seconds and a remainder
            nap->slept = MillisecondsSince(start);
        },
        &nap, false);
    ASSERT_TRUE(task.Run());
    ASSERT_TRUE(WaitUntil([&] { return nap.started.load(); }));
    mSnooze(100);
    task.Suspend();
    mSnooze(300);
    task.Resume();
    EXPECT_EQ(task.WaitEnd(), 0);
    EXPECT_EQ(nap.result, 0);
    EXPECT_GE(nap.slept, 1200);
}

TEST(ThreadCancel, UnwindsTheStackThenRunsCanceled) {
    Trace trace;
    Blocked thread(&trace);
    ASSERT_TRUE(thread.Run());
    ASSERT_TRUE(WaitUntil([&] { return trace.entered.load(); }));
    pthread_t id = thread.ID();
    thread.Cancel();
    EXPECT_TRUE(trace.canceled);
    EXPECT_TRUE(pthread_equal(trace.canceledOn, id));  // Canceled() ran on the thread
    EXPECT_TRUE(trace.unwound);
    EXPECT_EQ(trace.order, 1);
    EXPECT_FALSE(trace.pastTheEnd);
    EXPECT_TRUE(thread.IsStopped());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.WaitEnd(), ESRCH);  // Cancel() joined it
}

struct Deferral {
    std::atomic<bool> disabled{false};
    std::atomic<bool> survived{false};
    std::atomic<bool> pastTheEnd{false};
};

TEST(ThreadCancel, WaitsWhileCancellationIsDisabled) {
    Deferral state;
    ZoTask task(
        "deferred",
        [](ZoTask*, void* data) {
            Deferral* state = static_cast<Deferral*>(data);
            Cancelable(false);
            state->disabled = true;
            mSnooze(100);  // a cancellation point, but cancellation is off
            state->survived = true;
            Cancelable(true);
            IsCanceled();
            state->pastTheEnd = true;
        },
        &state, false);
    ASSERT_TRUE(task.Run());
    ASSERT_TRUE(WaitUntil([&] { return task.IsRunning() && state.disabled; }));
    task.Cancel();
    EXPECT_TRUE(state.survived);
    EXPECT_FALSE(state.pastTheEnd);
    EXPECT_FALSE(IsCanceled());  // nothing pending here
}

TEST(ThreadAbort, StopsWithoutCleanupEvenIfCancellationIsOff) {
    Trace trace;
    Blocked thread(&trace, false);
    ASSERT_TRUE(thread.Run());
    ASSERT_TRUE(WaitUntil([&] { return trace.entered.load(); }));
    thread.Abort();
    EXPECT_FALSE(trace.canceled);
    EXPECT_FALSE(trace.unwound);
    EXPECT_FALSE(trace.pastTheEnd);
    EXPECT_TRUE(thread.IsStopped());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.WaitEnd(), ESRCH);  // Abort() joined it
}

TEST(ThreadAbort, ReachesAThreadSuspendedBeforeItsBody) {
    // A suspend sent right after Run() parks the thread before Process().
    for (int round = 0; round < 5; round++) {
        Counter thread;
        ASSERT_TRUE(thread.Run());
        thread.Suspend();
        mSnooze(50);  // parked in the suspend handler, short of Process()
        thread.Abort();
        EXPECT_FALSE(thread.IsRunning());
        EXPECT_FALSE(thread.IsSuspended());
    }
}

class SelfAborting : public ZoThread {
  public:
    explicit SelfAborting(Trace* trace) : ZoThread("self"), trace(trace) {}
    ~SelfAborting() override { Halt(); }
    void Process() override {
        StackObject guard{trace};
        trace->entered = true;
        Abort();
        trace->pastTheEnd = true;
    }
    void Canceled() override { trace->canceled = true; }
    Trace* trace;
};

TEST(ThreadAbort, ThreadAbortingItselfEndsThereAndCanBeJoined) {
    Trace trace;
    SelfAborting thread(&trace);
    ASSERT_TRUE(thread.Run());
    EXPECT_EQ(thread.WaitEnd(), 0);
    EXPECT_TRUE(trace.entered);
    EXPECT_FALSE(trace.pastTheEnd);
    EXPECT_FALSE(trace.unwound);
    EXPECT_FALSE(trace.canceled);
    EXPECT_FALSE(thread.IsRunning());
}

struct TaskTrace {
    std::atomic<ZoTask*> self{nullptr};
    std::atomic<int> destroyed{0};
    std::atomic<bool> canceled{false};
};

class TracedTask : public ZoTask {
  public:
    TracedTask(void (*func)(ZoTask*, void*), TaskTrace* trace, bool autoDelete)
        : ZoTask("traced", func, trace, autoDelete), trace(trace) {}
    ~TracedTask() override { trace->destroyed++; }
    void Canceled() override { trace->canceled = true; }
    TaskTrace* trace;
};

void RecordSelf(ZoTask* task, void* data) {
    static_cast<TaskTrace*>(data)->self = task;
}

TEST(Task, CallsItsFunctionWithItselfAndData) {
    TaskTrace trace;
    TracedTask task(RecordSelf, &trace, false);
    ASSERT_TRUE(task.Run());
    EXPECT_EQ(task.WaitEnd(), 0);
    EXPECT_EQ(trace.self, &task);
    EXPECT_EQ(trace.destroyed, 0);
}

TEST(Task, AutoDeleteReleasesTheTaskOnItsOwnThread) {
    TaskTrace trace;
    auto* task = new TracedTask(RecordSelf, &trace, true);
    ZoTask* started = task;
    ASSERT_TRUE(task->Run());
    // The leak and thread checkers of the sanitizer builds see whether the
    // memory and the thread were released.
    ASSERT_TRUE(WaitUntil([&] { return trace.destroyed == 1; }));
    EXPECT_EQ(trace.self, started);
    EXPECT_FALSE(trace.canceled);
}

TEST(Snooze, SleepsAtLeastTheTimeInEveryUnit) {
    // Above a second the request needs both fields; a wrong split is refused
    // by the kernel (-1) or sleeps the wrong time. The sleeps run in parallel.
    struct Sleep {
        int (*snooze)(unsigned long);
        unsigned long value;
        long atLeastMs;
        std::atomic<int> result{-2};
        std::atomic<long> slept{0};
    } sleeps[] = {{mSnooze, 20, 20},     {uSnooze, 20000, 20},     {nSnooze, 20000000, 20},
                  {mSnooze, 1500, 1500}, {uSnooze, 1000500, 1000}, {nSnooze, 1000000001, 1000},
                  {sSnooze, 0, 0},       {nSnooze, 0, 0}};
    std::vector<std::unique_ptr<ZoTask>> tasks;
    for (Sleep& sleep : sleeps) {
        tasks.emplace_back(new ZoTask(
            "sleeper",
            [](ZoTask*, void* data) {
                Sleep* sleep = static_cast<Sleep*>(data);
                auto start = SteadyClock::now();
                sleep->result = sleep->snooze(sleep->value);
                sleep->slept = MillisecondsSince(start);
            },
            &sleep, false));
        ASSERT_TRUE(tasks.back()->Run());
    }
    for (size_t i = 0; i < tasks.size(); i++) {
        EXPECT_EQ(tasks[i]->WaitEnd(), 0);
        EXPECT_EQ(sleeps[i].result, 0) << i;
        EXPECT_GE(sleeps[i].slept, sleeps[i].atLeastMs) << i;
    }
    EXPECT_EQ(Snooze(20, SNOOZE_MSEC), 0);
    EXPECT_EQ(Yield(), 0);
}

TEST(Snooze, RefusesAnUnknownUnit) {
    errno = 0;
    EXPECT_EQ(Snooze(1, static_cast<TSnoozeTime>(7)), -1);
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace

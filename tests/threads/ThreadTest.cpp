// Threads, tasks and sleeps. Random sequences of Suspend, Resume, Stop,
// Cancel and Abort on running threads are swept in tests/stress/ControlSweep.cpp,
// cancellation inside every library call in tests/stress/CancelSweep.cpp.
#include <zolib/threads/Snooze.h>
#include <zolib/threads/Task.h>
#include <zolib/threads/Thread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <vector>

#include "threads/Helpers.h"

namespace {

using zotest::MillisecondsSince;
using zotest::WaitUntil;

// What a body leaves behind for the test to inspect.
struct Trace {
    std::atomic<bool> entered{false};
    std::atomic<bool> survived{false};    // past a stretch with cancellation off
    std::atomic<bool> pastTheEnd{false};  // code after the point where the body must end
    std::atomic<bool> unwound{false};     // a stack object's destructor ran
    std::atomic<int> canceled{0};
    std::atomic<int> order{0};  // 1: the stack object went first, 2: Canceled() first
    void First(int who) {
        int none = 0;
        order.compare_exchange_strong(none, who);
    }
};

struct StackObject {
    Trace* trace;
    ~StackObject() {
        trace->unwound = true;
        trace->First(1);
    }
};

// Sleeps until ended. With `deferMs`, it first holds cancellation off for
// that long; with `selfAbort`, it aborts itself. It never polls IsStopped(),
// which would not show how it was ended.
class Body : public ZoThread {
  public:
    Body(Trace* trace, unsigned long deferMs, bool selfAbort)
        : ZoThread("body"), trace(trace), deferMs(deferMs), selfAbort(selfAbort) {}
    ~Body() override { Halt(); }

    void Process() override {
        StackObject guard{trace};
        if (deferMs > 0) Cancelable(false);
        trace->entered = true;
        if (selfAbort) Abort();
        if (deferMs > 0) {
            mSnooze(deferMs);  // a cancellation point, but cancellation is off
            trace->survived = true;
            Cancelable(true);
            IsCanceled();
        }
        for (;;)
            mSnooze(1);
        trace->pastTheEnd = true;
    }
    void Canceled() override {
        trace->canceled++;
        trace->First(2);
    }

    Trace* trace;
    unsigned long deferMs;
    bool selfAbort;
};

TEST(ThreadLifecycle, RunsOnceAndControlsBeforeRunAreHarmless) {
    Trace trace;
    Body thread(&trace, 0, false);
    EXPECT_EQ(thread.WaitEnd(), ESRCH);
    thread.Suspend();
    EXPECT_FALSE(thread.IsSuspended());
    thread.Resume();
    thread.Cancel();
    thread.Abort();
    EXPECT_FALSE(thread.IsStopped());
    EXPECT_FALSE(thread.IsRunning());

    ASSERT_TRUE(thread.Run());
    EXPECT_NE(thread.ID(), pthread_t{0});
    ASSERT_TRUE(WaitUntil([&] { return thread.IsRunning() && trace.entered; }));
    EXPECT_FALSE(thread.Run());
    thread.Cancel();
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.Run());
}

TEST(ThreadEnd, CancelUnwindsAndCallsCanceledAbortEndsOnTheSpot) {
    enum How { CANCEL, ABORT, SELF_ABORT };
    const struct {
        How how;
        unsigned long deferMs;
        int canceled;  // Canceled() runs once after the unwinding, or never
        bool survived;
    } kCases[] = {
        {CANCEL, 0, 1, false},     {CANCEL, 100, 1, true},   // waits while cancellation is off
        {ABORT, 0, 0, false},      {ABORT, 5000, 0, false},  // even if cancellation is off
        {SELF_ABORT, 0, 0, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << "case " << c.how << ", defer " << c.deferMs);
        Trace trace;
        Body thread(&trace, c.deferMs, c.how == SELF_ABORT);
        ASSERT_TRUE(thread.Run());
        if (c.how == SELF_ABORT) {
            EXPECT_EQ(thread.WaitEnd(), 0);
        } else {
            ASSERT_TRUE(WaitUntil([&] { return thread.IsRunning() && trace.entered; }));
            c.how == CANCEL ? thread.Cancel() : thread.Abort();
            EXPECT_TRUE(thread.IsStopped());
            EXPECT_EQ(thread.WaitEnd(), ESRCH);  // joined already
        }
        EXPECT_FALSE(thread.IsRunning());
        EXPECT_EQ(trace.canceled, c.canceled);
        EXPECT_EQ(trace.unwound, c.canceled == 1);
        EXPECT_EQ(trace.order, c.canceled == 1 ? 1 : 0);
        EXPECT_EQ(trace.survived, c.survived);
        EXPECT_FALSE(trace.pastTheEnd);
    }
    EXPECT_FALSE(IsCanceled());  // nothing pending here
}

TEST(ThreadEnd, AbortReachesAThreadSuspendedBeforeItsBody) {
    for (int round = 0; round < 3; round++) {
        Trace trace;
        Body thread(&trace, 0, false);
        ASSERT_TRUE(thread.Run());
        thread.Suspend();
        mSnooze(50);  // parked in the suspend handler, short of Process()
        thread.Abort();
        EXPECT_FALSE(thread.IsRunning());
        EXPECT_FALSE(thread.IsSuspended());
    }
}

struct TaskTrace {
    std::atomic<ZoTask*> self{nullptr};
    std::atomic<int> destroyed{0};
};

class TracedTask : public ZoTask {
  public:
    TracedTask(TaskTrace* trace, bool autoDelete)
        : ZoTask("traced", RecordSelf, trace, autoDelete), trace(trace) {}
    ~TracedTask() override { trace->destroyed++; }
    static void RecordSelf(ZoTask* task, void* data) { static_cast<TaskTrace*>(data)->self = task; }
    TaskTrace* trace;
};

TEST(Task, CallsItsFunctionWithItselfAndDataAndMayDeleteItself) {
    TaskTrace trace;
    {
        TracedTask task(&trace, false);
        ASSERT_TRUE(task.Run());
        EXPECT_EQ(task.WaitEnd(), 0);
        EXPECT_EQ(trace.self, &task);
        EXPECT_EQ(trace.destroyed, 0);
    }
    // Released on its own thread: the sanitizer builds see the memory and
    // the thread released.
    auto* task = new TracedTask(&trace, true);
    ZoTask* started = task;
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(WaitUntil([&] { return trace.destroyed == 2; }));
    EXPECT_EQ(trace.self, started);
}

TEST(Snooze, SleepsAtLeastTheTimeInEveryUnitEvenWhenSuspended) {
    // Above a second the request needs both fields; a wrong split is refused
    // by the kernel (-1) or sleeps the wrong time. The sleeps run in
    // parallel, and are suspended and resumed midway: they still sleep their
    // full time.
    struct Sleep {
        int (*snooze)(unsigned long);
        unsigned long value;
        long atLeastMs;
        std::atomic<int> result{-2};
        std::atomic<long> slept{0};
    } sleeps[] = {{mSnooze, 20, 20},     {uSnooze, 20000, 20},     {nSnooze, 20000000, 20},
                  {mSnooze, 1500, 1500}, {uSnooze, 1000500, 1000}, {nSnooze, 1000000001, 1000},
                  {sSnooze, 0, 0},       {nSnooze, 0, 0},          {mSnooze, 1200, 1200}};
    std::vector<std::unique_ptr<ZoTask>> tasks;
    for (Sleep& sleep : sleeps) {
        tasks.emplace_back(new ZoTask(
            "sleeper",
            [](ZoTask*, void* data) {
                Sleep* sleep = static_cast<Sleep*>(data);
                auto start = std::chrono::steady_clock::now();
                sleep->result = sleep->snooze(sleep->value);
                sleep->slept = MillisecondsSince(start);
            },
            &sleep, false));
        ASSERT_TRUE(tasks.back()->Run());
    }
    mSnooze(100);
    tasks.back()->Suspend();
    mSnooze(300);
    tasks.back()->Resume();
    for (size_t i = 0; i < tasks.size(); i++) {
        EXPECT_EQ(tasks[i]->WaitEnd(), 0);
        EXPECT_EQ(sleeps[i].result, 0) << i;
        EXPECT_GE(sleeps[i].slept, sleeps[i].atLeastMs) << i;
    }
    EXPECT_EQ(Snooze(20, SNOOZE_MSEC), 0);
    EXPECT_EQ(Yield(), 0);
    errno = 0;
    EXPECT_EQ(Snooze(1, static_cast<TSnoozeTime>(7)), -1);
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace

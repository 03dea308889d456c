// Control sweep: random sequences of Suspend, Resume, Stop, Cancel and Abort,
// with random gaps from none to a few milliseconds, on counting threads.
// After each sequence the thread must be in the state of its last effective
// call (parked and not counting, counting, or ended) and leave within bounds;
// a cancelled thread runs Canceled() once, an aborted one never. Signals of
// one kind merge while pending, so back-to-back calls are the hard cases.
#include <zolib/threads/Snooze.h>
#include <zolib/threads/Thread.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "stress/Soak.h"

namespace {

// Counts until stopped. Rounds alternate a short sleep (the handlers then
// interrupt a cancellation point) with a short spin (ordinary code).
// Cancel() sets the stop flag before it cancels, so a body that sees the flag
// gives a cancellation a moment to arrive before it leaves on its own.
class Counter : public ZoThread {
  public:
    Counter() : ZoThread("counter") {}
    ~Counter() override { Halt(); }

    void Process() override {
        tid = gettid();
        for (;;) {
            IsCanceled();
            if (IsStopped()) {
                uSnooze(200);
                return;
            }
            count++;
            if (count % 2 == 0)
                uSnooze(30);
            else
                for (volatile int i = 0; i < 20000; i++) {
                }
        }
    }
    void Canceled() override { canceled++; }

    std::atomic<long> count{0};
    std::atomic<int> canceled{0};
    std::atomic<pid_t> tid{0};
};

enum Op { SUSPEND, RESUME, STOP, CANCEL, ABORT };

// What the calls so far must have left.
struct Model {
    bool ended = false;  // Cancel() or Abort() returned: the thread is gone
    bool suspended = false;
    bool stopped = false;      // Stop(): the body leaves once it runs
    bool mayHaveLeft = false;  // stopped while running: Cancel() may find it gone
    bool aborted = false;

    void Apply(Op op) {
        if (ended) return;
        if (op == SUSPEND || op == RESUME) suspended = op == SUSPEND;
        if (op == STOP) stopped = true;
        if (op == CANCEL || op == ABORT) {
            ended = true;
            aborted = op == ABORT;
        }
        if (stopped && !suspended) mayHaveLeft = true;
    }
};

// One run: a new counter, `length` random calls, the checks, the end.
// Returns the number of calls made; any failure is recorded by gtest.
int OneSequence(soak::Random& random, long* parkedChecks, long* canceled) {
    Counter thread;
    if (!thread.Run()) return 0;
    if (!soak::WaitUntil([&] { return thread.count > 0; })) {
        ADD_FAILURE() << "counter never started";
        return 0;
    }
    Model model;
    int length = 1 + static_cast<int>(random.Next(6));
    std::string trail;
    for (int i = 0; i < length; i++) {
        // Mostly suspensions and resumptions: the ends come last.
        static const Op kWeighted[] = {SUSPEND, SUSPEND, SUSPEND, RESUME,  RESUME, RESUME,
                                       STOP,    CANCEL,  ABORT,   SUSPEND, RESUME};
        Op op = kWeighted[random.Next(sizeof(kWeighted) / sizeof(kWeighted[0]))];
        trail += "SRTCA"[op];
        static void (*const kCalls[])(ZoThread&) = {
            [](ZoThread& t) { t.Suspend(); }, [](ZoThread& t) { t.Resume(); },
            [](ZoThread& t) { t.Stop(); }, [](ZoThread& t) { t.Cancel(); },
            [](ZoThread& t) { t.Abort(); }};
        kCalls[op](thread);
        model.Apply(op);
        // Mostly none or microseconds, sometimes up to 3 ms.
        unsigned gap = random.Next(10);
        if (gap >= 5) uSnooze(gap < 8 ? random.Next(200) : random.Next(3000));
    }
    SCOPED_TRACE("calls " + trail);

    if (model.ended) {
        EXPECT_FALSE(thread.IsRunning());
        EXPECT_LE(thread.canceled, model.aborted ? 0 : 1);
        *canceled += thread.canceled;
    } else if (model.suspended && model.mayHaveLeft) {
        // Stopped while running, then suspended: parked, or gone before.
        EXPECT_TRUE(
            soak::WaitUntil([&] { return soak::Parked(thread.tid) || !thread.IsRunning(); }));
    } else if (model.suspended) {
        // Parked, and no longer counting, until it is resumed.
        EXPECT_TRUE(thread.IsSuspended());
        EXPECT_TRUE(soak::WaitUntil([&] { return soak::Parked(thread.tid); }));
        long parked = thread.count;
        uSnooze(500);
        EXPECT_EQ(thread.count, parked);
        ++*parkedChecks;
    } else if (model.stopped) {
        EXPECT_TRUE(soak::WaitUntil([&] { return !thread.IsRunning(); }));
    } else {
        long before = thread.count;
        EXPECT_TRUE(soak::WaitUntil([&] { return thread.count > before + 2; }));
    }
    // Whatever the state, the thread ends within bounds (the watchdog
    // catches a hang) and is cancelled at most once.
    thread.Resume();
    thread.Cancel();
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_LE(thread.canceled, 1);
    return length;
}

TEST(ControlSweep, EveryCallSequenceEndsInTheStateOfItsLastCall) {
    // A few controllers at once, each with its own counter.
    const int kControllers = 3;
    std::atomic<long> runs{0}, calls{0}, parked{0}, canceled{0};
    std::vector<std::thread> controllers;
    for (int c = 0; c < kControllers; c++) {
        controllers.emplace_back([&, c] {
            soak::Random random(17 + c);
            soak::Clock clock;
            long checks = 0, cancels = 0;
            while (clock.Running() && !::testing::Test::HasFailure()) {
                calls += OneSequence(random, &checks, &cancels);
                runs++;
            }
            parked += checks;
            canceled += cancels;
        });
    }
    for (auto& controller : controllers)
        controller.join();
    soak::Report("ControlSweep", {{"runs", runs},
                                  {"calls", calls},
                                  {"parkedChecks", parked},
                                  {"canceledInSequence", canceled}});
}

}  // namespace

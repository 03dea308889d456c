// The stress program: each test runs for the soak time under the sanitizers,
// failing on anything lost or inconsistent.
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Pipe.h>
#include <zolib/threads/Crosswalk.h>
#include <zolib/threads/Snooze.h>
#include <zolib/threads/Team.h>

#include <gtest/gtest.h>

#include <memory>

#include "messaging/ChildProcess.h"
#include "stress/Soak.h"

namespace {

using std::chrono::microseconds;

// Threads post to one looper while others send flat bags through pipes of
// their own connected to it: every bag is handled once, each source's in the
// order sent. A bag's `what` is its source.
constexpr int kPosters = 4, kWriters = 3, kSources = kPosters + kWriters;

class CountingLooper : public ZoLooper {
  public:
    CountingLooper() : ZoLooper("soak", 4096) {}
    ~CountingLooper() override { Halt(); }
    void MessageReceived(ZoBag* message) override {
        if (message->what == kSources) return;  // the last one
        uint32_t source = message->what;
        int n = -1;
        message->Getint32("n", &n, 1);
        (source >= kSources || n != next[source]++) ? faults++ : handled++;
        if (source >= kPosters && source < kSources) delivered[source - kPosters].Post();
    }

    long next[kSources] = {};  // the loop thread's; read after it ended
    std::atomic<long> handled{0}, faults{0};
    child::Note delivered[kWriters];  // one note per piped bag handled
};

// A second writer on a connected pipe with a buffer of its own, as another
// thread or process holds one: sending must not touch the looper's buffer.
class Outlet : public ZoPipe {
  public:
    explicit Outlet(ZoChannel* target) : ZoPipe(0) {
        close(readFd);
        close(writeFd);
        readFd = -1;
        writeFd = dup(target->Device(WAY_WRITE));
        type = CHANNEL_WRITE;
        SetBuffer(4096);
    }
};

TEST(LooperSoak, PostersAndPipeWritersLoseNothing) {
    CountingLooper looper;
    std::vector<std::unique_ptr<ZoPipe>> pipes;
    for (int w = 0; w < kWriters; w++) {
        pipes.push_back(std::make_unique<ZoPipe>(0));
        ASSERT_TRUE(pipes.back()->InitCheck() && looper.Connect(pipes.back().get()));
    }
    ASSERT_TRUE(looper.Run());
    soak::Clock clock;
    std::atomic<long> sent[kSources] = {};
    soak::Together(kSources, [&](int s) {
        // A pipe message is one read: a writer sends its next bag once this
        // one is handled, or two could be read as one.
        Outlet outlet(pipes[s % kWriters].get());
        ZoBag reused(s, 0);
        for (int i = 0; clock.Running(); i++, sent[s]++) {
            // Handed over and copied bags take the same road.
            ZoBag* bag = s < kPosters && i % 2 == 0 ? new ZoBag(s, 0) : &reused;
            bag->Setint32("n", i, bag == &reused);
            if (s < kPosters) {
                looper.PostMessage(bag, bag == &reused);
            } else if (!outlet.Send(bag, nullptr) || !looper.delivered[s - kPosters].Wait()) {
                return;
            }
        }
    });
    long total = 0;
    for (int s = 0; s < kSources; s++)
        total += sent[s];
    EXPECT_TRUE(soak::WaitUntil([&] { return looper.handled + looper.faults >= total; },
                                std::chrono::seconds(60)));
    looper.Stop();
    looper.PostMessage(kSources);
    ASSERT_EQ(looper.WaitEnd(), 0);
    for (int s = 0; s < kSources; s++)
        EXPECT_EQ(looper.next[s], sent[s]) << "source " << s;
    soak::Report("looper", {{"handled", looper.handled}, {"out_of_order", looper.faults}});
    EXPECT_EQ(looper.handled, total);
    EXPECT_GT(sent[kSources - 1], 0);
}

// Controllers switch the lights of a crosswalk as fast as it lets them while
// threads wait at its lanes, with and without time-outs. Every wait ends, the
// counters come back to zero, and destroying the crosswalk releases the
// threads still waiting.
TEST(CrosswalkSoak, RapidSwitchingReleasesEveryWaiter) {
    constexpr int kLanes = 4, kWaiters = 8, kControllers = 2;
    // A plain pointer: the last waiters must not read a smart pointer being reset.
    auto* walk = new ZoCrosswalk(kLanes);
    auto waiting = [&] {
        long sum = 0;
        for (int lane = 0; lane < kLanes; lane++)
            sum += walk->Waiting(lane);
        return sum;
    };
    soak::Clock clock;
    std::atomic<int> controlling{kControllers};
    std::atomic<long> released{0}, releasedAtEnd{0};
    soak::Together(kControllers + kWaiters, [&](int t) {
        soak::Random random(t);
        while (t < kControllers && clock.Running()) {
            int lane = static_cast<int>(random.Next(kLanes));
            random.Next(2) == 0 ? walk->Green(lane) : walk->Red(lane);
        }
        if (t < kControllers && --controlling == 0) {
            for (int lane = 0; lane < kLanes; lane++)  // lets every waiter out
                walk->Green(lane);
        }
        while (t >= kControllers && controlling > 0) {
            // A third wait without limit, the others 0.1 to 5 ms.
            unsigned long timeout = random.Next(3) == 0 ? 0 : 100000ul * (1 + random.Next(50));
            released += walk->Wait(static_cast<int>(random.Next(kLanes)), timeout);
            // A green lane lets a waiter straight through: not a spin there.
            std::this_thread::sleep_for(microseconds(random.Next(200)));
        }
    });
    EXPECT_EQ(waiting(), 0);
    // Threads still waiting at red lights when the crosswalk goes are let out.
    for (int lane = 0; lane < kLanes; lane++)
        walk->Red(lane);
    soak::Together(kWaiters + 1, [&](int w) {
        if (w < kWaiters) {
            releasedAtEnd += walk->Wait(w % kLanes, 0);
            return;
        }
        EXPECT_TRUE(soak::WaitUntil([&] { return waiting() == kWaiters; }));
        delete walk;
    });
    EXPECT_EQ(releasedAtEnd, kWaiters);
    soak::Report("crosswalk", {{"released", released}});
    EXPECT_GT(released, 0);
}

// Jobs are paused and resumed over and over while they work, then stopped,
// paused or not. A paused job makes at most the step it was in; a stopped one
// runs Canceled() once.
TEST(JobSoak, PausedResumedAndStopped) {
    soak::Random random(3);
    long jobs = 0;
    for (soak::Clock clock; clock.Running() || jobs < 3; jobs++) {
        std::atomic<long> steps{0};
        soak::Job job([&](soak::Job& self) {
            for (;; steps++, uSnooze(20))
                self.IsPaused();
        });
        job.Start();
        ASSERT_TRUE(soak::WaitUntil([&] { return steps > 0; }));
        for (unsigned cycle = random.Next(20); cycle > 0; cycle--) {
            job.Pause();
            long before = steps;
            std::this_thread::sleep_for(microseconds(random.Next(2000)));
            EXPECT_LE(steps, before + 1);
            if (cycle > 1 || random.Next(2) == 0) job.Resume();  // or stopped while paused
            std::this_thread::sleep_for(microseconds(random.Next(3000)));
        }
        job.Stop();
        EXPECT_FALSE(job.IsRunning());
        EXPECT_EQ(job.canceled, 1);
    }
    soak::Report("job", {{"jobs", jobs}});
}

// Control sweep: random sequences of Suspend, Resume, Stop, Cancel and Abort,
// with gaps from none to a few milliseconds, from three controllers, each on
// a counting thread of its own or on a team of two (a team has no Stop():
// its members are stopped one by one). Every thread ends up in the state of
// the last effective call (parked and not counting, counting, or ended) and
// leaves within bounds; a cancelled thread runs Canceled() once, an aborted
// one never; deleting the team returns. Signals of one kind merge while
// pending: back-to-back calls are the hard cases.
enum Op { SUSPEND, RESUME, STOP, CANCEL, ABORT };

template <class Target>
void Call(Target& target, Op op, const std::vector<soak::Thread*>& members) {
    if (op == SUSPEND) target.Suspend();
    if (op == RESUME) target.Resume();
    if (op == CANCEL) target.Cancel();
    if (op == ABORT) target.Abort();
    for (soak::Thread* member : members)
        if (op == STOP) member->Stop();
}

long OneSequence(soak::Random& random) {
    const bool team = random.Next(2) == 0;
    std::atomic<long> counts[2] = {};
    ZoTeam crew("sweep");  // deletes its members
    std::unique_ptr<soak::Thread> alone;
    std::vector<soak::Thread*> members;
    for (int m = 0; m < (team ? 2 : 1); m++) {
        std::atomic<long>& count = counts[m];
        // Rounds alternate a short sleep (the handlers then interrupt a
        // cancellation point) with a short spin (ordinary code). Cancel()
        // sets the stop flag before it cancels: a body that sees the flag
        // gives the cancellation a moment to arrive before it leaves on its own.
        members.push_back(new soak::Thread([&count](soak::Thread& self) {
            for (; !self.IsStopped(); count++) {
                IsCanceled();
                for (volatile int i = 0; i < 20000 * (count % 2); i++) {
                }
                if (count % 2 == 0) uSnooze(30);
            }
            uSnooze(200);
        }));
        team ? crew.Attach(members[m]) : alone.reset(members[m]);
    }
    team ? crew.Run() : (void)alone->Run();
    auto call = [&](Op op) { team ? Call(crew, op, members) : Call(*alone, op, members); };
    if (!soak::WaitUntil([&] { return counts[0] > 0 && (!team || counts[1] > 0); })) {
        ADD_FAILURE() << "counter never started";
        return 0;
    }
    // What the calls so far must have left; `mayHaveLeft`: stopped while
    // running, so that Cancel() may find the thread gone.
    bool ended = false, aborted = false, suspended = false, stopped = false, mayHaveLeft = false;
    std::string trail;
    for (size_t length = 1 + random.Next(6); trail.size() < length;) {
        // Mostly suspensions and resumptions: the ends come last.
        unsigned draw = random.Next(11);
        Op op = draw < 8 ? Op(draw % 2) : Op(draw - 6);
        trail += "SRTCA"[op];
        call(op);
        if (!ended) {
            suspended = op == SUSPEND || (suspended && op != RESUME);
            stopped |= op == STOP;
            ended = op == CANCEL || op == ABORT;
            aborted = op == ABORT;
            mayHaveLeft |= stopped && !suspended;
        }
        // Mostly none or microseconds, sometimes up to 3 ms.
        unsigned gap = random.Next(10);
        if (gap >= 5) uSnooze(gap < 8 ? random.Next(200) : random.Next(3000));
    }
    SCOPED_TRACE((team ? "team, calls " : "calls ") + trail);
    for (size_t m = 0; m < members.size(); m++) {
        soak::Thread& thread = *members[m];
        std::atomic<long>& count = counts[m];
        if (ended) {
            EXPECT_FALSE(thread.IsRunning());
            EXPECT_LE(thread.canceled, aborted ? 0 : 1);
        } else if (suspended && mayHaveLeft) {  // parked, or gone before
            EXPECT_TRUE(soak::WaitUntil([&] { return thread.Parked(); }));
        } else if (suspended) {  // parked, and no longer counting, until resumed
            EXPECT_TRUE(thread.IsSuspended());
            EXPECT_TRUE(soak::WaitUntil([&] { return soak::Parked(thread.kernelId); }));
            long parked = count;
            uSnooze(500);
            EXPECT_EQ(count, parked);
        } else if (stopped) {
            EXPECT_TRUE(soak::WaitUntil([&] { return !thread.IsRunning(); }));
        } else {
            long before = count;
            EXPECT_TRUE(soak::WaitUntil([&] { return count > before + 2; }));
        }
    }
    // Whatever the state, the threads end (the watchdog catches a hang),
    // cancelled at most once.
    call(RESUME);
    call(CANCEL);
    for (soak::Thread* thread : members)
        EXPECT_TRUE(!thread->IsRunning() && thread->canceled <= 1);
    return static_cast<long>(trail.size());
}

TEST(ControlSweep, EveryCallSequenceEndsInTheStateOfItsLastCall) {
    std::atomic<long> runs{0}, calls{0};
    soak::Together(3, [&](int c) {
        soak::Random random(17 + c);
        for (soak::Clock clock; clock.Running() && !::testing::Test::HasFailure(); runs++)
            calls += OneSequence(random);
    });
    soak::Report("ControlSweep", {{"runs", runs}, {"calls", calls}});
}

// Each test runs for its time, and a minute more before the watchdog ends it.
const bool kTimeLimit =
    (zotest::SetTestTimeLimit(std::chrono::seconds(60 + static_cast<long>(2 * soak::Seconds()))),
     true);

}  // namespace

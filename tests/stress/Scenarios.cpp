// The stress program: each row of the table at the end is one test, run for
// the soak time under the sanitizers, failing on anything lost or inconsistent.
#include <zolib/fs/FolderWatcher.h>
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Pipe.h>
#include <zolib/messaging/ShMemory.h>
#include <zolib/threads/Crosswalk.h>
#include <zolib/threads/Snooze.h>
#include <zolib/threads/Team.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>

#include "messaging/ChildProcess.h"
#include "stress/Soak.h"

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

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

void LooperPostersAndPipeWriters() {
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
void CrosswalkRapidSwitching() {
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

// Teams of running threads are cancelled or aborted, round after round, some
// first suspended and resumed, while one thread of each may end by itself.
// Every thread is gone after each round; a cancelled thread runs Canceled()
// exactly once, an aborted one never; deleting the team returns.
void TeamsCancelledAndAborted() {
    enum Kind { SLEEPER, POLLER, WAITER, FINISHER };  // WAITER: at a red lane, cancel rounds only
    ZoCrosswalk walk(1);                              // lane 0 stays red
    soak::Random random(7);
    soak::Clock clock;
    long rounds = 0;
    for (; clock.Running() || rounds < 4; rounds++) {
        bool aborting = rounds % 2 == 1;
        std::atomic<int> entered{0}, finished{0};
        ZoTeam team("soak");
        std::vector<soak::Thread*> workers;
        int count = 4 + static_cast<int>(random.Next(5));
        for (int i = 0; i < count; i++) {
            // An aborted waiter would leave the crosswalk broken: none in abort rounds.
            Kind kind = i == 0 ? FINISHER : static_cast<Kind>(random.Next(aborting ? 2 : 3));
            unsigned long finishUs = random.Next(3000);
            workers.push_back(new soak::Thread([&, kind, finishUs](soak::Thread&) {
                entered++;
                while (kind == SLEEPER)
                    mSnooze(2);
                for (; kind == POLLER; uSnooze(20))
                    IsCanceled();
                kind == WAITER ? (void)walk.Wait(0, 0) : (void)uSnooze(finishUs);
                finished++;
            }));
            team.Attach(workers.back());
        }
        team.Run();
        ASSERT_TRUE(soak::WaitUntil([&] { return entered == count; }));
        auto all = [&](bool parked) {  // parked, or ended
            return soak::WaitUntil([&] {
                return std::all_of(workers.begin(), workers.end(), [&](soak::Thread* w) {
                    return parked ? w->Parked() : !w->IsRunning();
                });
            });
        };
        if (random.Next(4) == 0) {
            team.Suspend();
            EXPECT_TRUE(all(true));
            team.Resume();
        }
        aborting ? team.Abort() : team.Cancel();
        EXPECT_TRUE(all(false));
        int canceled = 0;
        for (int i = 1; i < count; i++)
            canceled += workers[i]->canceled;
        EXPECT_EQ(canceled, aborting ? 0 : count - 1);
        // The finisher either ended by itself or was ended; never both.
        EXPECT_LE(finished + workers[0]->canceled, 1);
    }  // the team deletes its threads
    EXPECT_EQ(walk.Waiting(0), 0);
    soak::Report("team", {{"rounds", rounds}});
}

// Jobs are paused and resumed over and over while they work, and every third
// is stopped at a random moment, paused or not. A paused job makes at most the
// step it was in; a job left to finish reports every milestone and ends at
// 100 %; a stopped one runs Canceled() once.
void JobsPausedAndResumed() {
    constexpr long kSteps = 200;
    soak::Random random(3);
    soak::Clock clock;
    long jobs = 0;
    std::atomic<long> pausedWaits{0};
    for (; clock.Running() || jobs < 3; jobs++) {
        std::atomic<long> steps{0};
        std::atomic<bool> done{false};
        soak::Job job([&](soak::Job& self) {
            for (long i = 0; i < kSteps; i++) {
                pausedWaits += self.IsPaused();
                steps++;
                uSnooze(20);  // the work of one step
                self.Milestone("step", 0);
            }
            done = true;
        });
        job.SetMaxStep(kSteps);
        bool stop = jobs % 3 == 2;
        unsigned stopAfter = random.Next(20);
        job.Start();
        // Stop() cancels only a body that has begun.
        ASSERT_TRUE(soak::WaitUntil([&] { return job.IsRunning() || done; }));
        for (unsigned cycle = 0; !done && !(stop && cycle == stopAfter); cycle++) {
            job.Pause();
            long before = steps;
            std::this_thread::sleep_for(microseconds(random.Next(2000)));
            EXPECT_LE(steps, before + 1);               // at most the step it was in
            if (stop && cycle + 1 == stopAfter) break;  // stopped while paused
            job.Resume();
            std::this_thread::sleep_for(microseconds(random.Next(3000)));
        }
        if (stop) {
            job.Stop();
            EXPECT_FALSE(job.IsRunning());
            EXPECT_EQ(job.canceled, done ? 0 : 1);
            continue;
        }
        EXPECT_EQ(job.WaitEnd(), 0);
        EXPECT_EQ(steps, kSteps);
        EXPECT_EQ(job.feedbacks, kSteps);  // every milestone
        EXPECT_EQ(job.lastProgress, 100);
        EXPECT_EQ(job.canceled, 0);
    }
    soak::Report("job", {{"jobs", jobs}, {"paused_waits", pausedWaits}});
    EXPECT_GT(pausedWaits, 0);
}

// Processes take turns at one shared-memory segment under its lock while the
// test kills some of them: holders killed while they hold the lock (at a
// moment they announce) and workers killed at random moments. The lock stays
// usable, every dead holder is noticed by one next holder, and no update is
// lost: what the processes counted for themselves adds up to the shared total.
constexpr int kSlots = 256;  // one per process of a round

// `holder`: the pid inside the lock, 0 once it leaves properly; `total`: one
// per turn, read and written back slowly; `recovered`: turns that found a
// dead holder's mark; `turns`: each process's own count of its turns.
struct Shared {
    int32_t holder, pad;
    int64_t total, recovered, turns[kSlots];
};

// Takes the lock. A dead holder's update may be half done: the total is
// rebuilt from the processes' own counts.
Shared* Enter(ZoShMemory& memory) {
    auto* shared = static_cast<Shared*>(memory.Address());
    if (!memory.Lock()) return nullptr;
    if (shared->holder != 0) {
        shared->recovered++;
        shared->total = 0;
        for (int64_t turns : shared->turns)
            shared->total += turns;
    }
    shared->holder = getpid();
    return shared;
}

// A worker takes turns until `end`; a holder (no end) announces it holds the
// lock and waits there to be killed.
int Turns(const char* name, int slot, std::chrono::steady_clock::time_point* end,
          child::Note* holding) {
    ZoShMemory memory(name, sizeof(Shared));
    for (Shared* shared; memory.InitCheck() && (shared = Enter(memory)) != nullptr;) {
        shared->turns[slot]++;
        if (end == nullptr) {
            holding->Post();
            for (;;)
                pause();
        }
        int64_t total = shared->total;
        sched_yield();  // a second holder would now lose an update
        shared->total = total + 1;
        shared->holder = 0;
        if (!memory.Unlock()) return 2;
        if (std::chrono::steady_clock::now() >= *end) return 0;
    }
    return 1;
}

void ShMemoryProcessesKilledMidLock() {
    soak::Clock clock;
    soak::Random random(5);
    long rounds = 0, holdersKilled = 0, workersKilled = 0;
    // A segment per round of at most 2 s: killed processes leave their counts
    // in it, and the count is 16-bit.
    for (; clock.Running() || rounds == 0; rounds++) {
        std::string name = "/zolib-soak." + std::to_string(getpid()) + "." + std::to_string(rounds);
        ZoShMemory memory(name.c_str(), sizeof(Shared));
        ASSERT_TRUE(memory.InitCheck());
        double seconds = std::min(2.0, std::max(soak::Seconds() - clock.Elapsed(), 0.3));
        auto end = std::chrono::steady_clock::now() + milliseconds(long(1000 * seconds));
        long holders = 0, killed = 0;
        std::vector<pid_t> workers;
        int slot = 0;
        auto spawn = [&] {
            workers.push_back(
                child::Spawn([&, s = slot++] { return Turns(name.c_str(), s, &end, nullptr); }));
        };
        for (int w = 0; w < 4; w++)
            spawn();
        while (std::chrono::steady_clock::now() + milliseconds(100) < end && slot < kSlots - 1) {
            std::this_thread::sleep_for(milliseconds(10 + random.Next(30)));
            pid_t victim;
            if (random.Next(2) == 0) {
                child::Note holding;
                victim = child::Spawn(
                    [&, s = slot++] { return Turns(name.c_str(), s, nullptr, &holding); });
                ASSERT_TRUE(holding.Wait());
                // Let the workers pile up at the lock, then kill the holder.
                std::this_thread::sleep_for(milliseconds(random.Next(5)));
                holders++;
            } else {
                size_t which = random.Next(static_cast<unsigned>(workers.size()));
                victim = workers[which];
                workers.erase(workers.begin() + static_cast<long>(which));
                killed++;
                spawn();
            }
            kill(victim, SIGKILL);
            EXPECT_EQ(child::Reap(victim), 128 + SIGKILL);
        }
        for (pid_t pid : workers)
            EXPECT_EQ(child::Reap(pid, 60000), 0);
        // This last turn notices a holder killed after the workers had ended;
        // a worker killed at a random moment may have died inside the lock too.
        Shared* shared = Enter(memory);
        ASSERT_NE(shared, nullptr);
        int64_t sum = 0;
        for (int64_t count : shared->turns)
            sum += count;
        EXPECT_GE(shared->recovered, holders);
        EXPECT_LE(shared->recovered, holders + killed);
        EXPECT_EQ(shared->total, sum);
        shared->holder = 0;
        EXPECT_TRUE(memory.Unlock());
        shm_unlink(name.c_str());  // killed processes never detached
        holdersKilled += holders;
        workersKilled += killed;
    }
    soak::Report("shmemory", {{"rounds", rounds},
                              {"holders_killed_in_lock", holdersKilled},
                              {"workers_killed", workersKilled}});
    EXPECT_GT(holdersKilled + workersKilled, 0);
}

// A folder watcher, polling or woken by notifications, watches a directory
// two threads churn: files created, written, renamed (over existing names too)
// and removed, subdirectories and links (dangling or not) made and removed.
// Its bookkeeping stays exact (what it found at the start, plus what it
// reported added, less what it reported removed) and, once the churn stops,
// it comes to know exactly what is there.
class CountingWatcher : public ZoFolderWatcher {
  public:
    explicit CountingWatcher(bool polling) : ZoFolderWatcher(1, nullptr) { SetPolling(polling); }
    ~CountingWatcher() override { Cancel(); }  // the hooks use the counters
    // Runs under the watcher's lock, as does every change to Contents().
    void Updated(ZoList* list, void*) override {
        for (long i = 0; i < list->Size(); i++) {
            int kind = static_cast<T_Update*>(list->GetItem(i))->kind;
            if (kind >= UPDATE_ADDED && kind <= UPDATE_REMOVED) records[kind]++;
        }
    }
    std::set<std::string> Known() {
        std::set<std::string> names;
        Lock();
        for (long i = 0; i < Contents()->Size(); i++)
            names.insert(static_cast<ZoEntry*>(Contents()->GetItem(i))->GetName());
        Unlock();
        return names;
    }
    std::atomic<long> records[3] = {};
};

void WriteFile(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    (void)!write(fd, "x", 1);
    close(fd);
}

void WatcherOverChurn(bool polling) {
    char dir[] = "/tmp/zolib-soak-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string root = dir;
    for (int i = 0; i < 8; i++)
        WriteFile(root + "/start" + std::to_string(i));
    CountingWatcher watcher(polling);
    watcher.SetSource(dir);
    EXPECT_EQ(watcher.Known().size(), 8u);
    ASSERT_TRUE(watcher.Run());
    soak::Clock clock;
    std::atomic<long> operations{0};
    soak::Together(2, [&](int c) {
        soak::Random random(c + 11);
        for (; clock.Running(); operations++) {
            std::string n = std::to_string(random.Next(32)), f = root + "/f" + n,
                        d = root + "/d" + n, l = root + "/l" + n;
            int op = static_cast<int>(random.Next(8));
            if (op == 0) rename(f.c_str(), (root + "/f" + std::to_string(random.Next(32))).c_str());
            if (op == 1) unlink(f.c_str());
            if (op == 2) mkdir(d.c_str(), 0755);
            if (op == 3) rmdir(d.c_str());
            if (op == 4) (void)!symlink(f.c_str(), l.c_str());
            if (op == 5) unlink(l.c_str());
            if (op >= 6) WriteFile(f);
            if (random.Next(8) == 0) std::this_thread::sleep_for(microseconds(50));
        }
    });
    // Leave a known set (the directory itself stays: the watcher lists that one).
    for (const auto& entry : std::filesystem::directory_iterator(root))
        std::filesystem::remove_all(entry.path());
    std::set<std::string> expected;
    for (int i = 0; i < 5; i++) {
        expected.insert("final" + std::to_string(i));
        WriteFile(root + "/final" + std::to_string(i));
    }
    EXPECT_TRUE(soak::WaitUntil([&] { return watcher.Known() == expected; }));
    watcher.Lock();
    long size = watcher.Contents()->Size();
    long added = watcher.records[UPDATE_ADDED], removed = watcher.records[UPDATE_REMOVED];
    watcher.Unlock();
    EXPECT_EQ(size, 8 + added - removed);
    EXPECT_EQ(size, 5);  // one entry per name
    watcher.Cancel();
    std::filesystem::remove_all(root);
    soak::Report(polling ? "watcher polling" : "watcher notified",
                 {{"churn_operations", operations}, {"added", added}, {"removed", removed}});
}

// Control sweep: random sequences of Suspend, Resume, Stop, Cancel and Abort,
// with gaps from none to a few milliseconds, from three controllers, each on
// a counting thread of its own. The thread ends up in the state of its last
// effective call (parked and not counting, counting, or ended) and leaves
// within bounds; a cancelled thread runs Canceled() once, an aborted one
// never. Signals of one kind merge while pending: back-to-back calls are the
// hard cases.
enum Op { SUSPEND, RESUME, STOP, CANCEL, ABORT };

long OneSequence(soak::Random& random) {
    std::atomic<long> count{0};
    // Rounds alternate a short sleep (the handlers then interrupt a
    // cancellation point) with a short spin (ordinary code). Cancel() sets the
    // stop flag before it cancels: a body that sees the flag gives the
    // cancellation a moment to arrive before it leaves on its own.
    soak::Thread thread([&](soak::Thread& self) {
        for (; !self.IsStopped(); count++) {
            IsCanceled();
            for (volatile int i = 0; i < 20000 * (count % 2); i++) {
            }
            if (count % 2 == 0) uSnooze(30);
        }
        uSnooze(200);
    });
    if (!thread.Run() || !soak::WaitUntil([&] { return count > 0; })) {
        ADD_FAILURE() << "counter never started";
        return 0;
    }
    // What the calls so far must have left; `mayHaveLeft`: stopped while
    // running, so that Cancel() may find the thread gone.
    bool ended = false, aborted = false, suspended = false, stopped = false, mayHaveLeft = false;
    std::string trail;
    for (int length = 1 + static_cast<int>(random.Next(6)); trail.size() < size_t(length);) {
        // Mostly suspensions and resumptions: the ends come last.
        unsigned draw = random.Next(11);
        Op op = draw < 8 ? Op(draw % 2) : Op(draw - 6);
        trail += "SRTCA"[op];
        static void (*const kCalls[])(ZoThread&) = {
            [](ZoThread& t) { t.Suspend(); }, [](ZoThread& t) { t.Resume(); },
            [](ZoThread& t) { t.Stop(); }, [](ZoThread& t) { t.Cancel(); },
            [](ZoThread& t) { t.Abort(); }};
        kCalls[op](thread);
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
    SCOPED_TRACE("calls " + trail);
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
    // Whatever the state, the thread ends (the watchdog catches a hang),
    // cancelled at most once.
    thread.Resume();
    thread.Cancel();
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_LE(thread.canceled, 1);
    return static_cast<long>(trail.size());
}

void ControlSweep() {
    std::atomic<long> runs{0}, calls{0};
    soak::Together(3, [&](int c) {
        soak::Random random(17 + c);
        for (soak::Clock clock; clock.Running() && !::testing::Test::HasFailure(); runs++)
            calls += OneSequence(random);
    });
    soak::Report("ControlSweep", {{"runs", runs}, {"calls", calls}});
}

class Scenario : public ::testing::Test {
  public:
    explicit Scenario(void (*run)()) : run(run) {}
    void TestBody() override { run(); }

  private:
    void (*run)();
};

const struct {
    const char* suite;
    const char* name;
    void (*run)();
} kScenarios[] = {
    {"LooperSoak", "PostersAndPipeWritersLoseNothing", LooperPostersAndPipeWriters},
    {"CrosswalkSoak", "RapidSwitchingReleasesEveryWaiter", CrosswalkRapidSwitching},
    {"TeamSoak", "CancelAndAbortRunningTeams", TeamsCancelledAndAborted},
    {"JobSoak", "PausedAndResumedOverAndOver", JobsPausedAndResumed},
    {"ShMemorySoak", "ProcessesKilledMidLockLoseNothing", ShMemoryProcessesKilledMidLock},
    {"WatcherSoak", "Polling", [] { WatcherOverChurn(true); }},
    {"WatcherSoak", "Notified", [] { WatcherOverChurn(false); }},
    {"ControlSweep", "EveryCallSequenceEndsInTheStateOfItsLastCall", ControlSweep},
    {"CancelSweep", "NoDestructorOrCallLetsACancellationThrough", soak::CancelSweep},
};

const bool kRegistered = [] {
    // Each test runs for its time, and a minute more before the watchdog ends it.
    zotest::SetTestTimeLimit(std::chrono::seconds(60 + static_cast<long>(2 * soak::Seconds())));
    for (const auto& row : kScenarios) {
        ::testing::RegisterTest(
            row.suite, row.name, nullptr, nullptr, __FILE__, __LINE__,
            [run = row.run]() -> ::testing::Test* { return new Scenario(run); });
    }
    return true;
}();

}  // namespace

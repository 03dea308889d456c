// The stress scenarios: each runs for the soak time under the sanitizers and
// fails on anything lost or inconsistent. The table at the end names them;
// each row is one test, SUITE.NAME.
#include <zolib/fs/FolderWatcher.h>
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Pipe.h>
#include <zolib/messaging/ShMemory.h>
#include <zolib/threads/Crosswalk.h>
#include <zolib/threads/Job.h>
#include <zolib/threads/Snooze.h>
#include <zolib/threads/Team.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "messaging/ChildProcess.h"
#include "stress/Soak.h"

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// Many threads post to one looper while others send flat bags through pipes
// of their own connected to it. Every bag is handled exactly once, each
// source's in the order sent.
constexpr int kPosters = 4, kWriters = 3, kSources = kPosters + kWriters;  // `what`: the source

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
    void DataReceived(char*, unsigned int) override { faults++; }
    using ZoLooper::DataReceived;

    long next[kSources] = {};  // the loop thread's; read after it ended
    std::atomic<long> handled{0}, faults{0};
    child::Note delivered[kWriters];  // one note per piped bag handled
};

// A second writer on a connected pipe, with its own buffer, as another thread
// or process holds one: sending must not touch the looper's shared buffer.
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

void LooperPostersAndPipeWritersLoseNothing() {
    CountingLooper looper;
    std::vector<std::unique_ptr<ZoPipe>> pipes;
    for (int w = 0; w < kWriters; w++) {
        pipes.push_back(std::make_unique<ZoPipe>(0));
        ASSERT_TRUE(pipes.back()->InitCheck() && looper.Connect(pipes.back().get()));
    }
    ASSERT_TRUE(looper.Run());
    soak::Clock clock;
    std::atomic<long> sent[kSources] = {};
    std::vector<std::thread> threads;
    for (int p = 0; p < kPosters; p++) {
        threads.emplace_back([&, p] {
            ZoBag reused(p, 0);
            for (int i = 0; clock.Running(); i++, sent[p]++) {
                // Handed over and copied bags take the same road.
                ZoBag* bag = i % 2 == 0 ? new ZoBag(p, 0) : &reused;
                bag->Setint32("n", i, i % 2);
                looper.PostMessage(bag, i % 2 == 1);
            }
        });
    }
    for (int w = 0; w < kWriters; w++) {
        threads.emplace_back([&, w] {
            Outlet outlet(pipes[w].get());
            ZoBag bag(kPosters + w, 0);
            // A pipe message is one read: the next bag goes once this one is
            // handled, or two could be read as one.
            for (int i = 0; clock.Running(); i++, sent[kPosters + w]++) {
                bag.Setint32("n", i, 1);
                if (!outlet.Send(&bag, nullptr) || !looper.delivered[w].Wait()) return;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    long total = 0, piped = 0;
    for (int s = 0; s < kSources; s++)
        (s < kPosters ? total : piped) += sent[s];
    total += piped;
    EXPECT_TRUE(soak::WaitUntil([&] { return looper.handled + looper.faults >= total; },
                                std::chrono::seconds(60)));
    looper.Stop();
    looper.PostMessage(kSources);
    ASSERT_EQ(looper.WaitEnd(), 0);
    for (int s = 0; s < kSources; s++)
        EXPECT_EQ(looper.next[s], sent[s]) << "source " << s;
    soak::Report("looper", {{"handled", looper.handled},
                            {"piped", piped},
                            {"lost", total - looper.handled},
                            {"out_of_order", looper.faults}});
    EXPECT_EQ(looper.handled, total);
    EXPECT_GT(piped, 0);
}

// Controllers switch the lights of a crosswalk as fast as it lets them while
// threads wait at its lanes, with and without time-outs. Every wait ends, the
// counters come back to zero, and destroying the crosswalk releases the
// threads still waiting.
void CrosswalkRapidSwitchingReleasesEveryWaiter() {
    constexpr int kLanes = 4, kWaiters = 8;
    // A plain pointer: the last waiters must not read a smart pointer being reset.
    auto* walk = new ZoCrosswalk(kLanes);
    auto allWaiting = [&] {
        long sum = 0;
        for (int lane = 0; lane < kLanes; lane++)
            sum += walk->Waiting(lane);
        return sum;
    };
    soak::Clock clock;
    std::atomic<bool> switching{true};
    std::atomic<long> waits{0}, released{0}, switches{0};
    std::vector<std::thread> waiters, controllers;
    for (int w = 0; w < kWaiters; w++) {
        waiters.emplace_back([&, w] {
            soak::Random random(w);
            for (; switching; waits++) {
                // A third wait without limit, the others 0.1 to 5 ms.
                unsigned long timeout = random.Next(3) == 0 ? 0 : 100000ul * (1 + random.Next(50));
                released += walk->Wait(static_cast<int>(random.Next(kLanes)), timeout);
                // A green lane lets a waiter straight through: not a spin there.
                std::this_thread::sleep_for(microseconds(random.Next(200)));
            }
        });
    }
    for (int c = 0; c < 2; c++) {
        controllers.emplace_back([&, c] {
            soak::Random random(100 + c);
            for (; clock.Running(); switches++) {
                int lane = static_cast<int>(random.Next(kLanes));
                random.Next(2) == 0 ? walk->Green(lane) : walk->Red(lane);
            }
        });
    }
    for (std::thread& controller : controllers)
        controller.join();
    switching = false;  // every light green lets every waiter out
    for (int lane = 0; lane < kLanes; lane++)
        walk->Green(lane);
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(allWaiting(), 0);

    // Threads still waiting at red lights when the crosswalk goes are let out.
    std::atomic<long> releasedAtEnd{0};
    std::vector<std::thread> last;
    for (int w = 0; w < kWaiters; w++) {
        walk->Red(w % kLanes);
        last.emplace_back([&, w] { releasedAtEnd += walk->Wait(w % kLanes, 0); });
    }
    EXPECT_TRUE(soak::WaitUntil([&] { return allWaiting() == kWaiters; }));
    delete walk;
    for (std::thread& thread : last)
        thread.join();
    EXPECT_EQ(releasedAtEnd, kWaiters);
    soak::Report("crosswalk", {{"switches", switches}, {"waits", waits}, {"released", released}});
    EXPECT_GT(released, 0);
}

// Teams of running threads are cancelled or aborted, round after round, some
// first suspended and resumed, while some of their threads end by themselves.
// Every thread is gone after each round; a cancelled thread runs Canceled()
// exactly once, an aborted one never; deleting the team returns.
enum Kind { SLEEPER, POLLER, WAITER, FINISHER };  // WAITER: at a red lane, cancel rounds only

struct Counts {
    std::atomic<long> entered{0}, finished{0};
    std::atomic<long> canceled[4] = {};
};

class Worker : public ZoThread {
  public:
    Worker(Kind kind, Counts* counts, ZoCrosswalk* walk, unsigned long finishUs)
        : ZoThread("worker"), kind(kind), counts(counts), walk(walk), finishUs(finishUs) {}
    ~Worker() override { Halt(); }
    void Process() override {
        tid = gettid();
        counts->entered++;
        while (kind == SLEEPER)
            mSnooze(2);
        for (; kind == POLLER; uSnooze(20))
            IsCanceled();
        kind == WAITER ? (void)walk->Wait(0, 0) : (void)uSnooze(finishUs);
        counts->finished++;
    }
    void Canceled() override { counts->canceled[kind]++; }
    bool Parked() { return !IsRunning() || soak::Parked(tid); }

    std::atomic<pid_t> tid{0};

  private:
    Kind kind;
    Counts* counts;
    ZoCrosswalk* walk;
    unsigned long finishUs;
};

void TeamCancelAndAbortRunningTeams() {
    ZoCrosswalk walk(1);  // lane 0 stays red
    soak::Random random(7);
    soak::Clock clock;
    long rounds = 0, threads = 0, suspended = 0;
    for (; clock.Running() || rounds < 4; rounds++) {
        bool aborting = rounds % 2 == 1;
        Counts counts;
        ZoTeam team("soak");
        std::vector<Worker*> workers;
        long forever = 0;  // the threads that never end by themselves
        int count = 4 + static_cast<int>(random.Next(5));
        for (int i = 0; i < count; i++) {
            // An aborted waiter would leave the crosswalk broken: none in abort rounds.
            Kind kind = i == 0 ? FINISHER : static_cast<Kind>(random.Next(aborting ? 2 : 3));
            workers.push_back(new Worker(kind, &counts, &walk, random.Next(3000)));
            forever += kind != FINISHER;
            team.Attach(workers.back());
        }
        team.Run();
        threads += count;
        ASSERT_TRUE(soak::WaitUntil([&] { return counts.entered == count; }));
        if (random.Next(4) == 0) {
            team.Suspend();
            EXPECT_TRUE(soak::WaitUntil([&] {
                return std::all_of(workers.begin(), workers.end(),
                                   [](Worker* w) { return w->Parked(); });
            }));
            team.Resume();
            suspended++;
        }
        aborting ? team.Abort() : team.Cancel();
        EXPECT_TRUE(soak::WaitUntil([&] {
            return std::none_of(workers.begin(), workers.end(),
                                [](Worker* w) { return w->IsRunning(); });
        }));
        EXPECT_EQ(counts.canceled[SLEEPER] + counts.canceled[POLLER] + counts.canceled[WAITER],
                  aborting ? 0 : forever);
        // A finisher either ended by itself or was ended; never both.
        EXPECT_LE(counts.finished + counts.canceled[FINISHER], count - forever);
    }  // the team deletes its threads
    EXPECT_EQ(walk.Waiting(0), 0);
    soak::Report("team", {{"rounds", rounds}, {"threads", threads}, {"suspended", suspended}});
}

// Jobs are paused and resumed over and over while they work, and every third
// is stopped at a random moment, paused or not. A paused job makes at most the
// step it was in; a job left to finish reports every milestone and ends at
// 100 %; a stopped one runs Canceled() once.
constexpr unsigned long kSteps = 200;

class Stepper : public ZoJob {
  public:
    Stepper() : ZoJob("stepper") { SetMaxStep(kSteps); }
    ~Stepper() override { Halt(); }
    void DoIt() override {
        for (unsigned long i = 0; i < kSteps; i++) {
            pausedWaits += IsPaused();
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

    std::atomic<long> steps{0}, pausedWaits{0}, feedbacks{0};
    std::atomic<short> lastProgress{0};
    std::atomic<bool> done{false};
    std::atomic<int> canceled{0};
};

void JobPausedAndResumedOverAndOver() {
    soak::Random random(3);
    soak::Clock clock;
    long jobs = 0, pauses = 0, pausedWaits = 0;
    for (; clock.Running() || jobs < 3; jobs++) {
        Stepper job;
        bool stop = jobs % 3 == 2;
        unsigned stopAfter = random.Next(20);
        job.Start();
        // Stop() cancels only a body that has begun.
        ASSERT_TRUE(soak::WaitUntil([&] { return job.IsRunning() || job.done; }));
        for (unsigned cycle = 0; !job.done && !(stop && cycle == stopAfter); cycle++, pauses++) {
            job.Pause();
            long before = job.steps;
            std::this_thread::sleep_for(microseconds(random.Next(2000)));
            EXPECT_LE(job.steps, before + 1);           // at most the step it was in
            if (stop && cycle + 1 == stopAfter) break;  // stopped while paused
            job.Resume();
            std::this_thread::sleep_for(microseconds(random.Next(3000)));
        }
        if (stop) {
            job.Stop();
            EXPECT_FALSE(job.IsRunning());
            EXPECT_EQ(job.canceled, job.done ? 0 : 1);
        } else {
            EXPECT_EQ(job.WaitEnd(), 0);
            EXPECT_EQ(job.steps, static_cast<long>(kSteps));
            EXPECT_EQ(job.feedbacks, static_cast<long>(kSteps));  // every milestone
            EXPECT_EQ(job.lastProgress, 100);
            EXPECT_EQ(job.canceled, 0);
        }
        pausedWaits += job.pausedWaits;
    }
    soak::Report("job", {{"jobs", jobs}, {"pauses", pauses}, {"paused_waits", pausedWaits}});
    EXPECT_GT(pausedWaits, 0);
}

// Processes take turns at one shared-memory segment under its lock while the
// test kills some of them: holders killed while they hold the lock (at a
// moment they announce) and workers killed at random moments. The lock stays
// usable, every dead holder is noticed by one next holder, and no update is
// lost: what the processes counted for themselves adds up to the shared total.
constexpr int kSlots = 256;  // one per process of a round

struct Shared {
    int32_t holder;  // pid inside the lock; 0 once it leaves properly
    int32_t pad;
    int64_t total;          // one per turn, read and written back slowly
    int64_t recovered;      // turns that found a dead holder's mark
    int64_t turns[kSlots];  // each process's own count of its turns
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

void ShMemoryProcessesKilledMidLockLoseNothing() {
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
        auto end =
            std::chrono::steady_clock::now() + milliseconds(static_cast<long>(1000 * seconds));
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

void WatcherChurningDirectoryStaysAccounted(bool polling) {
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
    std::vector<std::thread> churners;
    for (int c = 0; c < 2; c++) {
        churners.emplace_back([&, c] {
            soak::Random random(c + 11);
            auto name = [&](const char* stem) {
                return root + "/" + stem + std::to_string(random.Next(32));
            };
            for (; clock.Running(); operations++) {
                switch (random.Next(8)) {
                    case 0:
                        rename(name("f").c_str(), name("f").c_str());
                        break;
                    case 1:
                        unlink(name("f").c_str());
                        break;
                    case 2:
                        mkdir(name("d").c_str(), 0755);
                        break;
                    case 3:
                        rmdir(name("d").c_str());
                        break;
                    case 4:
                        (void)!symlink(name("f").c_str(), name("l").c_str());
                        break;
                    case 5:
                        unlink(name("l").c_str());
                        break;
                    default:
                        WriteFile(name("f"));
                }
                if (random.Next(8) == 0) std::this_thread::sleep_for(microseconds(50));
            }
        });
    }
    for (std::thread& churner : churners)
        churner.join();
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
    {"LooperSoak", "PostersAndPipeWritersLoseNothing", LooperPostersAndPipeWritersLoseNothing},
    {"CrosswalkSoak", "RapidSwitchingReleasesEveryWaiter",
     CrosswalkRapidSwitchingReleasesEveryWaiter},
    {"TeamSoak", "CancelAndAbortRunningTeams", TeamCancelAndAbortRunningTeams},
    {"JobSoak", "PausedAndResumedOverAndOver", JobPausedAndResumedOverAndOver},
    {"ShMemorySoak", "ProcessesKilledMidLockLoseNothing",
     ShMemoryProcessesKilledMidLockLoseNothing},
    {"WatcherSoak", "Polling", [] { WatcherChurningDirectoryStaysAccounted(true); }},
    {"WatcherSoak", "Notified", [] { WatcherChurningDirectoryStaysAccounted(false); }},
};

const bool kRegistered = [] {
    for (const auto& row : kScenarios) {
        ::testing::RegisterTest(
            row.suite, row.name, nullptr, nullptr, __FILE__, __LINE__,
            [run = row.run]() -> ::testing::Test* { return new Scenario(run); });
    }
    return true;
}();

}  // namespace

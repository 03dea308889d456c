// Cancellation sweep: for every library class with a destructor, and every
// public call that contains a cancellation point, a thread is cancelled just
// before it: either it asks for its own cancellation right there (a seam),
// or the request comes from outside while it computes. The process must not
// end (a forced unwind out of a noexcept destructor calls std::terminate),
// Canceled() runs exactly once, no lock stays held, no segment or registry
// entry is left behind, and LeakSanitizer sees nothing leak.
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Member.h>
#include <zolib/messaging/MsgBox.h>
#include <zolib/messaging/Pipe.h>
#include <zolib/messaging/ShMemory.h>
#include <zolib/threads/Crosswalk.h>
#include <zolib/threads/Job.h>
#include <zolib/threads/Snooze.h>
#include <zolib/threads/Task.h>
#include <zolib/threads/Team.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string>

#include "stress/Soak.h"

namespace {

std::string SegmentName() {
    return "/zolib.sweep." + std::to_string(getpid());
}

// Sleeps until ended.
class Sleeper : public ZoThread {
  public:
    Sleeper() : ZoThread("sleeper") {}
    ~Sleeper() override { Halt(); }
    void Process() override {
        for (;;)
            mSnooze(1);
    }
};

class SleepyJob : public ZoJob {
  public:
    SleepyJob() : ZoJob("job") {}
    ~SleepyJob() override { Halt(); }
    void DoIt() override {
        for (;;)
            mSnooze(1);
    }
};

// A looper whose handler reaches a cancellation point.
class SlowLooper : public ZoLooper {
  public:
    SlowLooper() : ZoLooper("looper", 256) {}
    ~SlowLooper() override { Halt(); }
    void MessageReceived(ZoBag*) override { mSnooze(1); }
};

// What outlives the cancelled thread, checked once it has ended.
struct World {
    World() : segment(SegmentName()) { pipe.SetBuffer(256); }
    ZoPipe pipe{0};
    SlowLooper looper;  // never started: Flush() and Empty() run on the caller
    ZoCrosswalk walk{1};
    SleepyJob job;
    Sleeper sleeper;
    std::string segment;
};

// Starts `thread` and waits until it is in its body.
template <class Thread>
Thread& Running(Thread& thread) {
    thread.Run();
    while (!thread.IsRunning())
        Yield();
    return thread;
}

void FillBox(ZoLooper& looper) {
    // The box holds 8192 pointers; the posts below fill it.
    for (int i = 0; i < 8192; i++)
        looper.PostMessage(i);
}

struct Case {
    const char* name;
    void (*run)(World&, ZoJob& self);
    // Cancelled inside pthread_join. ThreadSanitizer's join forgets the
    // thread before the real join, so the thread cannot be joined after a
    // cancellation there: these cases run without it only.
    bool joins = false;
};

// Each case runs on the cancelled thread with the request pending.
const Case kCases[] = {
    // Destructors (and constructors) of objects on the thread's stack.
    {"~ZoPipe", [](World&, ZoJob&) { ZoPipe pipe(0); }},
    {"~ZoMsgBox", [](World&, ZoJob&) { ZoMsgBox box(0); }},
    {"~ZoThread",
     [](World&, ZoJob&) {
         Sleeper thread;
         thread.Run();
     }},
    {"~ZoTask",
     [](World&, ZoJob&) {
         ZoTask task(
             "task", [](ZoTask*, void*) { mSnooze(1000); }, nullptr, false);
         task.Run();
     }},
    {"~ZoLooper",
     [](World&, ZoJob&) {
         SlowLooper looper;
         looper.Run();
         looper.PostMessage(1);
     }},
    {"~ZoJob",
     [](World&, ZoJob&) {
         SleepyJob job;
         job.Start();
     }},
    {"~ZoTeam",
     [](World&, ZoJob&) {
         ZoTeam team("team");
         team.Attach(new Sleeper);
         team.Run();
     }},
    {"~ZoCrosswalk", [](World&, ZoJob&) { ZoCrosswalk walk(2); }},
    {"~ZoShMemory", [](World& world, ZoJob&) { ZoShMemory memory(world.segment.c_str(), 64); }},
    {"~ZoMember", [](World&, ZoJob&) { ZoMember member("sweep", MEMBER_APP); }},
    // Calls with a cancellation point.
    {"ZoPipe::Read",
     [](World& world, ZoJob&) {
         char byte;
         unsigned int length = 1;
         world.pipe.Read(&byte, &length);
     }},
    {"ZoPipe::Write", [](World& world, ZoJob&) { world.pipe.Write("x", 1, nullptr); }},
    {"ZoChannel::Receive",
     [](World& world, ZoJob&) {
         ZoBag* bag = nullptr;
         if (world.pipe.Receive(&bag)) delete bag;
     }},
    {"ZoChannel::Send",
     [](World& world, ZoJob&) {
         ZoBag bag(5);
         world.pipe.Send(&bag, nullptr);
     }},
    {"ZoMultiplexer::Listen",
     [](World& world, ZoJob&) {
         ZoMultiplexer multiplexer(64);
         multiplexer.Connect(&world.pipe);
         multiplexer.SetTimeOut(1000);
         multiplexer.Listen();
     }},
    {"ZoLooper::PostMessage", [](World& world, ZoJob&) { world.looper.PostMessage(2); }},
    {"ZoLooper::PostMessage(full)", [](World& world, ZoJob&) { world.looper.PostMessage(3); }},
    {"ZoLooper::Flush",
     [](World& world, ZoJob&) {
         world.looper.PostMessage(4);
         world.looper.Flush();
     }},
    {"ZoLooper::Empty",
     [](World& world, ZoJob&) {
         world.looper.PostMessage(5);
         world.looper.Empty();
     }},
    {"ZoThread::WaitEnd", [](World& w, ZoJob&) { Running(w.sleeper).WaitEnd(); }, true},
    {"ZoThread::Cancel", [](World& w, ZoJob&) { Running(w.sleeper).Cancel(); }, true},
    {"ZoThread::Abort", [](World& w, ZoJob&) { Running(w.sleeper).Abort(); }, true},
    {"Snooze", [](World&, ZoJob&) { mSnooze(1000); }},
    {"ZoCrosswalk::Wait", [](World& world, ZoJob&) { world.walk.Wait(0, 0); }},
    {"ZoCrosswalk::Green", [](World& world, ZoJob&) { world.walk.Green(0); }},
    {"ZoJob::Stop", [](World& w, ZoJob&) { Running(w.job).Stop(); }, true},
    {"ZoJob::IsPaused",
     [](World&, ZoJob& self) {
         self.Pause();
         self.IsPaused();
     }},
    {"ZoTeam::WaitEnd",
     [](World&, ZoJob&) {
         ZoTeam team("team");
         team.Attach(new Sleeper);
         team.Run();
         team.WaitEnd(WAIT_ALL);
     }},
};

// The cancelled thread: a job, so that the job's own calls can be swept.
class Victim : public ZoJob {
  public:
    Victim(const Case& which, World& world, bool fromOutside)
        : ZoJob("victim"), which(which), world(world), fromOutside(fromOutside) {}
    ~Victim() override { Halt(); }

    void DoIt() override {
        if (fromOutside) {
            ready = true;
            while (!requested) {
                // Computing: no cancellation point.
            }
        } else {
            pthread_cancel(pthread_self());
        }
        which.run(world, *this);
        IsCanceled();
        pastTheEnd = true;
    }
    void Canceled() override { canceled++; }

    std::atomic<bool> ready{false};
    std::atomic<bool> requested{false};
    std::atomic<bool> pastTheEnd{false};
    std::atomic<int> canceled{0};

  private:
    const Case& which;
    World& world;
    bool fromOutside;
};

bool Registered(pid_t pid) {
    ZoMember observer("observer", MEMBER_OBSERVER);
    std::unique_ptr<ZoList> apps(observer.ListApps());
    T_App* app;
    for (long i = 0; apps && (app = static_cast<T_App*>(apps->GetItem(i))) != nullptr; i++)
        if (app->pid == pid) return true;
    return false;
}

// Not held by anyone: a try takes it, and it is given back.
bool Free(ZoLocker& locker) {
    if (locker.Locked()) return false;
    locker.Unlock();
    return true;
}

// False when the case does not run here.
bool Sweep(const Case& which, bool fromOutside) {
#if defined(__SANITIZE_THREAD__)
    if (which.joins) return false;
#endif
    SCOPED_TRACE(std::string(which.name) + (fromOutside ? ", request from outside" : ", seam"));
    World world;
    if (std::string(which.name) == "ZoLooper::PostMessage(full)") FillBox(world.looper);
    {
        Victim victim(which, world, fromOutside);
        victim.Start();
        if (fromOutside) {
            EXPECT_TRUE(soak::WaitUntil([&] { return victim.ready.load(); }));
            pthread_cancel(victim.ID());
            victim.requested = true;
        }
        EXPECT_EQ(victim.WaitEnd(), 0);
        EXPECT_EQ(victim.canceled, 1);
        EXPECT_FALSE(victim.pastTheEnd);
    }
    EXPECT_TRUE(Free(world.looper));
    EXPECT_TRUE(Free(world.walk));
    EXPECT_TRUE(Free(world.job));
    EXPECT_EQ(world.walk.Waiting(0), 0);
    world.walk.Green(0);  // the lane's own mutex is free too, or this blocks
    EXPECT_TRUE(world.walk.Wait(0, 0));
    int fd = shm_open(world.segment.c_str(), O_RDONLY, 0);
    EXPECT_LT(fd, 0) << "segment left behind";
    if (fd >= 0) {
        close(fd);
        shm_unlink(world.segment.c_str());
    }
    EXPECT_FALSE(Registered(getpid()));
    world.looper.Empty();
    return true;
}

TEST(CancelSweep, NoDestructorOrCallLetsACancellationThrough) {
    soak::Clock clock;
    long passes = 0, runs = 0;
    do {
        for (const Case& which : kCases) {
            for (bool fromOutside : {false, true}) {
                runs += Sweep(which, fromOutside);
            }
        }
        passes++;
    } while (clock.Running() && !::testing::Test::HasFailure());
    soak::Report("CancelSweep", {{"cases", static_cast<long>(sizeof(kCases) / sizeof(kCases[0]))},
                                 {"passes", passes},
                                 {"cancellations", runs}});
}

}  // namespace

// Cancellation sweep: for every library class with a destructor, and every
// public call that contains a cancellation point, a thread is cancelled just
// before it: either it asks for its own cancellation right there, or the
// request comes from outside while it computes. The process must not end (a
// forced unwind out of a noexcept destructor calls std::terminate),
// Canceled() runs exactly once, no lock stays held, no segment or registry
// entry is left behind, and LeakSanitizer sees nothing leak.
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Member.h>
#include <zolib/messaging/MsgBox.h>
#include <zolib/messaging/Pipe.h>
#include <zolib/messaging/ShMemory.h>
#include <zolib/threads/Crosswalk.h>
#include <zolib/threads/Snooze.h>
#include <zolib/threads/Task.h>
#include <zolib/threads/Team.h>

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <memory>

#include "stress/Soak.h"

namespace {

template <class... Any>
void Sleep(Any...) {
    for (;;)
        mSnooze(1);
}

// A looper whose handler reaches a cancellation point.
class SlowLooper : public ZoLooper {
  public:
    SlowLooper() : ZoLooper("looper", 256) {}
    ~SlowLooper() override { Halt(); }
    void MessageReceived(ZoBag*) override { mSnooze(1); }
};

// What outlives the cancelled thread, checked once it has ended.
struct World {
    World() {
        pipe.SetBuffer(256);
        multiplexer.Connect(&pipe);
        multiplexer.SetTimeOut(1000);
        looper.PostMessage(1);  // for Flush() and Empty()
    }
    ~World() { delete received; }
    ZoPipe pipe{0};
    ZoMultiplexer multiplexer{64};
    SlowLooper looper;  // never started: Flush() and Empty() run on the caller
    ZoCrosswalk walk{1};
    soak::Job job{Sleep<soak::Job&>};
    soak::Thread sleeper{Sleep<soak::Thread&>};
    std::string segment = "/zolib.sweep." + std::to_string(getpid());
    char byte = 0;
    unsigned int length = 1;
    ZoBag* received = nullptr;
    ZoBag sent{5};
    soak::Job* self = nullptr;  // the cancelled thread
};

// Starts `thread` and waits until it is in its body.
template <class Thread>
Thread& Running(Thread& thread) {
    thread.Run();
    while (!thread.IsRunning())
        Yield();
    return thread;
}

void TeamOfOne(bool wait) {
    ZoTeam team("team");
    team.Attach(new soak::Thread(Sleep<soak::Thread&>));
    team.Run();
    if (wait) team.WaitEnd(WAIT_ALL);
}

// Cancelled inside pthread_join: ThreadSanitizer's join forgets the thread
// before the real join, so such a thread cannot be joined after it.
enum { JOINS = 1, FULL_BOX = 2 };

// Each case runs on the cancelled thread with the request pending.
const struct Case {
    const char* name;
    void (*run)(World& w);
    int flags = 0;
} kCases[] = {
    // Destructors (and constructors) of objects on the thread's stack.
    {"~ZoPipe", [](World&) { ZoPipe pipe(0); }},
    {"~ZoMsgBox", [](World&) { ZoMsgBox box(0); }},
    {"~ZoThread", [](World&) { soak::Thread(Sleep<soak::Thread&>).Run(); }},
    {"~ZoTask", [](World&) { ZoTask("task", Sleep<ZoTask*, void*>, nullptr, false).Run(); }},
    {"~ZoLooper",
     [](World&) {
         SlowLooper looper;
         looper.Run();
         looper.PostMessage(1);
     }},
    {"~ZoJob", [](World&) { soak::Job(Sleep<soak::Job&>).Start(); }},
    {"~ZoTeam", [](World&) { TeamOfOne(false); }},
    {"~ZoCrosswalk", [](World&) { ZoCrosswalk walk(2); }},
    {"~ZoShMemory", [](World& w) { ZoShMemory memory(w.segment.c_str(), 64); }},
    {"~ZoMember", [](World&) { ZoMember member("sweep", MEMBER_APP); }},
    // Calls with a cancellation point.
    {"ZoPipe::Read", [](World& w) { w.pipe.Read(&w.byte, &w.length); }},
    {"ZoPipe::Write", [](World& w) { w.pipe.Write("x", 1, nullptr); }},
    {"ZoChannel::Receive", [](World& w) { w.pipe.Receive(&w.received); }},
    {"ZoChannel::Send", [](World& w) { w.pipe.Send(&w.sent, nullptr); }},
    {"ZoMultiplexer::Listen", [](World& w) { w.multiplexer.Listen(); }},
    {"ZoLooper::PostMessage", [](World& w) { w.looper.PostMessage(2); }},
    {"ZoLooper::PostMessage(full)", [](World& w) { w.looper.PostMessage(3); }, FULL_BOX},
    {"ZoLooper::Flush", [](World& w) { w.looper.Flush(); }},
    {"ZoLooper::Empty", [](World& w) { w.looper.Empty(); }},
    {"ZoThread::WaitEnd", [](World& w) { Running(w.sleeper).WaitEnd(); }, JOINS},
    {"ZoThread::Cancel", [](World& w) { Running(w.sleeper).Cancel(); }, JOINS},
    {"ZoThread::Abort", [](World& w) { Running(w.sleeper).Abort(); }, JOINS},
    {"Snooze", [](World&) { mSnooze(1000); }},
    {"ZoCrosswalk::Wait", [](World& w) { w.walk.Wait(0, 0); }},
    {"ZoCrosswalk::Green", [](World& w) { w.walk.Green(0); }},
    {"ZoJob::Stop", [](World& w) { Running(w.job).Stop(); }, JOINS},
    {"ZoJob::IsPaused",
     [](World& w) {
         w.self->Pause();
         w.self->IsPaused();
     }},
    {"ZoTeam::WaitEnd", [](World&) { TeamOfOne(true); }},
};

bool Registered(pid_t pid) {
    ZoMember observer("observer", MEMBER_OBSERVER);
    std::unique_ptr<ZoList> apps(observer.ListApps());
    for (long i = 0; apps && i < apps->Size(); i++)
        if (static_cast<T_App*>(apps->GetItem(i))->pid == pid) return true;
    return false;
}

// Not held by anyone: a try takes it, and it is given back.
bool Free(ZoLocker& locker) {
    bool taken = !locker.Locked();
    if (taken) locker.Unlock();
    return taken;
}

void Sweep(const Case& which, bool fromOutside) {
    SCOPED_TRACE(std::string(which.name) + (fromOutside ? ", request from outside" : ", seam"));
    World world;
    for (int i = 1; (which.flags & FULL_BOX) != 0 && i < 8192; i++)  // the box holds 8192
        world.looper.PostMessage(i);
    {
        std::atomic<bool> ready{false}, requested{false}, pastTheEnd{false};
        soak::Job victim([&](soak::Job& self) {
            if (!fromOutside) pthread_cancel(pthread_self());
            for (ready = true; fromOutside && !requested;) {
                // Computing: no cancellation point.
            }
            world.self = &self;
            which.run(world);
            IsCanceled();
            pastTheEnd = true;
        });
        victim.Start();
        if (fromOutside) {
            EXPECT_TRUE(soak::WaitUntil([&] { return ready.load(); }));
            pthread_cancel(victim.ID());
            requested = true;
        }
        EXPECT_EQ(victim.WaitEnd(), 0);
        EXPECT_EQ(victim.canceled, 1);
        EXPECT_FALSE(pastTheEnd);
    }
    EXPECT_TRUE(Free(world.looper));
    EXPECT_TRUE(Free(world.walk));
    EXPECT_TRUE(Free(world.job));
    EXPECT_EQ(world.walk.Waiting(0), 0);
    world.walk.Green(0);  // the lane's own mutex is free too, or this blocks
    EXPECT_TRUE(world.walk.Wait(0, 0));
    EXPECT_NE(shm_unlink(world.segment.c_str()), 0) << "segment left behind";
    EXPECT_FALSE(Registered(getpid()));
    world.looper.Empty();
}

TEST(CancelSweep, NoDestructorOrCallLetsACancellationThrough) {
    soak::Clock clock;
    long passes = 0, runs = 0;
    for (; passes == 0 || (clock.Running() && !::testing::Test::HasFailure()); passes++) {
        for (const Case& which : kCases) {
#if defined(__SANITIZE_THREAD__)
            if ((which.flags & JOINS) != 0) continue;
#endif
            for (bool fromOutside : {false, true}) {
                Sweep(which, fromOutside);
                runs++;
            }
        }
    }
    soak::Report("CancelSweep", {{"cases", static_cast<long>(std::size(kCases))},
                                 {"passes", passes},
                                 {"cancellations", runs}});
}

}  // namespace

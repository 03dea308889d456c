// Team.h comes before GoogleTest here, so <sys/wait.h> (which GoogleTest
// includes) defines WAIT_ANY after the team's enumeration.
#include <zolib/threads/Snooze.h>
#include <zolib/threads/Team.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "threads/Helpers.h"
#include "threads/TeamTest.h"

static_assert(WAIT_ANY == -1, "the C library's WAIT_ANY keeps its value");

namespace {

using zotest::MillisecondsSince;
using zotest::WaitUntil;

std::atomic<int> destroyed{0};

// A member that counts its team events and runs until stopped.
class Member : public ZoThread {
  public:
    explicit Member(const char* name, long runFor = -1, bool heedStop = true)
        : ZoThread(name), runFor(runFor), heedStop(heedStop) {}
    ~Member() override {
        Halt();
        destroyed++;
    }

    void Process() override {
        auto start = std::chrono::steady_clock::now();
        while (!(heedStop && IsStopped()) && (runFor < 0 || MillisecondsSince(start) < runFor)) {
            rounds++;
            mSnooze(1);
        }
    }
    void Canceled() override { canceled = true; }
    void Attached(ZoTeam* team) override {
        attached++;
        ZoThread::Attached(team);
    }
    void Deattached() override {
        detached++;
        ZoThread::Deattached();
    }

    long runFor;  // ms; -1 until stopped
    // Cancel() also sets the stop flag: a member that heeds it may leave its
    // loop before reaching the cancellation point, and then is not canceled.
    bool heedStop;
    std::atomic<long> rounds{0};
    std::atomic<bool> canceled{false};
    int attached = 0;
    int detached = 0;
};

TEST(TeamMembers, AttachesOnceAndDetaches) {
    ZoTeam team("crew");
    Member a("a");
    team.Attach(&a);
    team.Attach(&a);
    team.Attach(nullptr);
    EXPECT_EQ(a.attached, 1);
    EXPECT_EQ(a.Team(), &team);
    EXPECT_EQ(team.Find("a"), &a);

    team.Deattach(&a);
    EXPECT_EQ(a.detached, 1);
    EXPECT_EQ(a.Team(), nullptr);
    EXPECT_EQ(team.Find("a"), nullptr);
    team.Deattach(&a);
    EXPECT_EQ(a.detached, 1);
}

TEST(TeamMembers, DetachingAnotherTeamsThreadChangesNothing) {
    ZoTeam mine("mine"), theirs("theirs");
    Member a("a");
    theirs.Attach(&a);
    mine.Deattach(&a);
    EXPECT_EQ(a.detached, 0);
    EXPECT_EQ(a.Team(), &theirs);
    theirs.Deattach(&a);
}

TEST(TeamMembers, FindReturnsTheFirstOfAName) {
    ZoTeam team("crew");
    Member first("twin"), second("twin"), other("other");
    ZoThread unnamed(nullptr);
    team.Attach(&other);
    team.Attach(&first);
    team.Attach(&second);
    EXPECT_EQ(team.Find("twin"), &first);
    EXPECT_EQ(team.Find("other"), &other);
    EXPECT_EQ(team.Find("nobody"), nullptr);
    EXPECT_EQ(team.Find(nullptr), nullptr);
    team.Attach(&unnamed);
    EXPECT_EQ(team.Find(nullptr), &unnamed);
    for (ZoThread* thread : {(ZoThread*)&other, (ZoThread*)&first, (ZoThread*)&second, &unnamed})
        team.Deattach(thread);
}

TEST(TeamMembers, DestroyingTheTeamDeletesOnlyItsMembers) {
    destroyed = 0;
    auto* team = new ZoTeam("crew");
    auto* idle = new Member("idle");
    auto* busy = new Member("busy");
    auto* left = new Member("left");
    team->Attach(idle);
    team->Attach(busy);
    team->Attach(left);
    team->Deattach(left);
    ASSERT_TRUE(busy->Run());
    ASSERT_TRUE(WaitUntil([&] { return busy->rounds > 0; }));
    delete team;  // aborts the running member
    EXPECT_EQ(destroyed, 2);
    delete left;
    EXPECT_EQ(destroyed, 3);
}

TEST(TeamControl, RunsSuspendsResumesAndCancelsTogether) {
    ZoTeam team("crew");
    Member a("a", -1, false), b("b", -1, false);
    team.Attach(&a);
    team.Attach(&b);
    EXPECT_FALSE(team.IsRunning());
    team.Run();
    ASSERT_TRUE(WaitUntil([&] { return team.IsRunning(); }));

    team.Suspend();
    EXPECT_TRUE(team.IsSuspended());
    team.Resume();
    EXPECT_FALSE(team.IsSuspended());
    long beforeA = a.rounds, beforeB = b.rounds;
    EXPECT_TRUE(WaitUntil([&] { return a.rounds > beforeA && b.rounds > beforeB; }));

    team.Cancel();
    EXPECT_TRUE(a.canceled);
    EXPECT_TRUE(b.canceled);
    EXPECT_FALSE(team.IsRunning());
    for (Member* member : {&a, &b})
        team.Deattach(member);
}

TEST(TeamControl, CancelAndAbortSkipIdleMembers) {
    ZoTeam team("crew");
    Member busy("busy"), idle("idle");
    team.Attach(&busy);
    team.Attach(&idle);
    ASSERT_TRUE(busy.Run());
    ASSERT_TRUE(WaitUntil([&] { return busy.IsRunning(); }));
    team.Abort();
    EXPECT_FALSE(busy.IsRunning());
    EXPECT_FALSE(busy.canceled);
    team.Cancel();
    EXPECT_FALSE(idle.canceled);
    EXPECT_FALSE(idle.IsStopped());
    EXPECT_EQ(team.Find("idle"), &idle);  // still attached
    EXPECT_EQ(team.Find("busy"), &busy);
    for (Member* member : {&busy, &idle})
        team.Deattach(member);
}

TEST(TeamWait, AllWaitsForTheLastMember) {
    ZoTeam team("crew");
    auto* quick = new Member("quick", 50);
    auto* slow = new Member("slow", 1300);
    team.Attach(quick);
    team.Attach(slow);
    team.Run();
    ASSERT_TRUE(WaitUntil([&] { return team.IsRunning(); }));
    auto start = std::chrono::steady_clock::now();
    team.WaitEnd(WAIT_ALL);
    EXPECT_FALSE(quick->IsRunning());
    EXPECT_FALSE(slow->IsRunning());
    EXPECT_GE(MillisecondsSince(start), 1000);
}

TEST(TeamWait, AnyReturnsOnceOneMemberHasEnded) {
    ZoTeam team("crew");
    auto* quick = new Member("quick", 20);
    auto* endless = new Member("endless");
    team.Attach(quick);
    team.Attach(endless);
    team.Run();
    ASSERT_TRUE(WaitUntil([&] { return endless->IsRunning(); }));
    team.WaitEnd(WAIT_ANY);  // WAIT_ANY is <sys/wait.h>'s -1 in this file
    EXPECT_FALSE(quick->IsRunning());
    EXPECT_TRUE(endless->IsRunning());
}  // the team aborts the endless member

TEST(TeamWait, EmptyTeamAndUnknownModesReturnAtOnce) {
    ZoTeam empty("nobody");
    auto start = std::chrono::steady_clock::now();
    empty.WaitEnd(WAIT_ANY);
    EXPECT_TRUE(WaitAnyWithoutMacro(empty));
    ZoTeam team("crew");
    auto* endless = new Member("endless");
    team.Attach(endless);
    ASSERT_TRUE(endless->Run());
    team.WaitEnd(static_cast<T_THREAD_WAIT>(7));
    team.WaitEnd(-7);
    EXPECT_LT(MillisecondsSince(start), 900);  // no one-second poll happened
}

}  // namespace

// Team.h comes before GoogleTest here, so <sys/wait.h> (which GoogleTest
// includes) defines WAIT_ANY after the team's enumeration; TeamNoMacro.cpp
// and TeamWaitOrder.cpp build the two other orders. Running teams cancelled,
// aborted and suspended over and over are in tests/stress (the team scenario).
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

// A member that counts its team events and runs for `runFor` ms (-1: until stopped).
class Member : public ZoThread {
  public:
    explicit Member(const char* name, long runFor = -1) : ZoThread(name), runFor(runFor) {}
    ~Member() override {
        Halt();
        destroyed++;
    }

    void Process() override {
        auto start = std::chrono::steady_clock::now();
        while (!IsStopped() && (runFor < 0 || MillisecondsSince(start) < runFor))
            mSnooze(1);
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

    long runFor;
    std::atomic<bool> canceled{false};
    int attached = 0;
    int detached = 0;
};

TEST(TeamMembers, AttachOnceFindTheFirstOfANameDetachOnlyMembers) {
    ZoTeam team("crew"), theirs("theirs");
    Member first("twin"), second("twin"), other("other");
    ZoThread unnamed(nullptr);
    for (ZoThread* thread : {static_cast<ZoThread*>(&other), static_cast<ZoThread*>(&first),
                             static_cast<ZoThread*>(&first), static_cast<ZoThread*>(&second),
                             static_cast<ZoThread*>(nullptr)})
        team.Attach(thread);
    EXPECT_EQ(first.attached, 1);
    EXPECT_EQ(first.Team(), &team);
    EXPECT_EQ(team.Find("twin"), &first);
    EXPECT_EQ(team.Find("other"), &other);
    EXPECT_EQ(team.Find("nobody"), nullptr);
    EXPECT_EQ(team.Find(nullptr), nullptr);
    team.Attach(&unnamed);
    EXPECT_EQ(team.Find(nullptr), &unnamed);

    theirs.Deattach(&first);  // not theirs: nothing
    EXPECT_EQ(first.detached, 0);
    team.Deattach(&first);
    team.Deattach(&first);
    EXPECT_EQ(first.detached, 1);
    EXPECT_EQ(first.Team(), nullptr);
    EXPECT_EQ(team.Find("twin"), &second);  // listed once: gone with one Deattach
    for (ZoThread* thread :
         {static_cast<ZoThread*>(&other), static_cast<ZoThread*>(&second), &unnamed})
        team.Deattach(thread);
}

TEST(TeamMembers, DestroyingTheTeamDeletesOnlyItsMembers) {
    destroyed = 0;
    auto* team = new ZoTeam("crew");
    auto* busy = new Member("busy");
    auto* left = new Member("left");
    team->Attach(new Member("idle"));
    team->Attach(busy);
    team->Attach(left);
    team->Deattach(left);
    ASSERT_TRUE(busy->Run());
    ASSERT_TRUE(WaitUntil([&] { return busy->IsRunning(); }));
    delete team;  // aborts the running member
    EXPECT_EQ(destroyed, 2);
    delete left;
}

TEST(TeamControl, ActsOnRunningMembersAndSkipsIdleOnes) {
    ZoTeam team("crew");
    Member a("a"), b("b"), idle("idle");
    team.Attach(&a);
    team.Attach(&b);
    ASSERT_TRUE(a.Run() && b.Run());
    ASSERT_TRUE(WaitUntil([&] { return team.IsRunning(); }));
    team.Suspend();
    EXPECT_TRUE(team.IsSuspended());
    team.Resume();
    EXPECT_FALSE(team.IsSuspended());
    team.Attach(&idle);
    team.Abort();
    EXPECT_FALSE(a.IsRunning() || b.IsRunning());
    EXPECT_FALSE(a.canceled || b.canceled);
    team.Cancel();
    EXPECT_FALSE(idle.canceled);
    EXPECT_FALSE(idle.IsStopped());
    EXPECT_FALSE(team.IsRunning());
    for (Member* member : {&a, &b, &idle})
        team.Deattach(member);
}

TEST(TeamWait, AllWaitsForTheLastAnyForTheFirstOthersReturnAtOnce) {
    struct {
        int mode;
        long slowMs;     // the second member's time; -1: until stopped
        bool slowEnded;  // when WaitEnd returns
        long atLeastMs;
        long underMs;
    } cases[] = {
        {WAIT_ALL, 1300, true, 1000, 30000},
        {WAIT_ANY, -1, false, 0, 30000},  // WAIT_ANY is <sys/wait.h>'s -1 in this file
        {7, -1, false, 0, 900},           // unknown modes: no one-second poll happens
        {-7, -1, false, 0, 900},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        ZoTeam team("crew");
        auto* quick = new Member("quick", 20);
        auto* slow = new Member("slow", c.slowMs);
        team.Attach(quick);
        team.Attach(slow);
        team.Run();
        ASSERT_TRUE(WaitUntil([&] { return slow->IsRunning(); }));
        auto start = std::chrono::steady_clock::now();
        team.WaitEnd(c.mode);
        EXPECT_GE(MillisecondsSince(start), c.atLeastMs);
        EXPECT_LT(MillisecondsSince(start), c.underMs);
        if (c.underMs > 900) {
            EXPECT_FALSE(quick->IsRunning());
        }
        EXPECT_EQ(slow->IsRunning(), !c.slowEnded);
    }  // the team aborts the members still running
    ZoTeam empty("nobody");
    auto start = std::chrono::steady_clock::now();
    empty.WaitEnd(WAIT_ANY);
    EXPECT_TRUE(WaitAnyWithoutMacro(empty));
    EXPECT_TRUE(WaitAnyWaitHeaderFirst(empty));
    EXPECT_LT(MillisecondsSince(start), 900);
}

}  // namespace

// Lockers and crosswalks. Rapid switching with many waiters, with and
// without time-outs, is in tests/stress (the crosswalk scenario).
#include <zolib/threads/Crosswalk.h>
#include <zolib/threads/Snooze.h>
#include <zolib/threads/Task.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include "threads/Helpers.h"

namespace {

using zotest::MillisecondsSince;
using zotest::WaitUntil;

// Locked() from another thread (1 busy, 0 free); a free locker is taken by
// the try, so the probe gives it back.
int LockedElsewhere(ZoLocker& locker) {
    struct Probe {
        ZoLocker* locker;
        std::atomic<int> seen{-1};
    } probe{&locker};
    ZoTask task(
        "probe",
        [](ZoTask*, void* data) {
            Probe* probe = static_cast<Probe*>(data);
            bool busy = probe->locker->Locked();
            if (!busy) probe->locker->Unlock();
            probe->seen = busy ? 1 : 0;
        },
        &probe, false);
    if (!task.Run() || task.WaitEnd() != 0) return -1;
    return probe.seen;
}

TEST(Locker, LockedTakesAFreeLockerAndSeesAnotherHolder) {
    ZoLocker locker;
    EXPECT_EQ(LockedElsewhere(locker), 0);
    EXPECT_FALSE(locker.Locked());  // free: the try took it
    EXPECT_EQ(LockedElsewhere(locker), 1);
    EXPECT_TRUE(locker.Unlock());
    EXPECT_EQ(LockedElsewhere(locker), 0);
}

// A thread waiting at one lane of a crosswalk.
class Walker : public ZoThread {
  public:
    Walker(ZoCrosswalk* crosswalk, int lane, unsigned long timeout = 0)
        : ZoThread("walker"), crosswalk(crosswalk), lane(lane), timeout(timeout) {}
    ~Walker() override { Halt(); }
    void Process() override {
        result = crosswalk->Wait(lane, timeout) ? 1 : 0;
        crossed = true;
    }

    ZoCrosswalk* crosswalk;
    int lane;
    unsigned long timeout;
    std::atomic<int> result{-1};
    std::atomic<bool> crossed{false};
};

TEST(CrosswalkLights, OneGreenReleasesEveryWaiterAndStaysGreenUntilRed) {
    ZoCrosswalk crosswalk(3);
    std::vector<std::unique_ptr<Walker>> walkers;
    for (int i = 0; i < 3; i++) {
        walkers.emplace_back(new Walker(&crosswalk, 2));
        ASSERT_TRUE(walkers.back()->Run());
    }
    ASSERT_TRUE(WaitUntil([&] { return crosswalk.Waiting(2) == 3; }));
    // Red on a red lane, or another lane turning green, lets nobody through.
    crosswalk.Red(2);
    crosswalk.Green(0);
    mSnooze(50);
    EXPECT_EQ(crosswalk.Waiting(2), 3);
    for (auto& walker : walkers)
        EXPECT_FALSE(walker->crossed);

    crosswalk.Green(2);
    for (auto& walker : walkers) {
        EXPECT_EQ(walker->WaitEnd(), 0);
        EXPECT_EQ(walker->result, 1);
    }
    EXPECT_EQ(crosswalk.Waiting(2), 0);
    EXPECT_TRUE(crosswalk.Wait(2, 0));
    EXPECT_TRUE(crosswalk.Wait(0, 1000));
    crosswalk.Red(2);
    EXPECT_FALSE(crosswalk.Wait(2, 20000000));
    crosswalk.Flush();
    EXPECT_FALSE(crosswalk.Wait(0, 1000000));
}

TEST(CrosswalkLights, TimedWaitsRunOutOrSeeTheLightTurnGreenInTime) {
    const struct {
        unsigned long timeout;  // ns
        long greenAfterMs;      // -1: stays red
        int result;
        long atLeastMs;
    } kCases[] = {
        {50000000, -1, 0, 45},  // the deadline is on another clock: a little slack
        {10000000000UL, 10, 1, 0},
        {~0UL, 20, 1, 0},  // a huge limit does not overflow into the past
    };
    for (const auto& c : kCases) {
        ZoCrosswalk crosswalk(1);
        Walker walker(&crosswalk, 0, c.timeout);
        auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(walker.Run());
        if (c.greenAfterMs >= 0) {
            ASSERT_TRUE(WaitUntil([&] { return crosswalk.Waiting(0) == 1; }));
            mSnooze(c.greenAfterMs);
            EXPECT_FALSE(walker.crossed);
            crosswalk.Green(0);
        }
        EXPECT_EQ(walker.WaitEnd(), 0);
        EXPECT_EQ(walker.result, c.result) << c.timeout;
        EXPECT_GE(MillisecondsSince(start), c.atLeastMs);
        EXPECT_EQ(crosswalk.Waiting(0), 0);
    }
}

TEST(CrosswalkLanes, DestroyingReleasesWaitersAndGivesUpOnAbortedOnes) {
    auto* crosswalk = new ZoCrosswalk(2);
    Walker first(crosswalk, 0), second(crosswalk, 1);
    ASSERT_TRUE(first.Run() && second.Run());
    ASSERT_TRUE(WaitUntil([&] { return crosswalk->Waiting(0) + crosswalk->Waiting(1) == 2; }));
    delete crosswalk;
    EXPECT_EQ(first.WaitEnd(), 0);
    EXPECT_EQ(second.WaitEnd(), 0);
    EXPECT_EQ(first.result + second.result, 2);

    // An aborted waiter never counts itself out of its lane.
    crosswalk = new ZoCrosswalk(1);
    Walker aborted(crosswalk, 0);
    ASSERT_TRUE(aborted.Run());
    ASSERT_TRUE(WaitUntil([&] { return crosswalk->Waiting(0) == 1; }));
    mSnooze(50);  // into the condition wait, where no lock is held
    aborted.Abort();
    auto start = std::chrono::steady_clock::now();
    delete crosswalk;
    EXPECT_LT(MillisecondsSince(start), 30000);
}

TEST(CrosswalkLanes, LanesOutsideTheRangeAreIgnored) {
    ZoCrosswalk crosswalk(2), none(0), negative(-3);
    crosswalk.Green(-1);
    crosswalk.Green(2);
    crosswalk.Red(100);
    none.Green(0);
    for (ZoCrosswalk* walk : {&crosswalk, &none, &negative}) {
        EXPECT_FALSE(walk->Wait(2, 0));
        EXPECT_FALSE(walk->Wait(-1, 1000));
        EXPECT_FALSE(walk->Wait(0, walk == &crosswalk ? 1000 : 0));
        EXPECT_EQ(walk->Waiting(2), 0);
        EXPECT_EQ(walk->Waiting(-5), 0);
    }
    negative.Flush();
}

}  // namespace

// Crosswalks. Rapid switching with many waiters, with and without time-outs,
// and destruction releasing waiters are in tests/stress (the crosswalk
// scenario); the cancellation sweep there checks Locked() on every lock a
// cancelled thread may have held.
#include <zolib/threads/Crosswalk.h>
#include <zolib/threads/Snooze.h>
#include <zolib/threads/Thread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include "threads/Helpers.h"

namespace {

using zotest::MillisecondsSince;
using zotest::WaitUntil;

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
        {50000000, -1, 0, 45},     // the deadline is on another clock: a little slack
        {4000000000UL, 10, 1, 0},  // 4 s (fits a 32-bit unsigned long): never reached
        {~0UL, 20, 1, 0},          // a huge limit does not overflow into the past
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

TEST(CrosswalkLanes, DestroyingGivesUpOnAbortedWaiters) {
    // An aborted waiter never counts itself out of its lane.
    auto* crosswalk = new ZoCrosswalk(1);
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

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
    void Canceled() override { canceled = true; }

    ZoCrosswalk* crosswalk;
    int lane;
    unsigned long timeout;
    std::atomic<int> result{-1};
    std::atomic<bool> crossed{false};
    std::atomic<bool> canceled{false};
};

TEST(CrosswalkLights, GreenLaneLetsThroughAtOnce) {
    ZoCrosswalk crosswalk(3);
    crosswalk.Green(1);
    EXPECT_TRUE(crosswalk.Wait(1, 0));
    EXPECT_TRUE(crosswalk.Wait(1, 1000));
    EXPECT_EQ(crosswalk.Waiting(1), 0);
}

TEST(CrosswalkLights, OneGreenReleasesEveryWaiterAndStaysGreen) {
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
}

TEST(CrosswalkLights, RedStopsLaterWaiters) {
    ZoCrosswalk crosswalk(1);
    crosswalk.Green(0);
    crosswalk.Red(0);
    EXPECT_FALSE(crosswalk.Wait(0, 20000000));
}

TEST(CrosswalkTimedWait, RunsOutOnARedLane) {
    ZoCrosswalk crosswalk(1);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(crosswalk.Wait(0, 50000000));
    EXPECT_GE(MillisecondsSince(start), 45);  // the deadline is on another clock
    EXPECT_EQ(crosswalk.Waiting(0), 0);
}

TEST(CrosswalkTimedWait, SeesALightTurningGreenInTime) {
    ZoCrosswalk crosswalk(1);
    Walker walker(&crosswalk, 0, 10000000000UL);  // 10 s: never reached
    ASSERT_TRUE(walker.Run());
    ASSERT_TRUE(WaitUntil([&] { return crosswalk.Waiting(0) == 1; }));
    mSnooze(10);
    crosswalk.Green(0);
    EXPECT_EQ(walker.WaitEnd(), 0);
    EXPECT_EQ(walker.result, 1);
}

TEST(CrosswalkTimedWait, HugeLimitDoesNotOverflow) {
    ZoCrosswalk crosswalk(1);
    Walker walker(&crosswalk, 0, ~0UL);
    ASSERT_TRUE(walker.Run());
    ASSERT_TRUE(WaitUntil([&] { return crosswalk.Waiting(0) == 1; }));
    mSnooze(20);
    EXPECT_FALSE(walker.crossed);
    crosswalk.Green(0);
    EXPECT_EQ(walker.WaitEnd(), 0);
    EXPECT_EQ(walker.result, 1);
}

TEST(CrosswalkWaiters, DestroyingAfterAnAbortedWaiterDoesNotHang) {
    // An aborted waiter never counts itself out of its lane.
    auto* crosswalk = new ZoCrosswalk(1);
    Walker walker(crosswalk, 0);
    ASSERT_TRUE(walker.Run());
    ASSERT_TRUE(WaitUntil([&] { return crosswalk->Waiting(0) == 1; }));
    mSnooze(50);  // into the condition wait, where no lock is held
    walker.Abort();
    EXPECT_FALSE(walker.crossed);
    auto start = std::chrono::steady_clock::now();
    delete crosswalk;
    EXPECT_LT(MillisecondsSince(start), 30000);
}

TEST(CrosswalkWaiters, DestroyingReleasesWaiters) {
    auto* crosswalk = new ZoCrosswalk(2);
    Walker first(crosswalk, 0), second(crosswalk, 1);
    ASSERT_TRUE(first.Run());
    ASSERT_TRUE(second.Run());
    ASSERT_TRUE(WaitUntil([&] { return crosswalk->Waiting(0) + crosswalk->Waiting(1) == 2; }));
    delete crosswalk;
    EXPECT_EQ(first.WaitEnd(), 0);
    EXPECT_EQ(second.WaitEnd(), 0);
    EXPECT_EQ(first.result, 1);
    EXPECT_EQ(second.result, 1);
}

TEST(CrosswalkLanes, FlushTurnsEveryLightRed) {
    ZoCrosswalk crosswalk(2);
    crosswalk.Green(0);
    crosswalk.Green(1);
    crosswalk.Flush();
    EXPECT_FALSE(crosswalk.Wait(0, 1000000));
    EXPECT_FALSE(crosswalk.Wait(1, 1000000));
}

TEST(CrosswalkLanes, LanesOutsideTheRangeAreIgnored) {
    ZoCrosswalk crosswalk(2);
    crosswalk.Green(-1);
    crosswalk.Green(2);
    crosswalk.Red(100);
    EXPECT_FALSE(crosswalk.Wait(2, 0));
    EXPECT_FALSE(crosswalk.Wait(-1, 1000));
    EXPECT_EQ(crosswalk.Waiting(2), 0);
    EXPECT_EQ(crosswalk.Waiting(-5), 0);

    ZoCrosswalk none(0), negative(-3);
    none.Green(0);
    EXPECT_FALSE(none.Wait(0, 0));
    EXPECT_FALSE(negative.Wait(0, 0));
    EXPECT_EQ(negative.Waiting(0), 0);
    negative.Flush();
}

}  // namespace

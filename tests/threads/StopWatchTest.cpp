#include <zolib/threads/Snooze.h>
#include <zolib/threads/StopWatch.h>

#include <gtest/gtest.h>

#include "threads/Helpers.h"

namespace {

using zotest::FakeClock;

TEST(StopWatchTicks, ReadsMinusOneInTheTickItStarted) {
    FakeClock clock(5000);
    ZoStopWatch watch;
    watch.Start();
    EXPECT_EQ(watch.Ticks(), -1);
    EXPECT_EQ(watch.Seconds(), 0.0);
    EXPECT_EQ(watch.MSeconds(), 0UL);
    EXPECT_EQ(watch.USeconds(), 0UL);
    EXPECT_EQ(watch.NSeconds(), 0UL);
}

TEST(StopWatchTicks, ConvertsAfterTwoHundredFiftyTicks) {
    FakeClock clock(1000);
    ZoStopWatch watch;
    watch.Start();
    clock.Set(1250);
    EXPECT_EQ(watch.Ticks(), 249);
    EXPECT_DOUBLE_EQ(watch.Seconds(), 2.49);
    EXPECT_EQ(watch.MSeconds(), 2490UL);
    EXPECT_EQ(watch.USeconds(), 249000UL);  // exact, not 248999
    EXPECT_EQ(watch.NSeconds(), 2490000000UL);
}

TEST(StopWatchTicks, PauseBanksAndStartContinues) {
    FakeClock clock(100);
    ZoStopWatch watch;
    watch.Start();
    clock.Set(200);
    watch.Pause();
    EXPECT_EQ(watch.Ticks(), 100);  // paused: the banked ticks, no -1
    clock.Set(900);
    EXPECT_EQ(watch.Ticks(), 100);
    EXPECT_DOUBLE_EQ(watch.Seconds(), 1.0);
    watch.Start();
    clock.Set(950);
    EXPECT_EQ(watch.Ticks(), 149);
}

TEST(StopWatchTicks, SecondPauseBanksTheSameStretchAgain) {
    FakeClock clock(0);
    ZoStopWatch watch;
    watch.Start();
    clock.Set(30);
    watch.Pause();
    clock.Set(50);
    watch.Pause();
    EXPECT_EQ(watch.Ticks(), 80);
}

TEST(StopWatchTicks, StopFreezesTheReadings) {
    FakeClock clock(10);
    ZoStopWatch watch;
    watch.Start();
    clock.Set(111);
    watch.Stop();
    clock.Set(5000);
    EXPECT_EQ(watch.Ticks(), 100);
    EXPECT_EQ(watch.MSeconds(), 1000UL);
    clock.Set(9000);
    EXPECT_EQ(watch.Ticks(), 100);
}

TEST(StopWatchTicks, ResetClearsEverything) {
    FakeClock clock(10);
    ZoStopWatch watch;
    watch.Start();
    clock.Set(20);
    watch.Pause();
    watch.Stop();
    watch.Reset();
    watch.Start();
    EXPECT_EQ(watch.Ticks(), -1);
}

TEST(StopWatchWidths, NanosecondsWrapAt32Bits) {
    FakeClock clock(0);
    ZoStopWatch watch;
    watch.Start();
    clock.Set(500);
    EXPECT_EQ(watch.NSeconds(), (499UL * 10000000UL) % 4294967296UL);
    EXPECT_DOUBLE_EQ(watch.Seconds(), 4.99);
}

TEST(StopWatchWidths, MicroAndMillisecondsWrapAt32Bits) {
    FakeClock clock(0);
    ZoStopWatch watch;
    watch.Start();
    clock.Set(5000001);  // T = 5,000,000 ticks
    EXPECT_EQ(watch.USeconds(), 5000000000UL % 4294967296UL);
    EXPECT_EQ(watch.MSeconds(), 50000000UL);
    clock.Set(500000001);  // T = 500,000,000 ticks
    EXPECT_EQ(watch.MSeconds(), 5000000000UL % 4294967296UL);
    EXPECT_DOUBLE_EQ(watch.Seconds(), 5000000.0);
}

TEST(StopWatchRealClock, CountsElapsedTicks) {
    ZoStopWatch watch;
    watch.Start();
    mSnooze(60);
    watch.Stop();
    // At 100 ticks a second, 60 ms span at least 5 tick boundaries.
    EXPECT_GE(watch.Ticks(), 4);
    EXPECT_GE(watch.MSeconds(), 40UL);
}

}  // namespace

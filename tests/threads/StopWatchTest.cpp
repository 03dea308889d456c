// The stop watch on a fake tick clock: exact tick arithmetic and widths.
#include <zolib/threads/Snooze.h>
#include <zolib/threads/StopWatch.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "threads/Helpers.h"

namespace {

using zotest::FakeClock;

TEST(StopWatchTicks, EveryCallSequenceCountsTheRunningStretches) {
    // Each step sets the clock, then calls: S Start, P Pause, T Stop, R Reset,
    // - nothing. A running watch reads one tick less than it ran.
    struct Step {
        char call;
        clock_t at;
    };
    const struct {
        std::vector<Step> steps;
        long ticks;
    } kCases[] = {
        {{{'S', 5000}}, -1},  // in the tick it started
        {{{'S', 1000}, {'-', 1250}}, 249},
        {{{'S', 100}, {'P', 200}, {'-', 900}}, 100},  // paused: the banked ticks, no -1
        {{{'S', 100}, {'P', 200}, {'S', 900}, {'-', 950}}, 149},
        {{{'S', 0}, {'P', 30}, {'P', 50}}, 80},  // a second pause banks the stretch again
        {{{'S', 10}, {'T', 111}, {'-', 5000}}, 100},
        {{{'S', 10}, {'P', 20}, {'T', 20}, {'R', 20}, {'S', 20}, {'-', 20}}, -1},
    };
    for (const auto& c : kCases) {
        FakeClock clock(0);
        ZoStopWatch watch;
        std::string calls;
        for (const Step& step : c.steps) {
            clock.Set(step.at);
            calls += step.call;
            if (step.call == 'S') watch.Start();
            if (step.call == 'P') watch.Pause();
            if (step.call == 'T') watch.Stop();
            if (step.call == 'R') watch.Reset();
        }
        EXPECT_EQ(watch.Ticks(), c.ticks) << calls;
    }
}

TEST(StopWatchWidths, ConversionsAreExactAndWrapAt32Bits) {
    const unsigned long kSkip = ~0UL;  // not checked at this width
    const struct {
        clock_t ticks;
        double seconds;
        unsigned long ms, us, ns;
    } kCases[] = {
        {-1, 0.0, 0, 0, 0},
        {249, 2.49, 2490, 249000, 2490000000UL},  // exact, not 248999
        {499, 4.99, 4990, 499000, (499UL * 10000000UL) % 4294967296UL},
        {5000000, 50000.0, 50000000, 5000000000UL % 4294967296UL, kSkip},
        {500000000, 5000000.0, 5000000000UL % 4294967296UL, kSkip, kSkip},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.ticks);
        FakeClock clock(1000);
        ZoStopWatch watch;
        watch.Start();
        clock.Set(1001 + c.ticks);
        EXPECT_DOUBLE_EQ(watch.Seconds(), c.seconds);
        EXPECT_EQ(watch.MSeconds(), c.ms);
        if (c.us != kSkip) {
            EXPECT_EQ(watch.USeconds(), c.us);
        }
        if (c.ns != kSkip) {
            EXPECT_EQ(watch.NSeconds(), c.ns);
        }
    }
}

TEST(StopWatchTicks, CountsOnTheRealClock) {
    ZoStopWatch watch;
    watch.Start();
    mSnooze(60);
    watch.Stop();
    // At 100 ticks a second, 60 ms span at least 5 tick boundaries.
    EXPECT_GE(watch.Ticks(), 4);
}

}  // namespace

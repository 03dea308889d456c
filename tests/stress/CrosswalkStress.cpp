// Controllers switch the lights of a crosswalk as fast as it lets them while
// many threads wait at its lanes, with and without time-outs. Every wait must
// end (released or timed out), the counters must come back to zero, and
// destroying the crosswalk must release the threads still waiting.
#include <zolib/threads/Crosswalk.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "stress/Soak.h"

namespace {

constexpr int kLanes = 4;
constexpr int kWaiters = 8;
constexpr int kControllers = 2;

long AllWaiting(ZoCrosswalk* walk) {
    long sum = 0;
    for (int lane = 0; lane < kLanes; lane++)
        sum += walk->Waiting(lane);
    return sum;
}

TEST(CrosswalkSoak, RapidSwitchingReleasesEveryWaiter) {
    // A plain pointer: the last waiters must not read a smart pointer that
    // is being reset.
    ZoCrosswalk* walk = new ZoCrosswalk(kLanes);
    soak::Clock clock;
    std::atomic<bool> switching{true};
    std::atomic<long> started{0}, released{0}, timedOut{0}, switches{0};

    std::vector<std::thread> waiters;
    for (int w = 0; w < kWaiters; w++) {
        waiters.emplace_back([&, w] {
            soak::Random random(w);
            while (switching) {
                int lane = static_cast<int>(random.Next(kLanes));
                // A third wait without limit, the others 0.1 to 5 ms.
                unsigned long timeout = random.Next(3) == 0 ? 0 : 100000ul * (1 + random.Next(50));
                started++;
                if (walk->Wait(lane, timeout)) {
                    released++;
                } else {
                    timedOut++;
                }
                // A green lane lets a waiter straight through: pause a moment
                // rather than spin there.
                std::this_thread::sleep_for(std::chrono::microseconds(random.Next(200)));
            }
        });
    }
    std::vector<std::thread> controllers;
    for (int c = 0; c < kControllers; c++) {
        controllers.emplace_back([&, c] {
            soak::Random random(100 + c);
            while (clock.Running()) {
                int lane = static_cast<int>(random.Next(kLanes));
                if (random.Next(2) == 0) {
                    walk->Green(lane);
                } else {
                    walk->Red(lane);
                }
                switches++;
            }
        });
    }
    for (std::thread& controller : controllers)
        controller.join();
    // The end of the time: every light green lets every waiter out.
    switching = false;
    for (int lane = 0; lane < kLanes; lane++)
        walk->Green(lane);
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(started, released + timedOut);
    EXPECT_EQ(AllWaiting(walk), 0);

    // Threads still waiting at red lights when the crosswalk goes are let out.
    for (int lane = 0; lane < kLanes; lane++)
        walk->Red(lane);
    std::atomic<long> releasedAtEnd{0};
    std::vector<std::thread> last;
    for (int w = 0; w < kWaiters; w++) {
        last.emplace_back([&, w] {
            if (walk->Wait(w % kLanes, 0)) releasedAtEnd++;
        });
    }
    EXPECT_TRUE(soak::WaitUntil([&] { return AllWaiting(walk) == kWaiters; }));
    delete walk;
    for (std::thread& thread : last)
        thread.join();
    EXPECT_EQ(releasedAtEnd, kWaiters);

    soak::Report("crosswalk", {{"switches", switches},
                               {"waits", started},
                               {"released", released},
                               {"timed_out", timedOut},
                               {"released_by_destruction", releasedAtEnd}});
    EXPECT_GT(released, 0);
}

}  // namespace

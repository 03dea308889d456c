// Four threads post numbered bags to one looper while a fifth sends flat bags
// through a connected pipe: every bag must be handled exactly once, each
// source's bags in the order sent.
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Pipe.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "messaging/ChildProcess.h"
#include "messaging/LooperHelpers.h"

namespace {

// A few seconds even under ThreadSanitizer: the full count runs everywhere.
constexpr int kPerPoster = 50000;
constexpr int kPosters = 4;
constexpr int kPiped = 2000;
constexpr uint32_t kPipeSource = kPosters;

class Counting : public ZoLooper {
  public:
    Counting() : ZoLooper("stress", 4096) {}
    ~Counting() override { Halt(); }

    void MessageReceived(ZoBag* message) override {
        if (message->what == zotest::kFinish) return;
        uint32_t source = message->what;
        if (source > kPipeSource || zotest::NumberOf(message) != next[source])
            faults++;
        else
            next[source]++;
        if (source == kPipeSource) handledPiped.Post();
        handled++;
    }
    void DataReceived(char*, unsigned int) override { faults++; }
    using ZoLooper::DataReceived;

    int next[kPosters + 1] = {};  // the loop thread's; read after it ended
    std::atomic<long> handled{0};
    std::atomic<int> faults{0};
    child::Note handledPiped;
};

TEST(LooperStress, EveryBagHandledOnceAndInOrderPerSource) {
    Counting looper;
    ZoPipe pipe(0);
    ASSERT_TRUE(looper.Connect(&pipe));
    ASSERT_TRUE(looper.Run());

    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; p++) {
        posters.emplace_back([&looper, p] {
            ZoBag reused(p, 0);
            for (int i = 0; i < kPerPoster; i++) {
                if (p % 2 == 0) {  // half the posters hand bags over, half post copies
                    looper.PostMessage(zotest::Numbered(p, i), false);
                } else {
                    reused.Setint32("n", i, 1);
                    looper.PostMessage(&reused, true);
                }
            }
        });
    }
    std::atomic<int> piped{0};
    std::thread sender([&] {
        zotest::Outlet outlet(&pipe);
        ZoBag bag(kPipeSource, 0);
        for (int i = 0; i < kPiped; i++) {
            bag.Setint32("n", i, 1);
            // One flat bag per read: send the next once this one is handled.
            if (!outlet.Send(&bag, nullptr) || !looper.handledPiped.Wait()) return;
            piped++;
        }
    });
    for (std::thread& poster : posters)
        poster.join();
    sender.join();
    EXPECT_EQ(piped, kPiped);

    const long total = static_cast<long>(kPosters) * kPerPoster + piped;
    EXPECT_TRUE(
        zotest::WaitUntil([&] { return looper.handled == total; }, std::chrono::seconds(30)));
    looper.Stop();
    looper.PostMessage(zotest::kFinish);
    ASSERT_TRUE(zotest::WaitUntil([&] { return !looper.IsRunning(); }));
    ASSERT_EQ(looper.WaitEnd(), 0);
    EXPECT_EQ(looper.handled, total);
    EXPECT_EQ(looper.faults, 0);
    for (int p = 0; p < kPosters; p++)
        EXPECT_EQ(looper.next[p], kPerPoster) << "poster " << p;
    EXPECT_EQ(looper.next[kPipeSource], kPiped);
}

}  // namespace

// Many threads post to one looper while others send flat bags through pipes
// of their own connected to it, for the soak time. Every bag must be handled
// exactly once, each source's in the order sent, and none may be left over
// when the loop ends.
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Pipe.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "messaging/ChildProcess.h"
#include "stress/Soak.h"

namespace {

constexpr int kPosters = 4;
constexpr int kWriters = 3;
constexpr int kSources = kPosters + kWriters;  // a bag's `what` names its source
constexpr uint32_t kFinish = 0xFFFFFFFFu;

class Counting : public ZoLooper {
  public:
    Counting() : ZoLooper("soak", 4096) {}
    ~Counting() override { Halt(); }

    void MessageReceived(ZoBag* message) override {
        if (message->what == kFinish) return;
        uint32_t source = message->what;
        int n = -1;
        message->Getint32("n", &n, 1);
        if (source >= static_cast<uint32_t>(kSources) || n != next[source]) {
            faults++;
        } else {
            next[source]++;
        }
        handled++;
        if (source >= kPosters && source < kSources) delivered[source - kPosters].Post();
    }
    void DataReceived(char*, unsigned int) override { faults++; }
    using ZoLooper::DataReceived;

    long next[kSources] = {};  // the loop thread's; read after it ended
    std::atomic<long> handled{0};
    std::atomic<long> faults{0};
    child::Note delivered[kWriters];  // one note per piped bag handled
};

// A second writer on a connected pipe, with its own buffer, as another thread
// or process holds one: sending must not touch the looper's shared buffer.
class Outlet : public ZoPipe {
  public:
    explicit Outlet(ZoChannel* target) : ZoPipe(0) {
        close(readFd);
        close(writeFd);
        readFd = -1;
        writeFd = dup(target->Device(WAY_WRITE));
        type = CHANNEL_WRITE;
        SetBuffer(4096);
    }
};

TEST(LooperSoak, PostersAndPipeWritersLoseNothing) {
    Counting looper;
    std::vector<std::unique_ptr<ZoPipe>> pipes;
    for (int w = 0; w < kWriters; w++) {
        pipes.push_back(std::make_unique<ZoPipe>(0));
        ASSERT_TRUE(pipes.back()->InitCheck());
        ASSERT_TRUE(looper.Connect(pipes.back().get()));
    }
    ASSERT_TRUE(looper.Run());

    soak::Clock clock;
    std::atomic<long> sent[kSources] = {};
    std::vector<std::thread> threads;
    for (int p = 0; p < kPosters; p++) {
        threads.emplace_back([&, p] {
            ZoBag reused(p, 0);
            for (int i = 0; clock.Running(); i++) {
                // Handed over and copied bags take the same road.
                if (i % 2 == 0) {
                    ZoBag* bag = new ZoBag(p, 0);
                    bag->Setint32("n", i, 0);
                    looper.PostMessage(bag, false);
                } else {
                    reused.Setint32("n", i, 1);
                    looper.PostMessage(&reused, true);
                }
                sent[p]++;
            }
        });
    }
    for (int w = 0; w < kWriters; w++) {
        threads.emplace_back([&, w] {
            Outlet outlet(pipes[w].get());
            ZoBag bag(kPosters + w, 0);
            for (int i = 0; clock.Running(); i++) {
                bag.Setint32("n", i, 1);
                // A pipe message is one read: the next bag goes once this one
                // is handled, or two could be read as one.
                if (!outlet.Send(&bag, nullptr)) return;
                sent[kPosters + w]++;
                if (!looper.delivered[w].Wait()) return;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    long total = 0;
    for (const auto& count : sent)
        total += count;
    EXPECT_TRUE(soak::WaitUntil([&] { return looper.handled >= total; }, std::chrono::seconds(60)));
    looper.Stop();
    looper.PostMessage(kFinish);
    ASSERT_TRUE(soak::WaitUntil([&] { return !looper.IsRunning(); }));
    ASSERT_EQ(looper.WaitEnd(), 0);

    long posted = 0, piped = 0;
    for (int s = 0; s < kSources; s++) {
        EXPECT_EQ(looper.next[s], sent[s]) << "source " << s;
        (s < kPosters ? posted : piped) += sent[s];
    }
    soak::Report("looper", {{"posted", posted},
                            {"piped", piped},
                            {"handled", looper.handled},
                            {"lost", total - looper.handled},
                            {"out_of_order", looper.faults}});
    EXPECT_EQ(looper.handled, total);
    EXPECT_EQ(looper.faults, 0);
    EXPECT_GT(piped, 0);
}

}  // namespace

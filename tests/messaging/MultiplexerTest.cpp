#include <zolib/messaging/Multiplexer.h>
#include <zolib/messaging/Pipe.h>

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "messaging/LooperHelpers.h"

namespace {

using zotest::MillisecondsSince;
using SteadyClock = std::chrono::steady_clock;

// Records the order in which channels are dispatched, reading one byte from
// each unless told not to.
class Recording : public ZoMultiplexer {
  public:
    Recording() : ZoMultiplexer(256) {}
    void DataReceived(ZoChannel* channel) override {
        served.push_back(channel);
        if (!consume) return;
        char* data;
        unsigned int length = 1;
        channel->Receive(&data, &length);
    }
    std::vector<ZoChannel*> served;
    bool consume = true;
};

void Poke(ZoChannel& channel, unsigned int bytes = 1) {
    std::string data(bytes, 'x');
    ASSERT_TRUE(channel.Write(data.data(), bytes, nullptr));
}

TEST(MultiplexerWait, ZeroPollsAndATimeOutWaitsItsTime) {
    Recording mux;
    ZoPipe pipe(0);
    mux.Connect(&pipe);
    mux.SetTimeOut(0);
    EXPECT_EQ(mux.Listen(), 0);
    mux.SetTimeOut(150);
    auto start = SteadyClock::now();
    EXPECT_EQ(mux.Listen(), 0);
    EXPECT_GE(MillisecondsSince(start), 145);
    EXPECT_TRUE(mux.served.empty());
}

TEST(MultiplexerWait, WithoutTimeOutWaitsForData) {
    for (long none : {-1L, -5L}) {  // every negative value means none
        Recording mux;
        ZoPipe pipe(0);
        mux.Connect(&pipe);
        mux.SetTimeOut(none);
        std::thread writer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            Poke(pipe);
        });
        EXPECT_EQ(mux.Listen(), 1);
        writer.join();
        ASSERT_EQ(mux.served.size(), 1u);
    }
}

std::atomic<int> interruptions{0};
void Interrupted(int) {
    interruptions++;
}

TEST(MultiplexerWait, SignalRestartsTheWaitWithTheWholeTimeOut) {
    const int kSignal = SIGRTMIN + 2;
    struct sigaction action = {}, old = {};
    action.sa_handler = Interrupted;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(kSignal, &action, &old), 0);
    interruptions = 0;

    Recording mux;
    ZoPipe pipe(0);
    mux.Connect(&pipe);
    mux.SetTimeOut(300);
    std::atomic<pid_t> tid{0};
    int result = -2;
    SteadyClock::time_point ended;
    std::thread listener([&] {
        tid = gettid();
        result = mux.Listen();
        ended = SteadyClock::now();
    });
    bool waiting = zotest::WaitUntil([&] { return tid != 0; }) && zotest::WaitBlocked(tid);
    auto signalled = SteadyClock::now();
    pthread_kill(listener.native_handle(), kSignal);
    listener.join();
    sigaction(kSignal, &old, nullptr);
    ASSERT_TRUE(waiting);
    long afterSignal =
        std::chrono::duration_cast<std::chrono::milliseconds>(ended - signalled).count();
    EXPECT_EQ(interruptions, 1);
    EXPECT_EQ(result, 0);
    EXPECT_GE(afterSignal, 295);  // the whole time-out again, after the signal
}

TEST(MultiplexerOrder, ConnectionOrderUntilSorted) {
    Recording mux;
    ZoPipe low(0), high(0), middle(0);
    low.SetPriority(1);
    high.SetPriority(7);
    middle.SetPriority(3);
    for (ZoPipe* pipe : {&low, &high, &middle}) {
        ASSERT_TRUE(mux.Connect(pipe));
        Poke(*pipe, 2);
    }
    EXPECT_EQ(mux.Listen(), 3);
    EXPECT_EQ(mux.served, (std::vector<ZoChannel*>{&low, &high, &middle}));
    mux.served.clear();
    mux.SortInputs();
    EXPECT_EQ(mux.Listen(), 3);
    EXPECT_EQ(mux.served, (std::vector<ZoChannel*>{&high, &middle, &low}));
}

TEST(MultiplexerDispatch, UnreadChannelIsReadyAgainAtOnce) {
    Recording mux;
    mux.consume = false;
    ZoPipe pipe(0);
    mux.Connect(&pipe);
    Poke(pipe);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(mux.Listen(), 1);
    EXPECT_EQ(mux.served.size(), 3u);
}

TEST(MultiplexerDispatch, ChannelConnectedTwiceIsServedOncePerWait) {
    Recording mux;
    ZoPipe pipe(0);
    mux.Connect(&pipe);
    mux.Connect(&pipe);
    Poke(pipe);  // a second read would block
    EXPECT_EQ(mux.Listen(), 1);
    EXPECT_EQ(mux.served.size(), 1u);
}

TEST(MultiplexerDispatch, ChannelsWithoutDescriptorAreSkipped) {
    Recording mux;
    zotest::FakeChannel none(-1);
    ZoPipe pipe(0);
    mux.Connect(&none);
    mux.SetTimeOut(0);
    EXPECT_EQ(mux.Listen(), 0);
    mux.Connect(&pipe);
    Poke(pipe);
    EXPECT_EQ(mux.Listen(), 1);
    EXPECT_EQ(mux.served, std::vector<ZoChannel*>{&pipe});
}

TEST(MultiplexerDispatch, DescriptorsBeyondSelectsLimitAreServed) {
    ZoPipe pipe(0);
    const int high = 1100;  // select() takes descriptors below 1024 only
    if (dup2(pipe.Device(WAY_READ), high) != high) GTEST_SKIP() << "descriptor limit too low";
    zotest::FakeChannel far(high);
    Recording mux;
    mux.Connect(&far);
    Poke(pipe);
    EXPECT_EQ(mux.Listen(), 1);
    EXPECT_EQ(mux.served, std::vector<ZoChannel*>{&far});
    close(high);
}

TEST(MultiplexerDispatch, ClosedDescriptorMakesTheWaitFail) {
    Recording mux;
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    zotest::FakeChannel stale(ends[0]);
    mux.Connect(&stale);
    close(ends[0]);
    close(ends[1]);
    mux.SetTimeOut(0);
    int result = mux.Listen();
    int error = errno;
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error, EBADF);
    EXPECT_TRUE(mux.served.empty());
}

TEST(MultiplexerChannels, ConnectLendsTheBufferDisconnectLeavesIt) {
    Recording mux;
    ZoPipe pipe(0), stranger(0);
    EXPECT_FALSE(mux.Connect(nullptr));
    ZoBag bag(9, 0);
    EXPECT_FALSE(pipe.Send(&bag, nullptr));
    ASSERT_TRUE(mux.Connect(&pipe));
    EXPECT_TRUE(pipe.Send(&bag, nullptr));  // through the shared buffer
    EXPECT_FALSE(mux.Disconnect(&stranger));
    EXPECT_TRUE(mux.Disconnect(&pipe));
    EXPECT_FALSE(mux.Disconnect(&pipe));
    ZoBag* got = nullptr;
    ASSERT_TRUE(pipe.Receive(&got));  // the buffer is still lent
    EXPECT_EQ(got->what, 9u);
    delete got;
}

TEST(MultiplexerChannels, DeafReachesConnectedChannelsOnly) {
    Recording mux;
    ZoPipe early(0), late(0);
    mux.Connect(&early);
    mux.Deaf(true);
    EXPECT_TRUE(mux.IsDeaf());
    EXPECT_TRUE(early.IsDeaf());
    early.Deaf(false);
    mux.Deaf(true);  // no change of the multiplexer's flag: channels untouched
    EXPECT_FALSE(early.IsDeaf());
    mux.Connect(&late);
    EXPECT_FALSE(late.IsDeaf());
    Poke(late);
    mux.SetTimeOut(0);
    EXPECT_EQ(mux.Listen(), 1);  // deaf channels are still served
}

}  // namespace

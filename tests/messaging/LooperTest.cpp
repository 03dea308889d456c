// Channels, pipes, the message box, the multiplexer and the looper.
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Pipe.h>

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/Bytes.h"
#include "support/Wait.h"

namespace {

using zotest::WaitUntil;
using Whats = std::vector<uint32_t>;
using std::chrono::milliseconds;

// Bytes waiting unread in a descriptor.
int Unread(int fd) {
    int bytes = 0;
    return ioctl(fd, FIONREAD, &bytes) == 0 ? bytes : -1;
}

void Put(ZoChannel& channel, const std::string& bytes) {
    ASSERT_TRUE(channel.Write(bytes.data(), static_cast<unsigned int>(bytes.size()), nullptr));
}

// A channel reading a descriptor of the test's choosing; it closes nothing.
class FakeChannel : public ZoChannel {
  public:
    explicit FakeChannel(int fd) : ZoChannel(0, CHANNEL_READ, 0) { readFd = fd; }
};

// A pipe whose write end the test can close early.
class TestPipe : public ZoPipe {
  public:
    TestPipe() : ZoPipe(0) {}
    void CloseWriteEnd() {
        close(writeFd);
        writeFd = -1;
    }
};

// What Recorder::Finish() posts to wake and end the loop; not recorded.
constexpr uint32_t kFinish = 0xFFFFFFFFu;

// A looper recording, on its loop thread, every hook call. The records may be
// read once `messages` shows them (it is written last) or the loop ended.
class Recorder : public ZoLooper {
  public:
    Recorder() : ZoLooper("recorder", 4096) {}
    ~Recorder() override { Halt(); }

    using ZoMultiplexer::channels;

    bool Init() override { return initResult; }
    bool TimeOut() override { return ++timeOuts != timeOutsUntilStop; }
    void MessageReceived(ZoBag* message) override {
        if (message->what == kFinish) return;
        whats.push_back(message->what);
        if (onMessage) onMessage(message);
        ++messages;
    }
    void DataReceived(char* data, unsigned int length) override { raw.emplace_back(data, length); }
    // 't' a posted bag taken to be handled, 'd' to be dropped, 'h' handled;
    // with skipThird, the bag 3 is kept from its handler.
    bool PostedTaken(ZoBag* bag, bool handle) override {
        hooks += handle ? 't' : 'd';
        return !(handle && skipThird && bag->what == 3);
    }
    void PostedHandled() override { hooks += 'h'; }

    // Waits for the loop to end by itself, then joins it.
    bool Ended() {
        return WaitUntil([this] { return !IsRunning(); }) && WaitEnd() == 0;
    }
    // Waits for `n` messages, then ends the loop as an application would: a
    // stop request and one more message.
    bool Finish(int n) {
        if (!WaitUntil([&] { return messages == n; })) return false;
        Stop();
        PostMessage(kFinish);
        return Ended();
    }

    bool initResult = true;
    int timeOutsUntilStop = -1;
    bool skipThird = false;
    std::function<void(ZoBag*)> onMessage;
    Whats whats;
    std::vector<std::string> raw;
    std::string hooks;
    std::atomic<int> timeOuts{0}, messages{0};
};

// ---- Channels, pipes and the message box ----

// The buffer bounds every message (LeakSanitizer and AddressSanitizer judge
// that an owned one is freed and an external one is not). A bag goes out
// compressed in one write; one read is one message, whatever it holds: a bag
// (one behind it in the same read is lost), raw bytes (handed on by the
// bag-or-raw receive, dropped by the bag-only one), or a damaged bag (null).
// Bytes are counted both ways; a read at the end of the pipe fails.
TEST(PipeBags, BufferBoundsSentCompressedEachReadIsOneMessage) {
    TestPipe pipe;
    ZoBag bag(0x1234, 0), sentinel(0, 0), *got = nullptr;
    bag.Setstring("text", "hello hello hello hello", 0);
    std::string zipped = zotest::Compressed(bag), plain = zotest::Plain(bag);
    char mine[4096], *data = nullptr;
    unsigned int length = 100000;
    EXPECT_FALSE(pipe.Send(&bag, nullptr) || pipe.Receive(&got));  // no buffer: reads 0 bytes
    pipe.SetBuffer(static_cast<unsigned int>(bag.FlatSize(true) - 1));
    EXPECT_FALSE(pipe.Send(&bag, nullptr));  // larger than the buffer
    pipe.SetBuffer(64);
    pipe.SetBuffer(sizeof(mine), mine);
    ASSERT_TRUE(pipe.Send(&bag, nullptr) && pipe.Receive(&data, &length));
    EXPECT_EQ(std::string(data, length), zipped);

    enum Kind { kBag, kRaw, kDamaged };
    const struct {
        std::string bytes;
        Kind kind;
    } cases[] = {{zipped + zipped, kBag},
                 {"hello", kRaw},
                 {zipped.substr(0, zipped.size() / 2), kDamaged},
                 {plain.substr(0, plain.size() - 1), kDamaged}};
    for (const auto& c : cases) {
        for (bool bagOnly : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.kind << " " << bagOnly);
            Put(pipe, c.bytes);
            got = &sentinel;
            data = nullptr;
            bool ok = bagOnly ? pipe.Receive(&got) : pipe.Receive(&got, &data, &length);
            EXPECT_EQ(ok, c.kind == kBag || (c.kind == kRaw && !bagOnly));
            EXPECT_EQ(Unread(pipe.Device(WAY_READ)), 0);
            EXPECT_EQ(got == &sentinel, c.kind == kRaw);
            EXPECT_EQ(got == nullptr, c.kind == kDamaged);
            EXPECT_EQ(data ? std::string(data, length) : "", ok && c.kind == kRaw ? "hello" : "");
            if (c.kind != kBag || got == nullptr || got == &sentinel) continue;
            EXPECT_EQ(zotest::Plain(*got), plain);
            delete got;
        }
    }
    Put(pipe, std::string(5000, 'x'));
    length = 100000;
    ASSERT_TRUE(pipe.Receive(&data, &length));
    EXPECT_EQ(length, sizeof(mine));  // never past the buffer
    pipe.CloseWriteEnd();
    ASSERT_TRUE(pipe.Receive(&data, &length));
    EXPECT_EQ(length, 5000 - sizeof(mine));
    EXPECT_FALSE(pipe.Receive(&data, &length));
    unsigned int received = 0, sent = 0;
    pipe.Traffic(&received, &sent);
    EXPECT_EQ(received, sent);
    EXPECT_GT(sent, 5000u);
}

// Only the address travels: the very bags come out, in order.
TEST(MsgBox, PointersArriveUnchangedInOrder) {
    ZoMsgBox box(0);  // no buffer: pointers do not go through one
    ZoBag a(1, 0), b(2, 0), *got = nullptr;
    char marker = 0, *data = &marker;
    unsigned int length = 0;
    EXPECT_FALSE(box.Send(nullptr, nullptr));
    ASSERT_TRUE(box.Send(&a, nullptr) && box.Send(&b, nullptr) && box.Receive(&got));
    EXPECT_EQ(got, &a);
    ASSERT_TRUE(box.Receive(&got, &data, &length));
    EXPECT_EQ(got, &b);
    EXPECT_EQ(data, &marker);
    EXPECT_EQ(length, sizeof(void*));
}

// ---- The multiplexer ----

using Served = std::vector<ZoChannel*>;

// Records the order in which channels are dispatched; reads one byte of each.
class Recording : public ZoMultiplexer {
  public:
    Recording() : ZoMultiplexer(256) {}
    void DataReceived(ZoChannel* channel) override {
        served.push_back(channel);
        char* data;
        unsigned int length = 1;
        channel->Receive(&data, &length);
    }
    Served served;
};

// Zero polls, a negative time-out waits for data. Channels are served in
// connection order until sorted by priority, each descriptor once per wait
// even when connected twice, deaf or not; the traffic is the bytes they read.
// A descriptor beyond select()'s 1024 is served like any other; a closed one
// makes the wait fail.
TEST(MultiplexerDispatch, TimeOutsOrderAndWhichChannelsAreServed) {
    Recording mux, far;
    ZoPipe low(0), high(0), middle(0);
    low.SetPriority(1);
    high.SetPriority(7);
    middle.SetPriority(3);
    ASSERT_TRUE(mux.Connect(&low));
    mux.SetTimeOut(0);
    EXPECT_EQ(mux.Listen(), 0);
    mux.SetTimeOut(-5);
    std::thread writer([&] {
        std::this_thread::sleep_for(milliseconds(50));
        Put(low, "xxx");
    });
    EXPECT_EQ(mux.Listen(), 1);
    writer.join();
    for (ZoPipe* pipe : {&high, &middle, &low})
        ASSERT_TRUE(mux.Connect(pipe));
    Put(high, "xxx");
    Put(middle, "xxx");
    mux.Deaf(true);  // advisory only: stops nothing
    EXPECT_TRUE(mux.IsDeaf() && low.IsDeaf() && high.IsDeaf() && middle.IsDeaf());
    EXPECT_EQ(mux.Listen(), 3);
    mux.SortInputs();
    EXPECT_EQ(mux.Listen(), 3);
    EXPECT_EQ(mux.served, (Served{&low, &low, &high, &middle, &high, &middle, &low}));
    EXPECT_EQ(mux.Traffic(), 2 * 3u + 2 + 2);  // bytes read (low is listed twice), not written
    FakeChannel beyond(dup2(high.Device(WAY_READ), 1100));
    if (beyond.Device(WAY_READ) != 1100) GTEST_SKIP() << "descriptor limit too low";
    far.Connect(&beyond);
    EXPECT_EQ(far.Listen(), 1);
    EXPECT_EQ(far.served, Served{&beyond});
    close(1100);
    far.SetTimeOut(0);
    EXPECT_EQ(far.Listen(), -1);
    EXPECT_EQ(errno, EBADF);
}

// ---- The looper ----

// Posted before and while the loop runs, copied or handed over, or posted by
// the handler to its own looper: every bag arrives in posting order, and none
// leaks or is freed twice (the sanitizers judge: a copy not made would free
// the caller's bag, one made of a handed-over bag would leak it).
TEST(LooperPosting, BagsArriveInOrderCopiedOrHandedOver) {
    Recorder looper;
    ZoBag mine(2, 0);
    looper.onMessage = [&](ZoBag* message) {
        if (message->what == 4) looper.PostMessage(5);
    };
    looper.PostMessage(1);
    looper.PostMessage(&mine, true);
    ASSERT_TRUE(looper.Run());
    looper.PostMessage(new ZoBag(3, 0), false);
    looper.PostMessage(4);
    ASSERT_TRUE(looper.Finish(5));
    EXPECT_EQ(looper.whats, (Whats{1, 2, 3, 4, 5}));
}

TEST(LooperPosting, AFullBoxNeverDeadlocks) {
    // A pipe's 64 KiB of pointers fill the box. A poster waits for room
    // without the lock, so a handler may Flush() meanwhile; the loop thread
    // posting to its own full box is refused (the bag deleted).
    constexpr int kBox = static_cast<int>(65536 / sizeof(void*)), kPosts = kBox + 808;
    Recorder looper;
    std::atomic<int> posted{0};
    looper.onMessage = [&](ZoBag* message) {
        if (message->what == 1) {
            WaitUntil([&] { return posted >= kBox - 1; });
            std::this_thread::sleep_for(milliseconds(20));
            looper.Flush();
            delete message;  // Flush() took it out of current: it is ours
        } else if (message->what == 3) {
            for (int i = 0; i < kPosts; i++)
                looper.PostMessage(4);
        }
    };
    looper.PostMessage(1);
    ASSERT_TRUE(looper.Run());
    std::thread poster([&] {
        for (int i = 0; i < kPosts; i++, posted++)
            looper.PostMessage(2);
        looper.PostMessage(3);
    });
    poster.join();
    ASSERT_TRUE(looper.Finish(1 + kPosts + 1 + kBox));
}

// Init() refusing ends the loop with the posts still queued; Flush() then
// handles them, the destructor deletes them unhandled.
TEST(LooperLifecycle, InitFalseFlushHandlesEmptyDiscards) {
    Recorder looper;
    ZoBag copied(4, 0);
    looper.initResult = false;
    looper.PostMessage(1);
    looper.PostMessage(new ZoBag(2, 0), false);
    ASSERT_TRUE(looper.Run() && looper.Ended());
    looper.Flush();
    EXPECT_EQ(looper.whats, (Whats{1, 2}));
    looper.PostMessage(&copied, true);
}

// TimeOut() is called at every idle wait until it refuses.
TEST(LooperLifecycle, TimeOutUntilItRefuses) {
    Recorder looper;
    looper.SetTimeOut(40);
    looper.timeOutsUntilStop = 3;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(looper.Run() && looper.Ended());
    EXPECT_GE(zotest::MillisecondsSince(start), 115);
    EXPECT_EQ(looper.timeOuts, 3);
}

// Halt() (as the destructor) lets a running handler finish and handles
// nothing after it; a handler that does not return within the grace period
// is aborted, so ending never waits for it.
TEST(LooperLifecycle, HaltLetsTheHandlerFinishAbortsOneThatHangs) {
    for (bool hangs : {false, true}) {
        SCOPED_TRACE(hangs);
        Recorder looper;
        std::atomic<bool> started{false}, finished{false};
        looper.onMessage = [&](ZoBag*) {
            started = true;
            auto until = std::chrono::steady_clock::now() + milliseconds(hangs ? 5000 : 50);
            while (std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(milliseconds(1));
            finished = true;
        };
        ASSERT_TRUE(looper.Run());
        looper.PostMessage(1);
        looper.PostMessage(2);
        ASSERT_TRUE(WaitUntil([&] { return started.load(); }));
        auto start = std::chrono::steady_clock::now();
        looper.Halt();
        EXPECT_FALSE(looper.IsRunning());
        EXPECT_EQ(finished, !hangs);
        EXPECT_LT(zotest::MillisecondsSince(start), 3000);
        EXPECT_EQ(looper.whats, Whats{1});
    }
}

// Bags go to MessageReceived, raw bytes to DataReceived, damaged bags
// nowhere; channels are sorted by priority when the loop starts; one whose
// writer closed leaves the set instead of keeping the loop spinning.
TEST(LooperChannels, DataBagsDamagePriorityAndTheEnd) {
    Recorder looper;
    TestPipe pipe;
    ZoBag bag(7, 0);
    std::string zipped = zotest::Compressed(bag);
    looper.SetPriority(4);
    pipe.SetPriority(5);
    ASSERT_TRUE(looper.Connect(&pipe) && pipe.Send(&bag, nullptr));  // the buffer is free yet
    looper.PostMessage(10);
    ASSERT_TRUE(looper.Run());
    for (const std::string& bytes : {std::string("hello"), zipped.substr(0, zipped.size() - 3)}) {
        // One message per read: the next one goes in once this one is out.
        ASSERT_TRUE(WaitUntil([&] { return Unread(pipe.Device(WAY_READ)) == 0; }));
        Put(pipe, bytes);
    }
    ASSERT_TRUE(WaitUntil([&] { return Unread(pipe.Device(WAY_READ)) == 0; }));
    pipe.CloseWriteEnd();
    ASSERT_TRUE(looper.Finish(2));
    EXPECT_EQ(looper.raw, std::vector<std::string>{"hello"});
    EXPECT_EQ(looper.whats, (Whats{7, 10}));
    EXPECT_EQ(looper.channels->Size(), 1);  // the box alone
}

// Bags posted in one write are read in one burst; a handler stops, flushes,
// empties or detaches in the middle of it, or the hook keeps one from its
// handler.
TEST(LooperBurst, HandlersActingInTheMiddleOfABurst) {
    enum Action { kNone, kStop, kFlush, kEmpty, kDetach, kSkip };
    const struct {
        Action action;
        Whats whats;
        std::string hooks;
    } cases[] = {
        {kNone, {1, 2, 3, 4, 5, 99}, "thththththth"},
        // The rest of the burst is deleted with the looper (LeakSanitizer).
        {kStop, {1, 2, 3}, "ththth"},
        {kFlush, {1, 2, 3, 4, 5, 99, 100}, "ththtththththh"},
        {kEmpty, {1, 2, 3, 99}, "ththtdddhth"},
        {kDetach, {1, 2, 3, 4, 5, 99}, "thththththth"},
        {kSkip, {1, 2, 4, 5, 99}, "ththtththth"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        Recorder looper;
        looper.skipThird = c.action == kSkip;
        std::unique_ptr<ZoBag> kept;
        looper.onMessage = [&](ZoBag* message) {
            bool third = message->what == 3;
            if (message->what == 99 || (third && c.action == kStop)) looper.Stop();
            if (third && c.action == kDetach) {
                kept.reset(message);
                looper.DetachCurrentMessage();
            }
            if (!third || (c.action != kFlush && c.action != kEmpty)) return;
            if (c.action == kFlush) looper.PostMessage(100);  // after the burst, still in the box
            c.action == kFlush ? looper.Flush() : looper.Empty();
            if (c.action == kEmpty) looper.PostMessage(99);
            delete message;  // Flush() and Empty() took it out of current: it is ours
        };
        ZoBag* bags[] = {new ZoBag(1), new ZoBag(2), nullptr,      new ZoBag(3),
                         new ZoBag(4), new ZoBag(5), new ZoBag(99)};
        looper.PostMessages(bags, 7);  // one write; the null is skipped
        ASSERT_TRUE(looper.Run() && looper.Ended());
        EXPECT_EQ(looper.whats, c.whats);
        EXPECT_EQ(looper.hooks, c.hooks);
        EXPECT_EQ(kept != nullptr, c.action == kDetach);
    }
}

}  // namespace

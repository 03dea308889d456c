// Channels, pipes, the message box, the multiplexer and the looper.
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/MsgBox.h>
#include <zolib/messaging/Pipe.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/Bytes.h"
#include "support/Wait.h"

namespace {

std::atomic<bool> noPipes{false};

// While one exists, the library's pipe() calls fail with EMFILE. Only the
// library's: the sanitizers check memory through pipes of their own, and
// using up every descriptor instead would starve them.
struct NoPipes {
    NoPipes() { noPipes = true; }
    ~NoPipes() { noPipes = false; }
};

}  // namespace

// Takes the place of the C library's pipe() for the whole test program,
// including the calls the library makes.
extern "C" int pipe(int fds[2]) noexcept {
    Dl_info info;
    if (noPipes && dladdr(__builtin_return_address(0), &info) != 0 && info.dli_fname != nullptr &&
        strstr(info.dli_fname, "libzolib") != nullptr) {
        errno = EMFILE;
        return -1;
    }
    return pipe2(fds, 0);
}

namespace {

using zotest::WaitUntil;
using Whats = std::vector<uint32_t>;

// Bytes waiting unread in a descriptor; -1 when it cannot be asked.
int Unread(int fd) {
    int bytes = 0;
    return ioctl(fd, FIONREAD, &bytes) == 0 ? bytes : -1;
}

// A bag with message code `what` carrying the number `n`.
ZoBag* Numbered(uint32_t what, int n) {
    ZoBag* bag = new ZoBag(what, 0);
    bag->Setint32("n", n, 0);
    return bag;
}

int NumberOf(ZoBag* bag) {
    int n = -1;
    bag->Getint32("n", &n, 1);
    return n;
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

// A looper that records, on its loop thread, every hook call. The records
// may be read once the counters show them (the counters are written after
// the records) or once the loop has ended.
class Recorder : public ZoLooper {
  public:
    Recorder() : ZoLooper("recorder", 4096) {}
    ~Recorder() override { Halt(); }

    using ZoLooper::msgBox;
    using ZoMultiplexer::channels;

    bool Init() override { return initResult; }
    bool TimeOut() override { return ++timeOuts != timeOutsUntilStop; }
    void MessageReceived(ZoBag* message) override {
        if (message->what == kFinish) return;
        whats.push_back(message->what);
        onLoop = onLoop && pthread_equal(pthread_self(), ID());
        if (onMessage) onMessage(message);
        ++messages;
    }
    void DataReceived(char* data, unsigned int length) override { raw.emplace_back(data, length); }

    // Waits for the loop to end by itself, then joins it.
    bool Ended() {
        return WaitUntil([this] { return !IsRunning(); }) && WaitEnd() == 0;
    }
    // Waits for `n` messages, then ends the loop as an application would:
    // a stop request and one more message.
    bool Finish(int n = -1) {
        if (n >= 0 && !WaitUntil([&] { return messages == n; })) return false;
        Stop();
        PostMessage(kFinish);
        return Ended();
    }

    bool initResult = true;
    int timeOutsUntilStop = -1;
    bool onLoop = true;                     // every message was handled on the loop thread
    std::function<void(ZoBag*)> onMessage;  // runs inside MessageReceived
    std::vector<uint32_t> whats;
    std::vector<std::string> raw;
    std::atomic<int> timeOuts{0};
    std::atomic<int> messages{0};
};

// ---- Channels, pipes and the message box ----

bool WriteAll(ZoChannel& channel, const std::string& bytes) {
    return channel.Write(bytes.data(), static_cast<unsigned int>(bytes.size()), nullptr);
}

// LeakSanitizer and AddressSanitizer judge the buffers: a leaked owned one or
// a freed stack one fails the test.
TEST(ChannelBuffer, OwnedFreedExternalKeptNoneRefuses) {
    char mine[256];
    ZoPipe pipe(0);
    ZoBag bag(1, 0), *got = nullptr;
    EXPECT_FALSE(pipe.Send(&bag, nullptr));  // no buffer yet
    ASSERT_TRUE(WriteAll(pipe, "abc"));
    EXPECT_FALSE(pipe.Receive(&got));  // reads 0 bytes, does not wait
    EXPECT_EQ(Unread(pipe.Device(WAY_READ)), 3);
    pipe.SetBuffer(4096, nullptr);  // an external buffer that is none has no size
    EXPECT_FALSE(pipe.Send(&bag, nullptr));
    pipe.SetBuffer(4);
    char* data = nullptr;
    unsigned int length = 100;
    ASSERT_TRUE(pipe.Receive(&data, &length));  // never past the buffer
    EXPECT_EQ(std::string(data, length), "abc");
    pipe.SetBuffer(64);
    pipe.SetBuffer(sizeof(mine), mine);
    ASSERT_TRUE(pipe.Send(&bag, nullptr));
    ASSERT_TRUE(pipe.Receive(&got));
    delete got;
    pipe.SetBuffer(sizeof(mine), mine);
}

TEST(PipeBytes, CountedBothWaysAndEndOfFileFails) {
    TestPipe pipe;
    ASSERT_TRUE(WriteAll(pipe, "0123456789"));
    pipe.CloseWriteEnd();
    char data[100];
    unsigned int length = sizeof(data), received = 0, sent = 0;
    ASSERT_TRUE(pipe.Read(data, &length));
    EXPECT_EQ(std::string(data, length), "0123456789");
    EXPECT_FALSE(pipe.Read(data, &length));
    pipe.Traffic(&received, &sent);
    EXPECT_EQ(received, 10u);
    EXPECT_EQ(sent, 10u);
    std::unique_ptr<ZoPipe> broken;
    {
        NoPipes failing;
        broken.reset(new ZoPipe(0));
    }
    EXPECT_FALSE(broken->InitCheck() || broken->Write("x", 1, nullptr));
    EXPECT_EQ(broken->Device(WAY_READ), -1);
    EXPECT_FALSE(broken->Read(data, &length));
}

TEST(PipeBags, SentCompressedReceivedWholeOneAtATime) {
    ZoPipe pipe(0);
    ZoBag bag(0x1234, 0), sentinel(0, 0);
    bag.Setstring("text", "hello hello hello hello", 0);
    bag.Setint32("n", 7, 0);
    std::string zipped = zotest::Compressed(bag), plain = zotest::Plain(bag);
    pipe.SetBuffer(static_cast<unsigned int>(bag.FlatSize(true) - 1));
    EXPECT_FALSE(pipe.Send(&bag, nullptr));  // larger than the buffer
    pipe.SetBuffer(static_cast<unsigned int>(bag.FlatSize(true)));
    ASSERT_TRUE(pipe.Send(&bag, nullptr));
    std::string wire(zipped.size(), '\0');
    unsigned int length = static_cast<unsigned int>(wire.size() + 1);
    ASSERT_TRUE(pipe.Read(&wire[0], &length));
    EXPECT_EQ(wire, zipped);
    pipe.SetBuffer(4096);
    ASSERT_TRUE(pipe.Send(&bag, nullptr));
    ASSERT_TRUE(pipe.Send(&sentinel, nullptr));  // both read at once: the first only
    ZoBag* got = &sentinel;
    char* data = reinterpret_cast<char*>(&bag);
    ASSERT_TRUE(pipe.Receive(&got, &data, &length));
    ASSERT_NE(got, &sentinel);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(zotest::Plain(*got), plain);
    delete got;
    ASSERT_TRUE(WriteAll(pipe, "hello"));
    got = &sentinel;
    ASSERT_TRUE(pipe.Receive(&got, &data, &length));  // raw bytes leave the bag alone
    EXPECT_EQ(got, &sentinel);
    EXPECT_EQ(std::string(data, length), "hello");
    ASSERT_TRUE(WriteAll(pipe, "hello"));
    EXPECT_FALSE(pipe.Receive(&got));  // the bag-only form drops them
    EXPECT_EQ(got, &sentinel);
    EXPECT_EQ(Unread(pipe.Device(WAY_READ)), 0);
}

// Damaged flat bags: each must fail with a null bag and be consumed whole.
TEST(PipeBags, DamagedFlatBagsFailAndAreConsumed) {
    ZoPipe pipe(0);
    pipe.SetBuffer(4096);
    ZoBag bag(0x1234, 0), sentinel(0, 0);
    bag.Setstring("text", "hello", 0);
    std::string zipped = zotest::Compressed(bag), plain = zotest::Plain(bag);
    std::string bigger = plain, many = plain, shortZip = zipped;
    bigger[16] = static_cast<char>(bigger[16] + 1);  // size field says one more byte
    memset(&many[20], 0x7f, 4);                      // item count far beyond the bytes
    memcpy(&shortZip[4], "\1\0\0\0", 4);             // the zip block claims 1 byte
    for (const std::string& bytes :
         {zipped.substr(0, zipped.size() / 2), plain.substr(0, plain.size() - 1), bigger, many,
          shortZip, std::string("BaG\0", 4), std::string("BaG\1\xff\xff\xff\xff", 8)}) {
        for (int form = 0; form < 2; form++) {
            ASSERT_TRUE(WriteAll(pipe, bytes));
            ZoBag* got = &sentinel;
            char* data = nullptr;
            unsigned int length = 0;
            EXPECT_FALSE(form == 0 ? pipe.Receive(&got) : pipe.Receive(&got, &data, &length));
            EXPECT_EQ(got, nullptr);
            EXPECT_EQ(Unread(pipe.Device(WAY_READ)), 0);
        }
    }
}

TEST(MsgBox, PointersArriveUnchangedInOrder) {
    ZoMsgBox box(0);  // no buffer: pointers do not go through one
    ZoBag a(1, 0), b(2, 0), sentinel(0, 0), *got = nullptr;
    char marker = 0;
    EXPECT_FALSE(box.Send(nullptr, nullptr));
    ASSERT_TRUE(box.Send(&a, nullptr) && box.Send(&b, nullptr));
    ASSERT_TRUE(box.Receive(&got));
    EXPECT_EQ(got, &a);
    char* data = &marker;
    unsigned int length = 0, received = 0, sent = 0;
    ASSERT_TRUE(box.Receive(&got, &data, &length));
    EXPECT_EQ(got, &b);
    EXPECT_EQ(data, &marker);
    EXPECT_EQ(length, sizeof(void*));
    box.Traffic(&received, &sent);
    EXPECT_EQ(received, 2 * sizeof(void*));
    EXPECT_EQ(sent, 2 * sizeof(void*));
    ASSERT_TRUE(box.Write("abc", 3, nullptr));  // less than a pointer: no bag
    got = &sentinel;
    EXPECT_FALSE(box.Receive(&got));
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(Unread(box.Device(WAY_READ)), 0);
}

// ---- The multiplexer ----

using Served = std::vector<ZoChannel*>;

// Records the order in which channels are dispatched, reading one byte from
// each unless told not to.
class Recording : public ZoMultiplexer {
  public:
    Recording() : ZoMultiplexer(256) {}
    void DataReceived(ZoChannel* channel) override {
        served.push_back(channel);
        char* data;
        unsigned int length = 1;
        if (consume) channel->Receive(&data, &length);
    }
    Served served;
    bool consume = true;
};

void Poke(ZoChannel& channel, unsigned int bytes = 1) {
    ASSERT_TRUE(channel.Write(std::string(bytes, 'x').data(), bytes, nullptr));
}

std::atomic<int> interruptions{0};
void Interrupted(int) {
    interruptions++;
}

// Zero polls; a time-out waits its whole time, again after a signal; a
// negative one waits for data.
TEST(MultiplexerWait, TimeOutsZeroPositiveAndNone) {
    Recording mux;
    ZoPipe pipe(0);
    mux.Connect(&pipe);
    mux.SetTimeOut(0);
    EXPECT_EQ(mux.Listen(), 0);
    const int kSignal = SIGRTMIN + 2;
    struct sigaction action = {}, old = {};
    action.sa_handler = Interrupted;
    ASSERT_EQ(sigaction(kSignal, &action, &old), 0);
    mux.SetTimeOut(300);
    std::atomic<pid_t> tid{0};
    int result = -2;
    std::chrono::steady_clock::time_point signalled, ended;
    std::thread listener([&] {
        tid = gettid();
        result = mux.Listen();
        ended = std::chrono::steady_clock::now();
    });
    bool waiting = WaitUntil([&] { return tid != 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // into its wait
    signalled = std::chrono::steady_clock::now();
    pthread_kill(listener.native_handle(), kSignal);
    listener.join();
    sigaction(kSignal, &old, nullptr);
    ASSERT_TRUE(waiting);
    EXPECT_EQ(interruptions, 1);
    EXPECT_EQ(result, 0);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(ended - signalled).count(),
              295);
    for (long none : {-1L, -5L}) {
        mux.SetTimeOut(none);
        std::thread writer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            Poke(pipe);
        });
        EXPECT_EQ(mux.Listen(), 1);
        writer.join();
    }
    EXPECT_EQ(mux.served, (Served{&pipe, &pipe}));
}

TEST(MultiplexerDispatch, ConnectionOrderUntilSortedByPriority) {
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
    mux.SortInputs();
    EXPECT_EQ(mux.Listen(), 3);
    EXPECT_EQ(mux.served, (Served{&low, &high, &middle, &high, &middle, &low}));
}

// A channel left unread is ready again at once; one connected twice is
// served once per wait; one without a descriptor is skipped; descriptors
// beyond select()'s 1024 are served; a closed one makes the wait fail.
TEST(MultiplexerDispatch, WhichChannelsAreServed) {
    Recording mux;
    mux.consume = false;
    ZoPipe pipe(0);
    FakeChannel none(-1);
    mux.Connect(&none);
    mux.Connect(&pipe);
    mux.Connect(&pipe);
    Poke(pipe);
    EXPECT_EQ(mux.Listen(), 1);
    EXPECT_EQ(mux.Listen(), 1);
    EXPECT_EQ(mux.served, (Served{&pipe, &pipe}));

    Recording far;
    const int high = 1100;
    if (dup2(pipe.Device(WAY_READ), high) != high) GTEST_SKIP() << "descriptor limit too low";
    FakeChannel beyond(high);
    far.Connect(&beyond);
    EXPECT_EQ(far.Listen(), 1);
    EXPECT_EQ(far.served, Served{&beyond});
    close(high);
    far.SetTimeOut(0);
    EXPECT_EQ(far.Listen(), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST(MultiplexerChannels, ConnectLendsTheBufferDeafReachesConnectedOnes) {
    Recording mux;
    mux.consume = false;
    ZoPipe pipe(0), stranger(0), late(0);
    EXPECT_FALSE(mux.Connect(nullptr));
    ZoBag bag(9, 0), *got = nullptr;
    EXPECT_FALSE(pipe.Send(&bag, nullptr));
    ASSERT_TRUE(mux.Connect(&pipe));
    EXPECT_TRUE(pipe.Send(&bag, nullptr));  // through the shared buffer
    EXPECT_FALSE(mux.Disconnect(&stranger));
    mux.Deaf(true);
    EXPECT_TRUE(mux.IsDeaf() && pipe.IsDeaf());
    pipe.Deaf(false);
    mux.Deaf(true);  // no change of the multiplexer's flag: channels untouched
    EXPECT_FALSE(pipe.IsDeaf());
    mux.Connect(&late);
    EXPECT_FALSE(late.IsDeaf());
    Poke(late);
    mux.SetTimeOut(0);
    EXPECT_EQ(mux.Listen(), 2);  // deaf channels are still served
    EXPECT_TRUE(mux.Disconnect(&pipe));
    EXPECT_FALSE(mux.Disconnect(&pipe));
    ASSERT_TRUE(pipe.Receive(&got));  // the buffer is still lent
    EXPECT_EQ(got->what, 9u);
    delete got;
}

// ---- The looper ----

// Posted before and while the loop runs, copied or handed over, detached by
// the handler or posted by it to its own looper: every bag arrives in
// posting order on the loop thread, and none leaks (LeakSanitizer judges).
TEST(LooperPosting, BagsArriveInOrderCopiedHandedOverOrDetached) {
    Recorder looper;
    ZoBag mine(2, 0);
    mine.Setint32("n", 11, 0);
    ZoBag* given = Numbered(3, 12);
    ZoBag* kept = nullptr;
    bool copied = false, handedOver = false, detached = false;
    looper.onMessage = [&](ZoBag* message) {
        if (message->what == 2) copied = message != &mine;
        if (message->what == 3) {
            handedOver = message == given && looper.CurrentMessage() == message;
            kept = looper.CurrentMessage();
            looper.DetachCurrentMessage();
            detached = looper.CurrentMessage() == nullptr;
        }
        if (message->what >= 4 && message->what < 100) looper.PostMessage(message->what + 1);
    };
    looper.PostMessage(1);
    looper.PostMessage(&mine, true);
    ASSERT_TRUE(looper.Run());
    looper.PostMessage(given, false);
    looper.PostMessage(4);
    ASSERT_TRUE(looper.Finish(100));
    Whats expected;
    for (uint32_t what = 1; what <= 100; what++)
        expected.push_back(what);
    EXPECT_EQ(looper.whats, expected);
    EXPECT_TRUE(looper.onLoop && copied && handedOver && detached);
    EXPECT_EQ(NumberOf(&mine), 11);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(NumberOf(kept), 12);  // alive: AddressSanitizer would see a freed bag
    delete kept;
}

TEST(LooperPosting, AFullBoxNeverDeadlocks) {
    // A pipe's 64 KiB of pointers fill the box (8192 on a 64-bit host). A
    // poster waits for room without the lock, so a handler may Flush()
    // meanwhile; the loop thread posting to its own full box is refused (the
    // bag deleted) instead of waiting for ever.
    constexpr int kBox = static_cast<int>(65536 / sizeof(void*)), kPosts = kBox + 808;
    Recorder looper;
    std::atomic<int> posted{0};
    looper.onMessage = [&](ZoBag* message) {
        if (message->what == 1) {
            WaitUntil([&] { return posted >= kBox - 1; });
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
// handles them on the caller's thread, Empty() discards them.
TEST(LooperLifecycle, InitFalseFlushHandlesEmptyDiscards) {
    Recorder looper;
    looper.initResult = false;
    looper.PostMessage(1);
    looper.PostMessage(Numbered(2, 0), false);
    ASSERT_TRUE(looper.Run());
    ASSERT_TRUE(looper.Ended());
    EXPECT_EQ(Unread(looper.msgBox->Device(WAY_READ)), static_cast<int>(2 * sizeof(void*)));
    looper.Flush();
    EXPECT_EQ(looper.whats, (Whats{1, 2}));
    EXPECT_FALSE(looper.onLoop);
    ZoBag copied(4, 0);
    looper.PostMessage(3);
    looper.PostMessage(&copied, true);
    looper.Empty();
    EXPECT_EQ(Unread(looper.msgBox->Device(WAY_READ)), 0);
    EXPECT_EQ(looper.messages, 2);
    for (int i = 0; i < 1000; i++) {  // the destructor deletes whatever is queued
        looper.PostMessage(Numbered(5, i), false);
        looper.PostMessage(&copied, true);
    }
}

TEST(LooperLifecycle, TimeOutUntilItRefusesStopAfterOneMoreMessage) {
    Recorder idle;
    idle.SetTimeOut(40);
    idle.timeOutsUntilStop = 3;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(idle.Run());
    ASSERT_TRUE(idle.Ended());
    EXPECT_EQ(idle.timeOuts, 3);
    EXPECT_GE(zotest::MillisecondsSince(start), 115);

    Recorder looper;
    looper.PostMessage(1);
    ASSERT_TRUE(looper.Run());
    ASSERT_TRUE(WaitUntil([&] { return looper.messages == 1; }));  // the loop is running
    looper.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(looper.IsRunning());
    looper.PostMessage(9);
    ASSERT_TRUE(looper.Ended());
    EXPECT_EQ(looper.whats, (Whats{1, 9}));  // still handled
}

TEST(LooperLifecycle, WithoutMessageBoxPostsAreDeletedChannelsStillWork) {
    std::unique_ptr<Recorder> looper;
    {
        NoPipes failing;
        looper.reset(new Recorder);
    }
    ASSERT_FALSE(looper->msgBox->InitCheck());
    ZoBag mine(1, 0);
    looper->PostMessage(&mine, true);
    looper->PostMessage(Numbered(3, 3), false);  // deleted, not leaked
    looper->Flush();
    ZoPipe pipe(0);
    ASSERT_TRUE(looper->Connect(&pipe));
    ASSERT_TRUE(pipe.Send(&mine, nullptr));
    looper->SetTimeOut(20);
    looper->timeOutsUntilStop = 2;
    ASSERT_TRUE(looper->Run());
    ASSERT_TRUE(looper->Ended());  // the broken box was never waited on
    EXPECT_EQ(looper->whats, (Whats{1}));
}

// Raw bytes go to DataReceived, bags to MessageReceived, damaged bags
// nowhere; a channel whose writer closed leaves the set instead of keeping
// the loop spinning.
TEST(LooperChannels, DataBagsDamageAndTheEnd) {
    Recorder looper;
    TestPipe pipe;
    ASSERT_TRUE(looper.Connect(&pipe));
    std::unique_ptr<ZoBag> bag(Numbered(7, 70));
    std::string zipped = zotest::Compressed(*bag), lying = zotest::Plain(*bag);
    lying[16] = static_cast<char>(lying[16] - 1);
    ASSERT_TRUE(pipe.Send(bag.get(), nullptr));  // the loop does not run yet: the buffer is free
    ASSERT_TRUE(looper.Run());
    for (const std::string& bytes :
         {std::string("hello"), zipped.substr(0, zipped.size() - 3), lying}) {
        // One message per read: the next one goes in once this one is out.
        ASSERT_TRUE(WaitUntil([&] { return Unread(pipe.Device(WAY_READ)) == 0; }));
        ASSERT_TRUE(WriteAll(pipe, bytes));
    }
    ASSERT_TRUE(WaitUntil([&] { return Unread(pipe.Device(WAY_READ)) == 0; }));
    pipe.CloseWriteEnd();
    looper.PostMessage(8);
    ASSERT_TRUE(looper.Finish(2));
    EXPECT_EQ(looper.raw, std::vector<std::string>{"hello"});
    EXPECT_EQ(looper.whats, (Whats{7, 8}));
    EXPECT_EQ(looper.channels->Size(), 1);  // the box alone
    EXPECT_FALSE(looper.Disconnect(&pipe));
}

TEST(LooperChannels, HighestPriorityFirstAndTrafficCounted) {
    for (unsigned char box : {10, 0}) {
        Recorder looper;
        looper.SetPriority(box);
        ZoPipe pipe(0);
        pipe.SetPriority(5);
        ASSERT_TRUE(looper.Connect(&pipe));
        ZoBag piped(50, 0);
        ASSERT_TRUE(pipe.Send(&piped, nullptr));  // the loop does not run yet: the buffer is free
        unsigned long size = zotest::Compressed(piped).size();
        looper.PostMessage(10);
        looper.SetTimeOut(50);
        looper.timeOutsUntilStop = 1;  // ends at the first idle wait
        ASSERT_TRUE(looper.Run());
        ASSERT_TRUE(looper.Ended());
        EXPECT_EQ(looper.whats, box ? (Whats{10, 50}) : (Whats{50, 10}));
        EXPECT_EQ(looper.Traffic(), sizeof(void*) + size);
    }
}

}  // namespace

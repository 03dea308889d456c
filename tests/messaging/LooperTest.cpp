#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Pipe.h>
#include <zolib/threads/Snooze.h>
#include <zolib/threads/Thread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "messaging/ChildProcess.h"
#include "messaging/LooperHelpers.h"
#include "messaging/PipeSeam.h"

namespace {

using zotest::FlatBytes;
using zotest::Numbered;
using zotest::Outlet;
using zotest::Recorder;
using zotest::Unread;
using zotest::WaitUntil;
using Whats = std::vector<uint32_t>;

// ---- Posting: the road of a posted bag ----

TEST(LooperPosting, BagsFromOneThreadArriveInPostingOrder) {
    Recorder looper;
    looper.PostMessage(1);  // before the loop runs
    looper.PostMessage(2);
    ASSERT_TRUE(looper.Run());
    looper.PostMessage(3);
    looper.PostMessage(Numbered(4, 0), false);
    ASSERT_TRUE(WaitUntil([&] { return looper.Messages() == 4; }));
    ASSERT_TRUE(looper.Finish());
    EXPECT_EQ(looper.whats, (Whats{1, 2, 3, 4}));
    for (pthread_t thread : looper.threads)
        EXPECT_TRUE(pthread_equal(thread, looper.ID()));
}

TEST(LooperPosting, CopyLeavesTheCallersBagHandOverPassesTheBagItself) {
    Recorder looper;
    std::vector<uintptr_t> seen;
    looper.onMessage = [&](ZoBag* message) {
        seen.push_back(reinterpret_cast<uintptr_t>(message));
    };
    ZoBag mine(5, 0);
    mine.Setint32("n", 11, 0);
    ZoBag* given = Numbered(6, 12);
    looper.PostMessage(&mine, true);
    looper.PostMessage(given, false);
    ASSERT_TRUE(looper.Run());
    ASSERT_TRUE(WaitUntil([&] { return looper.Messages() == 2; }));
    ASSERT_TRUE(looper.Finish());
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0], reinterpret_cast<uintptr_t>(&mine));
    EXPECT_EQ(seen[1], reinterpret_cast<uintptr_t>(given));  // the value only: it is deleted
    EXPECT_EQ(looper.numbers, (std::vector<int>{11, 12}));
    EXPECT_EQ(mine.what, 5u);
    EXPECT_EQ(zotest::NumberOf(&mine), 11);
    // The looper deleted its copy and the handed-over bag: LeakSanitizer
    // would report either one otherwise.
}

TEST(LooperPosting, DetachedBagOutlivesItsHandler) {
    Recorder looper;
    ZoBag* kept = nullptr;
    bool currentWasArgument = false, currentAfterDetach = true;
    looper.onMessage = [&](ZoBag* message) {
        if (message->what != 1) return;
        currentWasArgument = looper.CurrentMessage() == message;
        kept = looper.CurrentMessage();
        looper.DetachCurrentMessage();
        currentAfterDetach = looper.CurrentMessage() != nullptr;
    };
    looper.PostMessage(Numbered(1, 10), false);
    looper.PostMessage(2);
    ASSERT_TRUE(looper.Run());
    ASSERT_TRUE(WaitUntil([&] { return looper.Messages() == 2; }));
    ASSERT_TRUE(looper.Finish());
    EXPECT_TRUE(currentWasArgument);
    EXPECT_FALSE(currentAfterDetach);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(zotest::NumberOf(kept), 10);  // alive: AddressSanitizer would see a freed bag
    delete kept;
}

TEST(LooperPosting, HandlersMayPostToTheirOwnLooper) {
    Recorder looper;
    looper.onMessage = [&](ZoBag* message) {
        if (message->what < 100) looper.PostMessage(message->what + 1);
    };
    looper.PostMessage(1);
    ASSERT_TRUE(looper.Run());
    ASSERT_TRUE(WaitUntil([&] { return looper.Messages() == 100; }));
    ASSERT_TRUE(looper.Finish());
    Whats expected;
    for (uint32_t what = 1; what <= 100; what++)
        expected.push_back(what);
    EXPECT_EQ(looper.whats, expected);
}

TEST(LooperPosting, AFullBoxNeverDeadlocks) {
    // 8192 pointers fill the box. A poster waits for room without the lock,
    // so a handler may Flush() meanwhile; the loop thread posting to its own
    // full box is refused (the bag deleted) instead of waiting for ever.
    constexpr int kPosts = 9000, kBox = 8192;
    Recorder looper;
    std::atomic<int> posted{0};
    looper.onMessage = [&](ZoBag* message) {
        if (message->what == 1) {
            // Let the poster fill the box and wait, then drain it here.
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
    ASSERT_TRUE(WaitUntil([&] { return looper.Messages() == 1 + kPosts + 1 + kBox; }));
    ASSERT_TRUE(looper.Finish());
    EXPECT_EQ(looper.Messages(), 1 + kPosts + 1 + kBox);
}

// ---- Lifecycle: Init, TimeOut, Stop, Flush, Empty, destruction ----

TEST(LooperLifecycle, InitFalseEndsTheLoopAndLeavesPostsQueued) {
    Recorder looper;
    looper.initResult = false;
    looper.PostMessage(1);
    looper.PostMessage(2);
    ASSERT_TRUE(looper.Run());
    ASSERT_TRUE(looper.Ended());
    EXPECT_EQ(looper.Messages(), 0);
    EXPECT_EQ(Unread(looper.msgBox->Device(WAY_READ)), static_cast<int>(2 * sizeof(void*)));
    looper.Flush();
    EXPECT_EQ(looper.whats, (Whats{1, 2}));
    for (pthread_t thread : looper.threads)
        EXPECT_TRUE(pthread_equal(thread, pthread_self()));
}

TEST(LooperLifecycle, FlushHandlesAndEmptyDiscardsBeforeRun) {
    Recorder looper;
    looper.PostMessage(1);
    looper.PostMessage(Numbered(2, 0), false);
    looper.Flush();
    EXPECT_EQ(looper.whats, (Whats{1, 2}));
    looper.PostMessage(3);
    ZoBag copied(4, 0);
    looper.PostMessage(&copied, true);
    looper.Empty();  // deleted unhandled (LeakSanitizer checks)
    EXPECT_EQ(Unread(looper.msgBox->Device(WAY_READ)), 0);
    looper.PostMessage(5);
    ASSERT_TRUE(looper.Run());
    ASSERT_TRUE(WaitUntil([&] { return looper.Messages() == 3; }));
    ASSERT_TRUE(looper.Finish());
    EXPECT_EQ(looper.whats, (Whats{1, 2, 5}));
}

TEST(LooperLifecycle, IdleWaitsCallTimeOutUntilItRefuses) {
    Recorder looper;
    looper.SetTimeOut(40);
    looper.timeOutsUntilStop = 3;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(looper.Run());
    ASSERT_TRUE(looper.Ended());
    EXPECT_EQ(looper.timeOuts, 3);
    EXPECT_GE(zotest::MillisecondsSince(start), 115);
}

TEST(LooperLifecycle, StopTakesEffectAfterOneMoreMessage) {
    Recorder looper;
    ASSERT_TRUE(looper.RunAndWait());
    looper.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(looper.IsRunning());
    looper.PostMessage(9);
    ASSERT_TRUE(looper.Ended());
    EXPECT_EQ(looper.whats, (Whats{9}));  // still handled
}

TEST(LooperLifecycle, DestroyingDeletesEveryQueuedBag) {
    // LeakSanitizer judges: every bag below is the looper's to delete.
    ZoBag mine(1, 0);
    mine.Setstring("s", "copied", 0);
    auto idle = std::make_unique<Recorder>();
    auto ended = std::make_unique<Recorder>();
    ended->initResult = false;
    ASSERT_TRUE(ended->Run());
    ASSERT_TRUE(ended->Ended());
    for (Recorder* looper : {idle.get(), ended.get()}) {
        for (int i = 0; i < 1000; i++) {
            looper->PostMessage(Numbered(2, i), false);
            looper->PostMessage(&mine, true);
        }
    }
    idle.reset();
    ended.reset();
    EXPECT_EQ(zotest::NumberOf(&mine), -1);  // the caller's bag is untouched
    EXPECT_EQ(mine.CountItems(), 1);
}

// ---- A message box whose pipe could not be made ----

TEST(LooperWithoutMessageBox, PostsAreDeletedAndChannelsStillWork) {
    std::unique_ptr<Recorder> looper;
    {
        seam::NoPipes failing;
        looper.reset(new Recorder);
    }
    ASSERT_FALSE(looper->msgBox->InitCheck());
    ZoBag mine(1, 0);
    looper->PostMessage(&mine, true);
    looper->PostMessage(2);
    looper->PostMessage(Numbered(3, 3), false);  // deleted, not leaked
    looper->Flush();
    looper->Empty();
    EXPECT_EQ(looper->Messages(), 0);

    ZoPipe pipe(0);
    ASSERT_TRUE(looper->Connect(&pipe));
    ZoBag piped(7, 0);
    ASSERT_TRUE(pipe.Send(&piped, nullptr));
    looper->SetTimeOut(20);
    looper->timeOutsUntilStop = 2;
    ASSERT_TRUE(looper->Run());
    ASSERT_TRUE(looper->Ended());  // the broken box was never waited on
    EXPECT_EQ(looper->whats, (Whats{7}));
    EXPECT_EQ(looper->timeOuts, 2);
}

// ---- Connected channels ----

TEST(LooperChannels, RawBytesGoToDataReceivedBagsToMessageReceived) {
    Recorder looper;
    ZoPipe pipe(0);
    ASSERT_TRUE(looper.Connect(&pipe));
    Outlet outlet(&pipe);
    ASSERT_TRUE(looper.Run());
    ASSERT_TRUE(outlet.Write("hello", 5, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return looper.Data() == 1; }));
    std::unique_ptr<ZoBag> bag(Numbered(7, 70));
    ASSERT_TRUE(outlet.Send(bag.get(), nullptr));
    ASSERT_TRUE(WaitUntil([&] { return looper.Messages() == 1; }));
    ASSERT_TRUE(looper.Finish());
    EXPECT_EQ(looper.raw, std::vector<std::string>{"hello"});
    EXPECT_EQ(looper.whats, Whats{7});
    EXPECT_EQ(looper.numbers, std::vector<int>{70});
}

TEST(LooperChannels, AChannelAtItsEndLeavesTheSet) {
    // Its writer closed, a pipe is ready at every wait: left connected, it
    // would keep the loop spinning. Bags written before the close still come.
    Recorder looper;
    zotest::ClosablePipe pipe;
    ASSERT_TRUE(looper.Connect(&pipe));
    ASSERT_TRUE(looper.RunAndWait());
    {
        Outlet outlet(&pipe);
        std::unique_ptr<ZoBag> bag(Numbered(7, 70));
        ASSERT_TRUE(outlet.Send(bag.get(), nullptr));
    }
    ASSERT_TRUE(WaitUntil([&] { return looper.Messages() == 1; }));
    pipe.CloseWriteEnd();
    looper.PostMessage(8);
    ASSERT_TRUE(WaitUntil([&] { return looper.Messages() == 2; }));
    // Idle: the loop thread uses (almost) no processor time meanwhile.
    auto cpuTicks = [&] {
        std::string path = "/proc/self/task/" + std::to_string(looper.loopTid) + "/stat";
        std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "r"), fclose);
        long user = 0, system = 0;
        if (file &&
            fscanf(file.get(), "%*d (%*[^)]) %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld",
                   &user, &system) != 2)
            user = system = 0;
        return user + system;
    };
    long before = cpuTicks();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(cpuTicks() - before, 10);  // a spinning loop takes about 30 ticks
    ASSERT_TRUE(looper.Finish());
    EXPECT_EQ(looper.whats, (Whats{7, 8}));
    EXPECT_EQ(looper.channels->Size(), 1);  // the box alone
    EXPECT_FALSE(looper.Disconnect(&pipe));
}

TEST(LooperChannels, DamagedBagsAreDroppedAndTheLoopGoesOn) {
    Recorder looper;
    ZoPipe pipe(0);
    ASSERT_TRUE(looper.Connect(&pipe));
    Outlet outlet(&pipe);
    ASSERT_TRUE(looper.Run());
    ZoBag bag(3, 0);
    bag.Setstring("text", "some text to carry", 0);
    std::string zipped = FlatBytes(&bag, true);
    std::string plain = FlatBytes(&bag, false);
    std::string lying = plain;
    lying[16] = static_cast<char>(lying[16] - 1);
    for (const std::string& bytes :
         {zipped.substr(0, zipped.size() - 3), lying, std::string("BaG\1", 4) + plain.substr(4)}) {
        ASSERT_TRUE(outlet.Write(bytes.data(), static_cast<unsigned int>(bytes.size()), nullptr));
        // One message per read: the next one goes in once this one is out.
        ASSERT_TRUE(WaitUntil([&] { return Unread(pipe.Device(WAY_READ)) == 0; }));
    }
    ASSERT_TRUE(outlet.Send(&bag, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return looper.Messages() == 1; }));
    ASSERT_TRUE(looper.Finish());
    EXPECT_EQ(looper.whats, Whats{3});
    EXPECT_EQ(looper.Data(), 0);
}

void ServedFirst(unsigned char boxPriority, const Whats& expected) {
    Recorder looper;
    looper.SetPriority(boxPriority);
    ZoPipe pipe(0);
    pipe.SetPriority(5);
    ASSERT_TRUE(looper.Connect(&pipe));
    ZoBag piped(50, 0);
    ASSERT_TRUE(pipe.Send(&piped, nullptr));  // the loop does not run yet: the buffer is free
    looper.PostMessage(10);
    ASSERT_TRUE(looper.Run());
    ASSERT_TRUE(WaitUntil([&] { return looper.Messages() == 2; }));
    ASSERT_TRUE(looper.Finish());
    EXPECT_EQ(looper.whats, expected) << "message box priority " << int(boxPriority);
}

TEST(LooperChannels, ReadyChannelsAreServedHighestPriorityFirst) {
    ServedFirst(10, Whats{10, 50});
    ServedFirst(0, Whats{50, 10});
}

TEST(LooperChannels, TrafficCountsPostedPointersAndPipedBytes) {
    Recorder looper;
    ZoPipe pipe(0);
    ASSERT_TRUE(looper.Connect(&pipe));
    for (int i = 0; i < 3; i++)
        looper.PostMessage(i);
    ASSERT_TRUE(pipe.Write("0123456789", 10, nullptr));
    looper.SetTimeOut(50);
    looper.timeOutsUntilStop = 1;  // ends at the first idle wait
    ASSERT_TRUE(looper.Run());
    ASSERT_TRUE(looper.Ended());
    EXPECT_EQ(looper.Messages(), 3);
    EXPECT_EQ(looper.Data(), 1);
    EXPECT_EQ(looper.Traffic(), 3 * sizeof(void*) + 10);
    unsigned int received = 0, sent = 0;
    pipe.Traffic(&received, &sent);
    EXPECT_EQ(received, 10u);
    EXPECT_EQ(sent, 10u);
}

TEST(LooperChannels, PipeBetweenTwoProcesses) {
    Recorder looper;
    ZoPipe pipe(0);
    ASSERT_TRUE(looper.Connect(&pipe));
    child::Note handled;
    // The child sends each message only once the previous one was handled,
    // so that no two of them are read together.
    pid_t pid = child::Spawn([&] {
        for (int i = 1; i <= 3; i++) {
            ZoBag bag(100 + i, 0);
            bag.Setint32("n", i, 0);
            if (!pipe.Send(&bag, nullptr)) return 1;
            if (!handled.Wait()) return 2;
        }
        if (!pipe.Write("raw", 3, nullptr)) return 3;
        return handled.Wait() ? 0 : 4;
    });
    ASSERT_GT(pid, 0);
    looper.onMessage = [&](ZoBag*) { handled.Post(); };
    looper.onData = [&] { handled.Post(); };
    ASSERT_TRUE(looper.Run());
    bool all = WaitUntil([&] { return looper.Messages() == 3 && looper.Data() == 1; });
    EXPECT_EQ(child::Reap(pid), 0);
    ASSERT_TRUE(all);
    ASSERT_TRUE(looper.Finish());
    EXPECT_EQ(looper.whats, (Whats{101, 102, 103}));
    EXPECT_EQ(looper.numbers, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(looper.raw, std::vector<std::string>{"raw"});
}

}  // namespace

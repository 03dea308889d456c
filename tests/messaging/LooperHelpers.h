// Helpers of the channel, multiplexer and looper tests: flat bytes, a second
// writer on a pipe, descriptor exhaustion, and a looper that records what
// reaches its hooks. Every wait is bounded (zotest::WaitUntil).
#pragma once

#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Pipe.h>

#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/Wait.h"

namespace zotest {

// Bytes waiting unread in a descriptor; -1 when it cannot be asked.
inline int Unread(int fd) {
    int bytes = 0;
    return ioctl(fd, FIONREAD, &bytes) == 0 ? bytes : -1;
}

// The bag's flat form: compressed as channels send it, or plain.
inline std::string FlatBytes(ZoBag* bag, bool zip) {
    std::string out(bag->FlatSize(zip), '\0');
    unsigned long size = out.size();
    bag->Flatten(&out[0], &size, zip);
    if (zip) out.resize(size);
    return out;
}

// A bag with message code `what` carrying the number `n`.
inline ZoBag* Numbered(uint32_t what, int n) {
    ZoBag* bag = new ZoBag(what, 0);
    bag->Setint32("n", n, 0);
    return bag;
}

inline int NumberOf(ZoBag* bag) {
    int n = -1;
    bag->Getint32("n", &n, 1);
    return n;
}

// A second writer on `target`'s pipe with a buffer and counters of its own,
// as another thread or process would hold: it sends into a pipe connected
// to a running looper without touching the looper's shared buffer.
class Outlet : public ZoPipe {
  public:
    explicit Outlet(ZoChannel* target, unsigned int size = 4096) : ZoPipe(0) {
        close(readFd);
        close(writeFd);
        readFd = -1;
        writeFd = dup(target->Device(WAY_WRITE));
        type = CHANNEL_WRITE;
        SetBuffer(size);
    }
};

// A channel over descriptors of the test's choosing; it closes nothing.
class FakeChannel : public ZoChannel {
  public:
    explicit FakeChannel(int fd, unsigned char priority = 0)
        : ZoChannel(0, CHANNEL_READ, priority) {
        readFd = fd;
    }
};

// A pipe whose write end the test can close early.
class ClosablePipe : public ZoPipe {
  public:
    ClosablePipe() : ZoPipe(0) {}
    void CloseWriteEnd() {
        close(writeFd);
        writeFd = -1;
    }
};

// True once thread `tid` of this process is blocked waiting for descriptors
// (poll, ppoll, select or pselect6).
inline bool WaitBlocked(pid_t tid) {
    return WaitUntil([tid] {
        std::string path = "/proc/self/task/" + std::to_string(tid) + "/syscall";
        FILE* file = fopen(path.c_str(), "r");
        if (file == nullptr) return false;
        long number = -1;
        bool read = fscanf(file, "%ld", &number) == 1;
        fclose(file);
        return read && (number == 7 || number == 271 || number == 23 || number == 270);
    });
}

// What Recorder::Finish() posts to wake and end the loop; not recorded.
constexpr uint32_t kFinish = 0xFFFFFFFFu;

// A looper that records, on its loop thread, every hook call. The records
// may be read once the counters show them (the counters are written after
// the records) or once the loop has ended.
class Recorder : public ZoLooper {
  public:
    explicit Recorder(int bufferSize = 4096) : ZoLooper("recorder", bufferSize) {}
    ~Recorder() override { Halt(); }

    using ZoLooper::DataReceived;
    using ZoLooper::msgBox;
    using ZoMultiplexer::channels;

    bool Init() override {
        loopTid = gettid();
        return initResult;
    }
    bool TimeOut() override { return ++timeOuts != timeOutsUntilStop; }
    void MessageReceived(ZoBag* message) override {
        if (message->what == kFinish) return;
        whats.push_back(message->what);
        numbers.push_back(NumberOf(message));
        threads.push_back(pthread_self());
        if (onMessage) onMessage(message);
        ++messages;
    }
    void DataReceived(char* data, unsigned int length) override {
        raw.emplace_back(data, length);
        if (onData) onData();
        ++data_;
    }

    // Starts the loop and waits until it is blocked in its first wait.
    bool RunAndWait() {
        return Run() && WaitUntil([this] { return loopTid != 0; }) && WaitBlocked(loopTid);
    }
    // Waits for the loop to end by itself, then joins it.
    bool Ended() {
        return WaitUntil([this] { return !IsRunning(); }) && WaitEnd() == 0;
    }
    // Ends the loop as an application would: a stop request and one more message.
    bool Finish() {
        Stop();
        PostMessage(kFinish);
        return Ended();
    }
    int Messages() const { return messages; }
    int Data() const { return data_; }

    bool initResult = true;
    int timeOutsUntilStop = -1;
    std::function<void(ZoBag*)> onMessage;  // runs inside MessageReceived
    std::function<void()> onData;           // runs inside DataReceived
    std::vector<uint32_t> whats;
    std::vector<int> numbers;
    std::vector<pthread_t> threads;
    std::vector<std::string> raw;
    std::atomic<int> timeOuts{0};
    std::atomic<pid_t> loopTid{0};

  private:
    std::atomic<int> messages{0};
    std::atomic<int> data_{0};
};

}  // namespace zotest

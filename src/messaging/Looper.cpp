#include <zolib/messaging/Looper.h>
#include <zolib/threads/Snooze.h>

#include "internal/Unwind.h"
#include "messaging/internal/NewBag.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

namespace {

// A failed wait that fails again at once (a connected descriptor was closed)
// would otherwise keep the loop thread spinning.
constexpr unsigned long kPauseAfterFailedWaitMs = 10;

constexpr unsigned int kPointer = sizeof(ZoBag*);

// How long Halt() lets a running loop end on its own before aborting it.
constexpr int kHaltGraceMs = 200;

// The box still holds bytes nobody has read: one non-blocking look.
bool Unread(int fd) {
    int bytes = 0;
    return fd >= 0 && ioctl(fd, FIONREAD, &bytes) == 0 && bytes > 0;
}

// The read end has reached its end for good: the writers hung up (a pipe) or
// shut down their side (a socket), and nothing is left to read.
bool AtEnd(int fd) {
    if (fd < 0) return false;
    pollfd entry{fd, POLLIN | POLLRDHUP, 0};
    return poll(&entry, 1, 0) == 1 && (entry.revents & (POLLHUP | POLLRDHUP)) != 0 && !Unread(fd);
}

// Waits until the box has room for a pointer (a cancellation point).
ZOLIB_UNWOUND void WaitForRoom(int fd) {
    pollfd entry{fd, POLLOUT, 0};
    while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
}

}  // namespace

ZoLooper::ZoLooper(const char* name, int bufferSize)
    : ZoThread(name),
      ZoMultiplexer(bufferSize < 0 ? 0u : static_cast<unsigned int>(bufferSize)),
      ZoLocker(),
      current(nullptr),
      msgBox(new (std::nothrow) ZoMsgBox(0)),
      pending{},
      next(0),
      count(0) {
    // A box whose pipe (or whose object) could not be made is never waited on
    // (there is no descriptor to wait for); posting to it fails (see
    // PostMessage).
    if (msgBox != nullptr && msgBox->InitCheck()) Connect(msgBox);
    // Posters wait for room in a full box outside the lock (see PostMessage).
    int writeEnd = msgBox != nullptr ? msgBox->Device(WAY_WRITE) : -1;
    if (writeEnd >= 0) fcntl(writeEnd, F_SETFL, fcntl(writeEnd, F_GETFL) | O_NONBLOCK);
}

ZoLooper::~ZoLooper() {
    ZoNoCancel hold;
    // The loop thread goes first: until it is gone it may walk the channel
    // list, hold a bag in current or read the box.
    Halt();
    Disconnect(msgBox);
    DropCurrent();
    Empty();
    delete msgBox;
}

void ZoLooper::Halt() {
    // An abort lands wherever the loop thread is, often inside the library's
    // own work between two handlers: freeing a bag, say, which would leave
    // the allocator locked for good. So the loop is asked to end after the
    // bag it is handling, and woken with a null pointer (which no handler
    // sees); only a loop that has not ended within the grace period (busy
    // in a handler, suspended, or without a box) is aborted.
    // Called from destructors: the write and the pauses are cancellation
    // points, and a cancellation must not unwind through a destructor.
    ZoNoCancel hold;
    if (IsRunning() && !suspended && !pthread_equal(ID(), pthread_self()) && msgBox != nullptr) {
        Stop();
        ZoBag* wake = nullptr;
        ssize_t n = write(msgBox->Device(WAY_WRITE), &wake, sizeof wake);  // whole or nothing
        (void)n;  // a full box wakes the loop anyway
        for (int waited = 0; waited < kHaltGraceMs && IsRunning(); waited++) {
            timespec pause{0, 1000000};
            nanosleep(&pause, nullptr);
        }
    }
    ZoThread::Halt();
}

ZOLIB_UNWOUND void ZoLooper::Process() {
    bool stop = !Init();
    SortInputs();
    while (!stop && !IsStopped()) {
        int result = Listen();
        if (result == 0)
            stop = !TimeOut();
        else if (result < 0)
            mSnooze(kPauseAfterFailedWaitMs);
    }
}

bool ZoLooper::Init() {
    return true;
}

bool ZoLooper::TimeOut() {
    return true;
}

void ZoLooper::DataReceived(char*, unsigned int) {}

void ZoLooper::MessageReceived(ZoBag*) {}

ZOLIB_UNWOUND void ZoLooper::DataReceived(ZoChannel* channel) {
    if (channel == msgBox) {
        ServeBox();
        return;
    }
    char* data = nullptr;
    unsigned int length = 0;
    if (!channel->Receive(&current, &data, &length)) {
        // Dropped unhandled. A channel whose writers are gone would be ready
        // at every wait and keep the loop spinning: it leaves the set.
        if (AtEnd(channel->Device(WAY_READ))) Disconnect(channel);
        return;
    }
    if (current != nullptr) {
        HandleCurrent();
    } else {
        DataReceived(data, length);
    }
}

ZOLIB_UNWOUND void ZoLooper::ServeBox() {
    if (next == count) {
        // One read for every pointer waiting, up to a burst. Pointers are
        // written whole and a pipe hands them out in order, so a read ends
        // inside one only if it was cut short; the rest of it follows.
        next = count = 0;
        char* bytes = reinterpret_cast<char*>(pending);
        unsigned int length = sizeof(pending);
        if (!msgBox->Read(bytes, &length)) return;
        while (length % kPointer != 0) {
            unsigned int rest = kPointer - length % kPointer;
            if (!msgBox->Read(bytes + length, &rest)) {
                length -= length % kPointer;  // half a pointer is no bag
                break;
            }
            length += rest;
        }
        count = static_cast<int>(length / kPointer);
    }
    while (TakeWaiting()) {
        if (current != nullptr) HandlePosted();  // Send never writes a null
        // Stop() from a handler (or another thread) ends the loop after this
        // bag; the rest stay waiting.
        if (IsStopped()) break;
    }
}

ZOLIB_UNWOUND bool ZoLooper::TakeWaiting() {
    if (next == count) return false;
    ZoBag* bag = pending[next];
    next++;
    // An abort between the two leaves the bag to nobody rather than to both
    // current and the burst: a leak, never a second delete.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    current = bag;
    return true;
}

ZOLIB_UNWOUND void ZoLooper::HandlePosted() {
    if (!PostedTaken(current, true)) {
        DropCurrent();
        return;
    }
    HandleCurrent();
    PostedHandled();
}

bool ZoLooper::PostedTaken(ZoBag*, bool) {
    return true;
}

void ZoLooper::PostedHandled() {}

void ZoLooper::Refuse(ZoBag* bag) {
    if (bag == nullptr) return;
    PostedTaken(bag, false);
    delete bag;
}

ZOLIB_UNWOUND void ZoLooper::HandleCurrent() {
    // A handler may be a cancellation point: the bag it was handling goes
    // with the unwinding thread, as it would after the handler, instead of
    // waiting in current for a receive that would overwrite it.
    ZoOnExit drop([this] { DropCurrent(); });
    MessageReceived(current);
    drop.Returned();
}

ZOLIB_UNWOUND void ZoLooper::PostMessage(ZoBag* bag, bool copy) {
    if (bag == nullptr) return;
    // A copy that cannot be made is not posted; the caller keeps its bag.
    ZoBag* message = copy ? NewBag(bag) : bag;
    if (message != nullptr) Queue(&message, 1);
}

ZOLIB_UNWOUND void ZoLooper::PostMessages(ZoBag* const* bags, int count) {
    if (bags == nullptr) return;
    // Whatever has not reached Queue() yet is the looper's too.
    int i = 0;
    ZoOnExit drop([&] {
        for (; i < count; i++)
            Refuse(bags[i]);
    });
    ZoBag* chunk[kPostChunk];
    int n = 0;
    while (i < count) {
        ZoBag* bag = bags[i++];
        if (bag != nullptr) chunk[n++] = bag;
        if (n == kPostChunk || (i == count && n > 0)) {
            Queue(chunk, n);
            n = 0;
        }
    }
    drop.Returned();
}

ZOLIB_UNWOUND void ZoLooper::Queue(ZoBag** messages, int n) {
    // The looper owns the messages from the call on: those that cannot be
    // queued, or whose poster is cancelled while it waits for room, would
    // otherwise belong to nobody. No box: they are deleted unhandled.
    // A pipe never splits nor mixes writes of up to PIPE_BUF bytes.
    static_assert(kPostChunk * kPointer <= PIPE_BUF, "a chunk is one atomic write");
    ZoOnExit drop([&] {
        for (int i = 0; i < n; i++)
            Refuse(messages[i]);
    });
    while (msgBox != nullptr) {
        bool sent;
        int error;
        {
            ZoNoCancel hold;  // a poster cancelled here would leave the lock held
            Lock();
            do {
                // Pointers are written whole or not at all (one write of at
                // most a pipe's atomic size), so a retry after an
                // interruption cannot queue a bag twice.
                sent = n == 1 ? msgBox->Send(messages[0], nullptr)
                              : msgBox->Write(reinterpret_cast<const char*>(messages),
                                              static_cast<unsigned int>(n) * kPointer, nullptr);
            } while (!sent && errno == EINTR);
            error = errno;
            Unlock();
        }
        if (sent) {
            n = 0;
            break;
        }
        // A full box: wait for room without the lock, so that Flush() or
        // Empty() (from a handler, say) can take it and drain the box. The
        // loop thread itself would wait for ever on its own box: refused.
        if (error != EAGAIN || pthread_equal(pthread_self(), ID())) break;
        WaitForRoom(msgBox->Device(WAY_WRITE));
    }
    drop.Returned();
}

void ZoLooper::PostMessage(unsigned long what) {
    PostMessage(NewBag(what, 0), false);
}

void ZoLooper::SetPriority(unsigned char priority) {
    if (msgBox != nullptr) msgBox->SetPriority(priority);
}

void ZoLooper::Empty() {
    Drain(false);
}

void ZoLooper::Flush() {
    Drain(true);
}

ZOLIB_UNWOUND void ZoLooper::Drain(bool handle) {
    if (msgBox == nullptr) return;
    Lock();
    // The lock must not stay held by a thread cancelled inside a handler.
    ZoOnExit release([this] { Unlock(); });
    // Bags read ahead by the loop come first: they were posted before the
    // ones still in the box.
    for (;;) {
        if (!TakeWaiting()) {
            if (!Unread(msgBox->Device(WAY_READ)) || !msgBox->Receive(&current)) break;
        }
        if (handle && current != nullptr) {
            HandlePosted();
        } else {
            if (current != nullptr) PostedTaken(current, false);
            DropCurrent();
        }
    }
    release.Returned();
}

void ZoLooper::DropCurrent() {
    ZoBag* done = current;
    current = nullptr;
    delete done;
}

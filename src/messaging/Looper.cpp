#include <zolib/messaging/Looper.h>
#include <zolib/threads/Snooze.h>

#include "internal/Unwind.h"
#include "messaging/internal/NewBag.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <new>

namespace {

// A failed wait that fails again at once (a connected descriptor was closed)
// would otherwise keep the loop thread spinning.
constexpr unsigned long kPauseAfterFailedWaitMs = 10;

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
      msgBox(new (std::nothrow) ZoMsgBox(0)) {
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
    char* data = nullptr;
    unsigned int length = 0;
    if (!channel->Receive(&current, &data, &length)) {
        // Dropped unhandled. A channel whose writers are gone would be ready
        // at every wait and keep the loop spinning: it leaves the set.
        if (channel != msgBox && AtEnd(channel->Device(WAY_READ))) Disconnect(channel);
        return;
    }
    if (current != nullptr) {
        HandleCurrent();
    } else {
        DataReceived(data, length);
    }
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
    if (msgBox == nullptr) {  // no box: the bag is deleted unhandled
        if (!copy) delete bag;
        return;
    }
    // A copy that cannot be made is not posted; the caller keeps its bag.
    ZoBag* message = copy ? NewBag(bag) : bag;
    if (message == nullptr) return;
    // The looper owns the message from the call on: one that cannot be
    // queued, or whose poster is cancelled while it waits for room, would
    // otherwise belong to nobody.
    ZoOnExit drop([&message] { delete message; });
    for (;;) {
        bool sent;
        int error;
        {
            ZoNoCancel hold;  // a poster cancelled here would leave the lock held
            Lock();
            do {
                // One pointer is written whole or not at all, so a retry after
                // an interruption cannot queue a bag twice.
                sent = msgBox->Send(message, nullptr);
            } while (!sent && errno == EINTR);
            error = errno;
            Unlock();
        }
        if (sent) {
            message = nullptr;
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
    while (Unread(msgBox->Device(WAY_READ))) {
        if (!msgBox->Receive(&current)) break;
        if (handle && current != nullptr)
            HandleCurrent();
        else
            DropCurrent();
    }
    release.Returned();
}

void ZoLooper::DropCurrent() {
    ZoBag* done = current;
    current = nullptr;
    delete done;
}

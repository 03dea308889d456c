#include <zolib/messaging/Multiplexer.h>

#include "internal/Unwind.h"

#include <poll.h>

#include <cerrno>
#include <climits>
#include <new>

namespace {

// Readiness for reading, as select() reports it: data, end of file, an error.
constexpr short kReadable = POLLIN | POLLHUP | POLLERR;

// The i-th channel; null past the end and when there is no list.
ZoChannel* At(ZoList* channels, long i) {
    return channels != nullptr ? static_cast<ZoChannel*>(channels->GetItem(i)) : nullptr;
}

}  // namespace

int sort_channel(const void* a, const void* b) {
    unsigned char pa = (*static_cast<ZoChannel* const*>(a))->GetPriority();
    unsigned char pb = (*static_cast<ZoChannel* const*>(b))->GetPriority();
    if (pa > pb) return -1;
    if (pa < pb) return 1;
    return 0;
}

ZoMultiplexer::ZoMultiplexer(unsigned int bufferSize)
    : bufferSize(bufferSize),
      channels(new (std::nothrow) ZoList(1, 1)),
      timeOut(-1),
      buffer(new (std::nothrow) char[bufferSize]),
      deaf(false),
      waitSet(nullptr),
      waitSlots(0) {
    if (buffer == nullptr) this->bufferSize = 0;
}

ZoMultiplexer::~ZoMultiplexer() {
    delete channels;
    delete[] buffer;
    delete[] waitSet;
}

void ZoMultiplexer::DataReceived(ZoChannel*) {}

// Without memory for its list a multiplexer has no channels: Connect refuses
// every one and Listen() only sleeps for the time-out.
bool ZoMultiplexer::Connect(ZoChannel* channel) {
    if (channel == nullptr || channels == nullptr || channels->AddItem(channel) == 0) return false;
    channel->SetBuffer(bufferSize, buffer);
    return true;
}

bool ZoMultiplexer::Disconnect(ZoChannel* channel) {
    return channels != nullptr && channels->DelItem(static_cast<void*>(channel)) == 1;
}

void ZoMultiplexer::SortInputs() {
    if (channels != nullptr) channels->Sort(sort_channel);
}

// The wait is a poll() rather than a select(): the same readiness, but no
// limit on descriptor numbers (FD_SET beyond FD_SETSIZE writes outside the
// set), and a thread blocked in it can be aborted under ThreadSanitizer.
ZOLIB_UNWOUND int ZoMultiplexer::Listen() {
    long count = channels != nullptr ? channels->Size() : 0;
    if (count > waitSlots) {
        pollfd* grown = new (std::nothrow) pollfd[count];
        if (grown == nullptr) {
            errno = ENOMEM;
            return -1;
        }
        delete[] waitSet;
        waitSet = grown;
        waitSlots = count;
    }
    // One entry per descriptor, in list order.
    nfds_t used = 0;
    ZoChannel* channel;
    for (long i = 0; (channel = At(channels, i)) != nullptr; i++) {
        int fd = channel->Device(WAY_READ);
        if (fd < 0 || Entry(fd, used) != nullptr) continue;
        waitSet[used].fd = fd;
        waitSet[used].events = POLLIN;
        waitSet[used].revents = 0;
        used++;
    }

    int result;
    do {
        // An interrupted wait starts again with the whole time-out.
        result = poll(waitSet, used, timeOut < 0 ? -1 : timeOut);
    } while (result == -1 && errno == EINTR);
    if (result <= 0) return result;
    for (nfds_t k = 0; k < used; k++) {
        if (waitSet[k].revents & POLLNVAL) {  // what select() refuses with EBADF
            errno = EBADF;
            return -1;
        }
    }

    // The list is walked afresh, so a channel a handler disconnected is
    // never touched; each descriptor is served once per wait, even when
    // connected twice (a second read of one readiness could block).
    for (long i = 0; (channel = At(channels, i)) != nullptr; i++) {
        pollfd* entry = Entry(channel->Device(WAY_READ), used);
        if (entry == nullptr || (entry->revents & kReadable) == 0) continue;
        entry->revents = 0;
        DataReceived(channel);
    }
    return result;
}

pollfd* ZoMultiplexer::Entry(int fd, unsigned long used) {
    if (fd < 0) return nullptr;
    for (unsigned long k = 0; k < used; k++)
        if (waitSet[k].fd == fd) return &waitSet[k];
    return nullptr;
}

void ZoMultiplexer::SetTimeOut(long milliseconds) {
    if (milliseconds < 0)
        timeOut = -1;
    else
        timeOut = milliseconds > INT32_MAX ? INT32_MAX : static_cast<int32_t>(milliseconds);
}

void ZoMultiplexer::Deaf(bool on) {
    if (on == deaf) return;
    deaf = on;
    ZoChannel* channel;
    for (long i = 0; (channel = At(channels, i)) != nullptr; i++)
        channel->Deaf(on);
}

unsigned int ZoMultiplexer::Traffic() {
    uint32_t total = 0;
    ZoChannel* channel;
    for (long i = 0; (channel = At(channels, i)) != nullptr; i++) {
        unsigned int received = 0;
        channel->Traffic(&received, nullptr);
        total += received;
    }
    return total;
}

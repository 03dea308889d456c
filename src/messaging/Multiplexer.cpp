#include <zolib/messaging/Multiplexer.h>

#include <sys/select.h>

#include <cerrno>
#include <climits>
#include <new>

namespace {

// Descriptors select() can take. Others are neither waited for nor served:
// FD_SET on them would write outside the set.
bool Waitable(int fd) {
    return fd >= 0 && fd < FD_SETSIZE;
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
      channels(new ZoList(1, 1)),
      timeOut(-1),
      buffer(new (std::nothrow) char[bufferSize]),
      deaf(false) {
    if (buffer == nullptr) this->bufferSize = 0;
}

ZoMultiplexer::~ZoMultiplexer() {
    delete channels;
    delete[] buffer;
}

void ZoMultiplexer::DataReceived(ZoChannel*) {}

bool ZoMultiplexer::Connect(ZoChannel* channel) {
    if (channel == nullptr || channels->AddItem(channel) == 0) return false;
    channel->SetBuffer(bufferSize, buffer);
    return true;
}

bool ZoMultiplexer::Disconnect(ZoChannel* channel) {
    return channels->DelItem(static_cast<void*>(channel)) == 1;
}

void ZoMultiplexer::SortInputs() {
    channels->Sort(sort_channel);
}

int ZoMultiplexer::Listen() {
    fd_set wanted;
    FD_ZERO(&wanted);
    int max = -1;
    ZoChannel* channel;
    for (long i = 0; (channel = static_cast<ZoChannel*>(channels->GetItem(i))) != nullptr; i++) {
        int fd = channel->Device(WAY_READ);
        if (!Waitable(fd)) continue;
        FD_SET(fd, &wanted);
        if (fd > max) max = fd;
    }

    fd_set ready;
    int result;
    do {
        ready = wanted;  // select() may leave anything in the set it failed on
        if (timeOut < 0) {
            result = select(max + 1, &ready, nullptr, nullptr, nullptr);
        } else {
            // Afresh for every try: select() counts its time value down, and
            // an interrupted wait starts again with the whole time-out.
            timeval wait;
            wait.tv_sec = timeOut / 1000;
            wait.tv_usec = (timeOut % 1000) * 1000;
            result = select(max + 1, &ready, nullptr, nullptr, &wait);
        }
    } while (result == -1 && errno == EINTR);
    if (result <= 0) return result;

    for (long i = 0; (channel = static_cast<ZoChannel*>(channels->GetItem(i))) != nullptr; i++) {
        int fd = channel->Device(WAY_READ);
        if (!Waitable(fd) || !FD_ISSET(fd, &ready)) continue;
        // Served once per wait, even if connected twice: a second read of
        // the same readiness could block.
        FD_CLR(fd, &ready);
        DataReceived(channel);
    }
    return result;
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
    for (long i = 0; (channel = static_cast<ZoChannel*>(channels->GetItem(i))) != nullptr; i++)
        channel->Deaf(on);
}

unsigned int ZoMultiplexer::Traffic() {
    uint32_t total = 0;
    ZoChannel* channel;
    for (long i = 0; (channel = static_cast<ZoChannel*>(channels->GetItem(i))) != nullptr; i++) {
        unsigned int received = 0;
        channel->Traffic(&received, nullptr);
        total += received;
    }
    return total;
}

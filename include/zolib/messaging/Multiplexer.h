// ZoMultiplexer: one thread waits on many channels at once.
//
// The multiplexer keeps a list of connected channels, gives all of them one
// shared buffer (the largest message any of them can carry), and Listen()
// waits until at least one read descriptor is readable or the time-out
// passes, then calls the virtual DataReceived(channel) once for each ready
// channel, in list order. SortInputs() orders the list by descending
// priority. The multiplexer never reads a channel itself: an override of
// DataReceived must, or the channel is reported ready again at once. A
// channel at end of file (no writer left anywhere) is ready at every wait
// and its reads fail: disconnect it.
//
// Ownership: the multiplexer owns the list and the buffer, not the channels.
// Channels keep the buffer pointer when disconnected and must not send or
// receive bags once the multiplexer is gone, unless given a new buffer.
// Blocking: Listen() blocks in poll() for up to the time-out (for ever when
// there is none), restarting with the full time-out after a signal.
// Threads: no lock. Connect, Disconnect, SortInputs, Deaf and Listen on one
// multiplexer must not overlap, and a DataReceived override must not connect,
// disconnect or sort while Listen() runs it.
// Failure: without memory for its channel list a multiplexer refuses every
// Connect and only sleeps in Listen(). Listen() returns -1 and dispatches
// nothing when the wait fails: errno EBADF when a connected channel's
// descriptor is not open, otherwise as poll() left it.
#pragma once

#include <zolib/Export.h>
#include <zolib/containers/List.h>
#include <zolib/messaging/Channel.h>

#include <cstdint>

struct pollfd;

// Sort comparator over two list slots, each holding a ZoChannel*: -1 when the
// first channel has the higher priority, +1 when the second has, else 0.
ZOLIB_API int sort_channel(const void* a, const void* b);

class ZOLIB_API ZoMultiplexer {
  public:
    // A shared buffer of `bufferSize` bytes (none, size 0, when it cannot be
    // allocated); no time-out.
    explicit ZoMultiplexer(unsigned int bufferSize);
    // Frees the list and the buffer; the channels stay alive.
    virtual ~ZoMultiplexer();

    ZoMultiplexer(const ZoMultiplexer&) = delete;
    ZoMultiplexer& operator=(const ZoMultiplexer&) = delete;

    // Called by Listen() for each ready channel; does nothing here.
    virtual void DataReceived(ZoChannel* channel);

    // Appends the channel and gives it the shared buffer. Connect a channel
    // once: its descriptor is served only once per wait anyway. False for
    // null or when the list cannot grow.
    bool Connect(ZoChannel* channel);
    // Removes the channel; false when it was not connected.
    bool Disconnect(ZoChannel* channel);
    // Orders the channels by descending priority (equal ones in no fixed
    // order). Needed again after a Connect for the order to hold.
    void SortInputs();
    // One wait and dispatch. Returns the number of ready descriptors (> 0),
    // 0 on time-out (nothing dispatched) or -1 when the wait failed. Channels
    // whose read descriptor is -1 are not waited for and never dispatched;
    // with no channel to wait for, Listen() only sleeps for the time-out.
    int Listen();
    // The wait's time-out in milliseconds; any negative value means none
    // (wait until a channel is ready). Values beyond 2^31 - 1 are cut to it.
    void SetTimeOut(long milliseconds);
    // Sets the flag and every connected channel's deaf flag, when `on`
    // differs from the multiplexer's flag. Advisory only: Listen() waits for
    // and dispatches deaf channels as any other.
    void Deaf(bool on);
    bool IsDeaf() const { return deaf; }
    // Bytes received over all connected channels, modulo 2^32 (the sent
    // counters are not included).
    unsigned int Traffic();

  protected:
    uint32_t bufferSize;
    ZoList* channels;  // owned; the channels are not
    int32_t timeOut;   // milliseconds, -1: none
    char* buffer;      // owned; lent to every connected channel
    bool deaf;

  private:
    // The wait entry of descriptor `fd` among the first `used`, or null.
    pollfd* Entry(int fd, unsigned long used);

    pollfd* waitSet;  // owned; grows with the channel count, never per wait
    long waitSlots;
};

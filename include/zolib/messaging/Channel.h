// ZoChannel: one endpoint pair over which bags and raw bytes travel.
//
// A channel holds a read and a write descriptor, a priority by which a
// multiplexer orders its channels (higher first), one byte buffer used for
// sending and receiving, and two traffic counters. The bag operations (Send
// and the Receive forms) are built here on the byte operations Read and
// Write, which a concrete channel such as ZoPipe supplies; the base's Read
// and Write refuse.
//
// Framing: one message per write. A bag travels as its compressed flat form
// in one Write; a receive takes one Read of at most the buffer's size as one
// message and tells a bag from raw bytes by its "BaG" magic. There is no
// length prefix and no reassembly: a read holding part of a flat bag fails to
// unflatten and is dropped, and of two messages read together only a leading
// bag can be delivered. Received bytes are untrusted: nothing outside the
// buffer is ever read or written, whatever a flat bag claims.
//
// Ownership: the channel frees its buffer only when it allocated it
// (SetBuffer(size)); a buffer given with SetBuffer(size, buffer), as a
// multiplexer does, stays its giver's. A bag a receive returns belongs to
// the caller. Raw bytes handed out point into the buffer and are valid until
// the next receive on any channel sharing it.
// Blocking: as the concrete channel's Read and Write (a pipe blocks while it
// is empty or full).
// Threads: no lock. The buffer is used by Send and by the receives, so bag
// traffic through channels that share one buffer must come from one thread
// at a time.
// Failure: every operation returns false, writes nothing it was not asked to
// and leaves errno as the system call set it. The mute and deaf flags are
// advisory: nothing here refuses to send or receive because of them.
#pragma once

#include <zolib/Export.h>
#include <zolib/bag/Bag.h>

#include <cstdint>

// Which descriptors a channel needs to be usable (see InitCheck).
enum T_CHANNEL_TYPE : int {
    CHANNEL_READ_WRITE = 0,  // both
    CHANNEL_READ = 1,        // the read descriptor
    CHANNEL_WRITE = 2        // the write descriptor
};

// One of a channel's two descriptors.
enum T_WAY : int { WAY_READ = 0, WAY_WRITE = 1 };

class ZOLIB_API ZoChannel {
  public:
    // Opens nothing: both descriptors -1, no buffer, counters 0, flags off.
    // `tag` is stored for the application and never interpreted.
    ZoChannel(unsigned int tag, T_CHANNEL_TYPE type, unsigned char priority);
    // Frees the buffer if the channel allocated it.
    virtual ~ZoChannel();

    ZoChannel(const ZoChannel&) = delete;
    ZoChannel& operator=(const ZoChannel&) = delete;

    // True when the descriptors the type needs are valid; false for a type
    // outside the three.
    virtual bool InitCheck();
    // Reads at most *length bytes into `data`; *length receives the count.
    // False (and *length meaningless) here.
    virtual bool Read(char* data, unsigned int* length);
    // Writes `length` bytes as one message; `extra` is passed through for
    // the concrete channel and ignored by the library's. False here.
    virtual bool Write(const char* data, unsigned int length, void* extra);
    // Raw receive of up to *length bytes (at most the buffer's size) into the
    // buffer; *data points at them.
    virtual bool Receive(char** data, unsigned int* length);
    // Receives one message that must be a bag: a new bag in *bag, owned by
    // the caller. Bytes that are not a flat bag are dropped (false, *bag
    // untouched); a flat bag that does not unflatten (or finds no memory for
    // the bag) gives false and null.
    virtual bool Receive(ZoBag** bag);
    // Sends the bag's compressed flat form in one Write. False, writing
    // nothing, when its size bound exceeds the buffer. The bag stays the
    // caller's.
    virtual bool Send(ZoBag* bag, void* extra);
    // Receives one message, bag or raw bytes. A bag: a new bag in *bag (the
    // caller's) and *data null. Raw bytes: *data points into the buffer,
    // *length is their count and *bag is untouched. A flat bag that does not
    // unflatten gives false and *bag null.
    virtual bool Receive(ZoBag** bag, char** data, unsigned int* length);

    void SetPriority(unsigned char value) { priority = value; }
    unsigned char GetPriority() const { return priority; }
    // The read or the write descriptor; -1 when there is none.
    int Device(T_WAY way) const;
    void Deaf(bool on) { deaf = on; }
    bool IsDeaf() const { return deaf; }
    void Mute(bool on) { mute = on; }
    bool IsMute() const { return mute; }

    // Replaces the buffer with a new one of `size` bytes that the channel
    // owns (contents undefined). If it cannot be allocated the channel is
    // left without a buffer (size 0).
    void SetBuffer(unsigned int size);
    // Replaces the buffer with the caller's `buffer` of `size` bytes, which
    // the channel never frees.
    void SetBuffer(unsigned int size, char* buffer);
    // Bytes read and written so far, each modulo 2^32. Null is ignored.
    void Traffic(unsigned int* received, unsigned int* sent) const;

  protected:
    uint8_t priority;
    uint32_t tag;
    T_CHANNEL_TYPE type;
    int readFd;   // -1: none
    int writeFd;  // -1: none
    char* buffer;
    bool external;  // the buffer is someone else's
    uint32_t bufferSize;
    bool mute;
    bool deaf;
    uint32_t received;  // bytes read by Read
    uint32_t sent;      // bytes written by Write

  private:
    void DropBuffer();
};

// ZoMsgBox: a pipe that carries bag pointers between threads of one process.
//
// Instead of a bag's flat bytes the box writes the bag's address, one pointer
// (8 bytes here) per write, and the receiver reads it back and takes the bag
// over: nothing is flattened or copied and the channel's buffer is not used.
// Bags arrive in the order they were sent. Only addresses travel, so a box
// works within one address space only, and the pipe must carry nothing but
// what Send writes.
//
// Ownership: a bag belongs to the receiver from the moment Send succeeds;
// after a failed Send it is still the sender's. Bags still in the pipe belong
// to nobody; whoever drains the box deletes them (a looper does).
// Blocking: Send waits while the pipe is full (64 KiB: 8192 pointers on a
// 64-bit host, 16384 on a 32-bit one), the receives while it is empty.
// Threads: one pointer is written atomically, so any number of threads may
// Send; one thread receives.
// Failure: as ZoPipe. A read of less than one pointer gives false and a null
// bag; the bytes read are dropped.
#pragma once

#include <zolib/messaging/Pipe.h>

class ZOLIB_API ZoMsgBox : public ZoPipe {
  public:
    // Exactly a ZoPipe: read-write, priority 0, a new pipe.
    explicit ZoMsgBox(unsigned int tag);
    ~ZoMsgBox() override;

    // Receives one pointer into *bag.
    bool Receive(ZoBag** bag) override;
    // Writes the bag's pointer; `extra` is ignored. A null bag is refused
    // (false): a receiver takes every pointer it reads for a bag.
    bool Send(ZoBag* bag, void* extra) override;
    // Receives one pointer into *bag and sets *length to the pointer's width;
    // *data is not touched. A successful receive always yields a bag.
    bool Receive(ZoBag** bag, char** data, unsigned int* length) override;
    // The raw receive is the channel's; it is not meant for a message box.
    using ZoPipe::Receive;
};

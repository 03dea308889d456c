// ZoPipe: a channel over one anonymous pipe whose two ends it owns.
//
// What one thread writes, another reads; after a fork both processes hold
// both ends, so a pipe made before the fork joins two processes. Each Write
// is one write() and each Read one read(): a short read is a success and is
// not joined with what follows, and a short write is a failure.
//
// Ownership: the pipe owns both descriptors and closes them when destroyed.
// Blocking: both ends are in blocking mode: Read waits for data (or end of
// file, when no writer is left anywhere) and Write waits while the pipe is
// full. A multiplexer reads only what its wait reported ready. As for any
// pipe, writing when no reader is left anywhere raises SIGPIPE.
// Threads: no lock (see ZoChannel). Writes of up to PIPE_BUF bytes (4096)
// from several threads or processes are never interleaved; larger ones may be.
// Failure: when pipe() fails both descriptors stay -1 and InitCheck() is
// false; Read and Write then fail.
#pragma once

#include <zolib/messaging/Channel.h>

class ZOLIB_API ZoPipe : public ZoChannel {
  public:
    // A read-write channel of priority 0 over a new pipe.
    explicit ZoPipe(unsigned int tag);
    // Closes both ends.
    ~ZoPipe() override;

    // One read() of at most *length bytes. False at end of file or on an
    // error, leaving the counter alone; otherwise *length is the count read.
    bool Read(char* data, unsigned int* length) override;
    // One write() of `length` bytes; false unless all of them were written.
    bool Write(const char* data, unsigned int length, void* extra) override;
};

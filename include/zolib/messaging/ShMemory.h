// ZoShMemory: a named block of memory shared by processes on one machine,
// guarded by a mutex that lives inside the block.
//
// The first object to open a name creates the segment; later objects (in any
// process) attach to it. Every attached object is counted inside the segment
// and the last one to detach removes the name. A segment only becomes visible
// under its name once its header is complete, so no process ever attaches to,
// counts itself in or locks a half-made segment.
//
// Segment layout (host byte order): a process-shared mutex (host size), the
// 16-bit count of attached objects, then the user area at the next 8-byte
// boundary. The user area is zero-filled when the segment is created.
//
// Ownership: the object owns its mapping; the name passed to the constructor
// is kept as a pointer (not copied) and must outlive the object. The segment
// itself belongs to all its users and goes away with the last of them.
// Blocking: Lock() waits for the segment's mutex, held by any process; the
// constructor and the destructor take it briefly. If a process dies while
// holding the mutex, the next Lock() in any process recovers it and succeeds.
// A thread that holds the mutex may open, attach to and destroy further
// objects on the same segment: they count themselves in and out under the
// lock it holds (nothing waits for itself), and the lock stays held.
// Threads: the object has no lock of its own; the segment's mutex serialises
// users in all processes and threads. One object must not be destroyed while
// another thread uses it.
// Failure: the constructor reports failure only through InitCheck(); a failed
// object maps nothing, Address() is null, Lock()/Unlock() return false and
// the destructor does nothing.
#pragma once

#include <zolib/Export.h>

#include <pthread.h>
#include <sys/types.h>

#include <cstdint>

class ZOLIB_API ZoShMemory {
  public:
    // Opens the segment `name` (a shm name such as "/Name") with a user area
    // of `size` bytes, creating it when it does not exist. Attaching to a
    // smaller existing segment grows it to `size`; a larger one is never
    // shrunk (that would pull memory from under its other users).
    ZoShMemory(const char* name, unsigned int size);
    // Detaches; the last object attached to the segment removes its name.
    // Processes that still have it mapped keep their mapping.
    virtual ~ZoShMemory();

    ZoShMemory(const ZoShMemory&) = delete;
    ZoShMemory& operator=(const ZoShMemory&) = delete;

    // True when the segment is mapped.
    virtual bool InitCheck();
    // True when this object created the segment (it was not there before).
    bool IsCreator() { return creator; }
    // Start of the user area (`size` bytes); null when InitCheck() is false.
    void* Address();
    // Takes the segment's mutex, waiting for holders in any process. A mutex
    // left locked by a process that died is taken over and made usable: the
    // call then succeeds, and the data it guards is as the dead holder left
    // it. False when the mutex cannot be taken, and at once when the calling
    // thread holds it already (through this or another object on the same
    // segment): the mutex is not recursive, and waiting would never end.
    bool Lock();
    // Releases the mutex; the caller must hold it. True on success.
    bool Unlock();

  private:
    bool Attach(int fd);
    int Create();
    void Retire();

    bool creator;
    const char* name;
    void* base;              // start of the mapping
    unsigned short* users;   // count of attached objects, inside the segment
    uint32_t size;           // user area in bytes
    pthread_mutex_t* mutex;  // inside the segment
    dev_t device;            // identity of the mapped segment, so that the
    ino_t inode;             // last user only ever removes its own name
};

// ZoMember: one application's handle on the machine-wide member registry.
//
// Cooperating applications find each other through a table of process ids
// and short names kept in the shared segment "/ZgB" (a ZoShMemory with a
// 7144-byte user area: a 16-bit count, two unused bytes, then 255 T_App
// entries). A MEMBER_APP member enters its application into the table and
// removes the entry again on destruction; a MEMBER_OBSERVER member only reads
// the table; a MEMBER_NONE member has no registry and every registry call
// returns its empty result.
//
// Ownership: the member owns its segment object. Lists returned by ListApps()
// belong to the caller, but their items point into the shared table (they are
// not copies): they change as applications come and go, and become invalid
// when the member is destroyed.
// Blocking: every registry call takes the segment's mutex, which is shared by
// all processes (Broadcast holds it for its whole walk).
// Threads: the member has no lock of its own beyond the segment's mutex; do
// not destroy it while another thread uses it.
// Failure: InitCheck() is false when the registry cannot be opened (memory
// for its object included) or, for MEMBER_APP, when the table is full. The
// count is kept beside the table and never recomputed: an application that
// ends without destroying its member leaves its entry (and the count) behind
// until the segment disappears.
#pragma once

#include <zolib/Export.h>
#include <zolib/bag/Bag.h>
#include <zolib/containers/List.h>
#include <zolib/messaging/ShMemory.h>

#include <sys/types.h>

#include <cstdint>

enum T_Member_Class : int32_t {
    MEMBER_APP = 0,       // registers itself, unregisters on destruction
    MEMBER_OBSERVER = 1,  // reads the registry, never registers
    MEMBER_NONE = 2       // no registry
};

// One registry entry, 28 bytes. pid 0 marks a free entry; name holds at most
// 23 characters and is always NUL-terminated and zero-padded.
struct T_App {
    int32_t pid;
    char name[24];
};

class ZOLIB_API ZoMember {
  public:
    // Opens the registry (created on first use). A MEMBER_APP member takes the
    // first free entry with this process's id and the first 23 characters of
    // `name` (a null name registers as ""). `name` is not kept.
    ZoMember(const char* name, T_Member_Class memberClass);
    // A registered member frees the first entry holding its process id; the
    // last object attached to the registry removes the segment.
    ~ZoMember();

    ZoMember(const ZoMember&) = delete;
    ZoMember& operator=(const ZoMember&) = delete;

    // True when usable: always for MEMBER_NONE; otherwise the registry is
    // open and, for MEMBER_APP, this application was registered.
    bool InitCheck();

    // A new ZoList of pointers to every occupied entry (T_App*), in table
    // order; null for MEMBER_NONE and when memory for the whole list runs
    // out. The caller deletes the list, not the items.
    ZoList* ListApps();
    // The registry's count of applications; 0 for MEMBER_NONE.
    int CountApps();
    // The pid of the first entry named exactly `name`; 0 when none (or for
    // MEMBER_NONE, or a null name).
    int FindApp(const char* name);

    // Delivery to another application. There is no transport between
    // applications: nothing is sent and the result is false.
    bool SendTo(int pid, const char* data, unsigned int length);
    // Sends the bag's plain flat form through SendTo(pid, data, length): false.
    bool SendTo(int pid, ZoBag* bag);
    // Flattens the bag once and sends it to every other registered
    // application in table order, under the registry lock, stopping at the
    // first failed send. True when every attempted send succeeded (also when
    // no other application is registered); false for MEMBER_NONE, a null bag
    // or, with no transport, as soon as another application is registered.
    bool Broadcast(ZoBag* bag);

  private:
    bool valid;
    pid_t pid;
    ZoShMemory* memory;
    T_Member_Class memberClass;
};

// ZoNatsRegistry: applications on any host find each other by name.
//
// The registry is a JetStream key-value bucket whose entries live for a
// fixed time (the bucket's TTL). An application joins under a name with its
// host and process id: its entry is written at once and written again by a
// thread of the registry every third of the TTL, so it stays while the
// process lives. Leave() (or the destructor) deletes it at once; an
// application that dies without leaving stops refreshing and its entry
// expires between one and two TTLs later (the server removes expired
// entries on its own schedule, within about a second of the TTL). Nothing
// here elects or agrees on anything: the bucket is the server's.
//
// Members are described by bags: "name" (T_STRING), "host" (T_STRING), "pid"
// (T_INT32). List() returns one bag with one element per member in each of
// these items (element i of each belongs to member i, 1-based).
//
// Watch(looper) tells a looper of changes: a bag with `what` ZO_NATS_JOINED
// or ZO_NATS_LEFT and the member's three items is posted for every member
// that joins, leaves or expires, starting with one ZO_NATS_JOINED for each
// member present when the watch starts. Joins and leaves come from the
// bucket's watch as they happen; expiries are found by comparing the
// bucket's keys every half TTL.
//
// Ownership: returned bags belong to the caller. Threads: every member may be
// called from any thread. Blocking: the constructor, Join, Leave, List and
// Find each wait for the server (a few round trips). Failure: false or null,
// LastError() tells why. Destroy the registry before its link and before a
// watched looper.
#pragma once

#include <zolib/Export.h>
#include <zolib/bag/Bag.h>
#include <zolib/messaging/Looper.h>
#include <zolib/nats/NatsLink.h>

// `what` of the bags Watch() posts.
constexpr uint32_t ZO_NATS_JOINED = 0x4e4a4f49;  // "NJOI"
constexpr uint32_t ZO_NATS_LEFT = 0x4e4c4654;    // "NLFT"

class ZOLIB_API ZoNatsRegistry {
  public:
    // Opens the bucket `bucket` (letters, digits, "-" and "_"), making it
    // with entries that live `ttl` milliseconds when it does not exist yet.
    // An existing bucket keeps the TTL it was made with (see TimeToLive()).
    ZoNatsRegistry(ZoNatsLink* link, const char* bucket, long ttl);
    // Leaves (when joined) and stops a watch.
    ~ZoNatsRegistry();
    ZoNatsRegistry(const ZoNatsRegistry&) = delete;
    ZoNatsRegistry& operator=(const ZoNatsRegistry&) = delete;

    bool InitCheck();
    const char* LastError();
    // The bucket's entry lifetime in milliseconds.
    long TimeToLive();

    // Enters this process under `name` (at most 64 characters), with the
    // host name and the process id, and keeps the entry fresh until Leave().
    // A registry joins once: false when already joined.
    bool Join(const char* name);
    // Removes this process's entry at once. False when not joined.
    bool Leave();
    // Every member, or null on failure; see above for the form.
    ZoBag* List();
    // The first member (in key order) named `name`, as a bag with one element
    // in each item, or null when there is none.
    ZoBag* Find(const char* name);
    // Posts membership changes to `looper` until the registry is destroyed.
    // One watch per registry: false when one runs already.
    bool Watch(ZoLooper* looper);

    struct State;  // the implementation's

  private:
    State* state;  // owned
};

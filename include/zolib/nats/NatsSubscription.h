// ZoNatsSubscription: bags arriving on a NATS subject, handed to a looper.
//
// How a message reaches the looper: the client library calls the
// subscription on its own delivery thread (one per subscription), which
// posts one bag per message to the looper. While more messages wait in the
// client, bags gather (up to 64) and are posted together with
// PostMessages(): one write and one wake-up of the loop for the lot. The last
// one waiting goes at once, so no bag is held back for a later message. From
// then on it is exactly a posted bag: it reaches MessageReceived() on the
// looper's own thread, in arrival order, the looper owns it and deletes it
// after the handler unless the handler detaches it. Every bag carries its
// arrival items ("_nats.subject", and "_nats.reply" when the sender waits
// for an answer, see NatsLink.h); the handler answers a request with
// link->Reply(bag, answer). A payload that is not a whole flat bag (plain or
// compressed) is dropped and counted (Malformed()); no handler sees it.
// Where the payload becomes a bag depends on the looper:
// - a ZoNatsLooper decodes it on its own thread: the delivery thread posts
//   an empty bag that holds the message's place, and when the looper takes
//   it, just before the handler, it makes the bag from the message and
//   hands the handler that bag instead (CurrentMessage() is that bag; the
//   placeholder is reused). The delivery thread only relays, and the bag is
//   made and freed on one thread. Delivered() then counts every message
//   posted, Malformed() the ones found bad when the looper took them.
// - any other looper gets the bag made on the delivery thread; bad payloads
//   are counted there and never posted, so Delivered() counts bags.
//
// Slow loopers: while the looper's box is full the delivery thread waits
// (holding at most 64 bags), and messages queue in the client up to the
// pending limits (by default 65536 messages or 64 MiB); beyond them the
// client drops messages and counts them (Dropped()). A ZoNatsLooper's bags
// waiting in its box hold their messages instead of bags, and the messages
// of bags handled are released at the next post (or with the looper), by the
// delivery thread. Memory therefore stays bounded.
//
// Durable subscriptions (JetStream) need a ZoNatsLooper: a bag is
// acknowledged only after its own handler returned on the looper's thread,
// bag by bag within a burst too, whether or not the handler detached it, so
// a bag that was never handled (the process died, the looper was destroyed
// with bags queued, Empty() threw them away) is delivered again, a payload
// that can never become a bag is not. The stream keeps what was published
// while the subscriber was away. Delivery is then at least once: a handler may see
// a bag twice after a crash.
//
// Lifetime: destroy the subscription before its looper and its link. The
// destructor waits until no delivery is in progress, so it must not run on
// the looper's thread while the looper's box is full.
// Threads: the counters and SetPendingLimits may be called from any thread.
#pragma once

#include <zolib/Export.h>
#include <zolib/messaging/Looper.h>
#include <zolib/nats/NatsLink.h>

#include <cstdint>

// A looper that decodes the bags of its subscriptions on its own thread and
// acknowledges durable ones once their handler has returned. Use it as
// ZoLooper; nothing else changes.
class ZOLIB_API ZoNatsLooper : public ZoLooper {
  public:
    ZoNatsLooper(const char* name, int bufferSize);
    ~ZoNatsLooper() override;

    struct Acks;  // the bags waiting for their acknowledgement

  protected:
    // A durable bag's message is acknowledged once its handler returned; one
    // deleted unhandled (Empty()) is not, so it comes again.
    // A bag from a subscription is decoded here, when the loop takes it; a
    // payload that is not a whole flat bag is kept from the handlers.
    bool PostedTaken(ZoBag* bag, bool handled) override;
    void PostedHandled() override;

  private:
    friend class ZoNatsSubscription;
    Acks* acks;  // owned
};

class ZOLIB_API ZoNatsSubscription {
  public:
    // Subscribes `looper` to `subject` (wildcards "*" and ">" allowed). With
    // a `queue` name, subscriptions of one queue group share the messages:
    // each goes to one of them.
    ZoNatsSubscription(ZoNatsLink* link, const char* subject, ZoLooper* looper,
                       const char* queue = nullptr);
    // A durable subscription named `durable` on the JetStream stream
    // `stream` (see ZoNatsLink::AddStream), which must store `subject`. The
    // server remembers where it stopped: a new subscription of the same
    // name, in this process or a later one, continues from there. A bag not
    // acknowledged within `ackWait` milliseconds of its delivery is
    // delivered again (the consumer keeps the value it was made with).
    ZoNatsSubscription(ZoNatsLink* link, const char* subject, ZoNatsLooper* looper,
                       const char* stream, const char* durable, long ackWait = 30000);
    // Unsubscribes and waits for a delivery in progress. Bags already posted
    // stay with the looper (and are still decoded by a ZoNatsLooper); durable
    // ones not yet handled are not acknowledged (they come again).
    ~ZoNatsSubscription();
    ZoNatsSubscription(const ZoNatsSubscription&) = delete;
    ZoNatsSubscription& operator=(const ZoNatsSubscription&) = delete;

    // True when the subscription was made.
    bool InitCheck();
    // Why the constructor or the last call failed ("" when it did not); a
    // copy for the calling thread, valid until its next LastError().
    const char* LastError();

    // How many messages and bytes may wait in the client before it drops;
    // -1 for no limit in either. False when refused.
    bool SetPendingLimits(int messages, int bytes);
    // Messages the client dropped because the pending limits were reached.
    int64_t Dropped();
    // Bags posted to the looper so far (for a ZoNatsLooper, messages: bad
    // payloads among them are found by the looper).
    uint64_t Delivered();
    // Payloads dropped because they were not a whole flat bag (for a
    // ZoNatsLooper, counted when the looper takes them).
    uint64_t Malformed();

    struct State;  // the implementation's

  private:
    State* state;  // owned
};

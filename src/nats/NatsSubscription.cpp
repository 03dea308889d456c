#include <zolib/nats/NatsSubscription.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "internal/LinkState.h"
#include "internal/Wire.h"

struct ZoNatsSubscription::State {
    ZoNatsLink* link = nullptr;
    ZoLooper* looper = nullptr;
    // A ZoNatsLooper's: the looper decodes the messages on its own thread.
    ZoNatsLooper::Acks* carrying = nullptr;
    bool durable = false;
    natsSubscription* sub = nullptr;
    std::atomic<uint64_t> delivered{0}, malformed{0};
    // Bags made while more messages waited in the client, not posted yet,
    // with their messages when the looper decodes them; the delivery
    // thread's.
    static constexpr int kBatch = 64;
    ZoBag* batch[kBatch] = {};
    natsMsg* messages[kBatch] = {};
    int batched = 0;
    int following = 0;               // messages known to wait in the client after this one
    std::vector<natsMsg*> released;  // messages the looper is done with
    std::vector<ZoBag*> spares;      // placeholders to post again
    std::mutex lock;                 // guards the fields below
    std::condition_variable ended;
    bool complete = false;  // no callback will run any more
    std::string error;

    // Hands the batch to the looper in one post.
    void Post();
    // An empty bag to hold a message's place in a ZoNatsLooper's box.
    ZoBag* Placeholder();

    bool Fail(const char* what, natsStatus s) {
        std::lock_guard<std::mutex> guard(lock);
        error = std::string(what) + ": " + zonats::StatusText(s);
        return false;
    }
};

// ---- the decoding, acknowledging looper ----

struct ZoNatsLooper::Acks {
    using Owner = ZoNatsSubscription::State;
    // The `what` of an empty bag holding a message's place; the decoded bag
    // has the sender's.
    static constexpr uint32_t kCarrier = 0x5a6f4e63;  // "ZoNc"
    // Placeholders kept for reuse at most; more are freed when they return.
    static constexpr size_t kSpareLimit = 1024;
    struct Carried {
        natsMsg* message = nullptr;
        Owner* owner = nullptr;  // null once the subscription ended
        bool durable = false;
    };
    struct Waiting {
        ZoBag* bag;
        Carried carried;
    };
    // Carriers leave the box in the order they were posted, so the one taken
    // is nearly always the oldest here. Only the posts of two subscriptions
    // of one looper can interleave between recording and posting.
    std::mutex lock;              // guards the fields below
    std::deque<Waiting> waiting;  // carriers posted, not taken, oldest first
    // The bags whose handlers run, innermost last (a handler may Flush()).
    std::vector<Carried> handled;
    // Messages done with, released by the next delivery thread that posts
    // (or with the looper): the client's release wakes its collector
    // thread, work the looper's thread is spared.
    std::vector<natsMsg*> done;
    // Placeholders the looper took, for the delivery threads to post again:
    // a bag made on one thread and freed on another takes the allocator's
    // slow path at both ends, twice per message.
    std::vector<ZoBag*> spare;

    // Records a batch of carriers before it is posted, takes the messages
    // done with for the delivery thread to release, and the spare
    // placeholders when it runs short.
    void Track(Owner* owner) {
        std::unique_lock<std::mutex> guard(lock);
        for (int i = 0; i < owner->batched; i++)
            waiting.push_back({owner->batch[i], {owner->messages[i], owner, owner->durable}});
        owner->released.swap(done);
        if (owner->spares.size() < static_cast<size_t>(Owner::kBatch)) {
            owner->spares.insert(owner->spares.end(), spare.begin(), spare.end());
            spare.clear();
        }
        guard.unlock();
        for (natsMsg* message : owner->released)
            natsMsg_Destroy(message);
        owner->released.clear();
    }
    // A bag leaves the box. Its message is taken out now, while the address
    // is still the bag's: once the bag is deleted (or reused) it may hold
    // another message. A handled bag is pushed, a carrier or not, to keep the
    // pairs with Acknowledge(); its message stays there until the handler
    // returned. One that is not handled releases its message unacknowledged
    // (it comes again). A handled carrier is kept for reuse: the caller must
    // not touch it any more. True, with what it carries, for a carrier.
    bool Take(ZoBag* bag, bool handling, Carried* taken) {
        std::lock_guard<std::mutex> guard(lock);
        *taken = Carried{};
        // Only carriers wear the mark; another bag is never looked for.
        bool carrier = false;
        if (bag->what == kCarrier) {
            for (auto it = waiting.begin(); it != waiting.end(); ++it) {
                if (it->bag != bag) continue;
                *taken = it->carried;
                it == waiting.begin() ? waiting.pop_front() : (void)waiting.erase(it);
                carrier = true;
                break;
            }
        }
        if (handling)
            handled.push_back(*taken);
        else
            natsMsg_Destroy(taken->message);
        if (!carrier || !handling) return carrier;
        if (spare.size() < kSpareLimit) {
            spare.push_back(bag);
            return true;
        }
        delete bag;  // one thread's burst cannot keep memory for ever
        return true;
    }
    // After the handler: acknowledges the innermost handled bag's message
    // when it is a durable one whose subscription is still there.
    void Acknowledge() {
        std::lock_guard<std::mutex> guard(lock);
        if (handled.empty()) return;
        Carried last = handled.back();
        handled.pop_back();
        if (last.durable && last.owner != nullptr) natsMsg_Ack(last.message, nullptr);
        if (last.message != nullptr) done.push_back(last.message);
    }
    // The innermost handled bag is not a flat bag: it never reaches a
    // handler, is counted, and a durable one is not sent again.
    void Reject() {
        std::lock_guard<std::mutex> guard(lock);
        Carried bad = handled.back();
        handled.pop_back();
        if (bad.owner != nullptr) {
            bad.owner->malformed++;
            if (bad.durable) natsMsg_Term(bad.message, nullptr);
        }
        natsMsg_Destroy(bad.message);
    }
    // An ending subscription's bags stay: still decoded and handled, but
    // durable ones go unacknowledged (an acknowledgement needs the
    // subscription).
    void Forget(const Owner* owner) {
        std::lock_guard<std::mutex> guard(lock);
        for (Waiting& entry : waiting)
            if (entry.carried.owner == owner) entry.carried.owner = nullptr;
        for (Carried& entry : handled)
            if (entry.owner == owner) entry.owner = nullptr;
    }
    // Everything left, unacknowledged.
    void Clear() {
        std::lock_guard<std::mutex> guard(lock);
        for (Waiting& entry : waiting)
            natsMsg_Destroy(entry.carried.message);
        for (Carried& entry : handled)
            natsMsg_Destroy(entry.message);
        for (natsMsg* message : done)
            natsMsg_Destroy(message);
        for (ZoBag* bag : spare)
            delete bag;
        waiting.clear();
        handled.clear();
        done.clear();
        spare.clear();
    }
};

ZoNatsLooper::ZoNatsLooper(const char* name, int bufferSize)
    : ZoLooper(name, bufferSize), acks(new Acks) {}

ZoNatsLooper::~ZoNatsLooper() {
    Halt();
    acks->Clear();
    delete acks;
}

bool ZoNatsLooper::PostedTaken(ZoBag* bag, bool handled) {
    Acks::Carried taken;
    if (!acks->Take(bag, handled, &taken) || !handled) return true;
    // The carrier went back for reuse; the handler gets a bag made here, on
    // the thread that handles and usually deletes it. The message stays
    // alive in the handled list until the handler returned (nothing else
    // releases it meanwhile); the reply subject of a stored message is the
    // server's ack subject.
    natsMsg* message = taken.message;
    const char* data = natsMsg_GetData(message);
    size_t length = static_cast<size_t>(natsMsg_GetDataLength(message));
    current = zonats::Decode(data, length);
    if (current != nullptr) {
        zonats::MarkArrival(current, data, length, natsMsg_GetSubject(message),
                            taken.durable ? nullptr : natsMsg_GetReply(message));
        return true;
    }
    acks->Reject();
    return false;
}

void ZoNatsLooper::PostedHandled() {
    acks->Acknowledge();
}

// ---- subscriptions ----

using SubState = ZoNatsSubscription::State;

void SubState::Post() {
    if (batched == 0) return;
    if (carrying != nullptr) carrying->Track(this);
    delivered += static_cast<uint64_t>(batched);
    looper->PostMessages(batch, batched);
    batched = 0;
}

ZoBag* SubState::Placeholder() {
    if (spares.empty()) return new ZoBag(ZoNatsLooper::Acks::kCarrier, 1);
    ZoBag* bag = spares.back();
    spares.pop_back();
    return bag;
}

namespace {

// Takes one message into the batch: an empty carrier bag for a looper that
// decodes it, else the bag itself, or the count of bad payloads.
void Take(SubState* st, natsMsg* message) {
    const char* data = natsMsg_GetData(message);
    size_t length = static_cast<size_t>(natsMsg_GetDataLength(message));
    if (st->carrying != nullptr) {
        st->messages[st->batched] = message;
        st->batch[st->batched++] = st->Placeholder();
        return;
    }
    ZoBag* bag = zonats::Decode(data, length);
    if (bag == nullptr) {
        st->malformed++;
        natsMsg_Destroy(message);
        return;
    }
    zonats::MarkArrival(bag, data, length, natsMsg_GetSubject(message), natsMsg_GetReply(message));
    natsMsg_Destroy(message);
    st->batch[st->batched++] = bag;
}

void OnMessage(natsConnection*, natsSubscription* sub, natsMsg* message, void* closure) {
    auto* st = static_cast<SubState*>(closure);
    Take(st, message);
    // While more messages wait in the client, the bags gather and go to the
    // looper together: one write to its box and one wake-up for the lot. The
    // client is asked how many wait only once those it last named are here.
    if (st->following > 0) st->following--;
    if (st->following == 0) {
        int waiting = 0, bytes = 0;
        if (natsSubscription_GetPending(sub, &waiting, &bytes) == NATS_OK && waiting > 0)
            st->following = waiting;
    }
    if (st->following == 0 || st->batched == SubState::kBatch) st->Post();
}

void OnComplete(void* closure) {
    auto* st = static_cast<SubState*>(closure);
    st->Post();  // the client delivers nothing more
    std::lock_guard<std::mutex> guard(st->lock);
    st->complete = true;
    st->ended.notify_all();
}

}  // namespace

ZoNatsSubscription::ZoNatsSubscription(ZoNatsLink* link, const char* subject, ZoLooper* looper,
                                       const char* queue)
    : state(new State) {
    state->link = link;
    state->looper = looper;
    if (auto* decoding = dynamic_cast<ZoNatsLooper*>(looper)) state->carrying = decoding->acks;
    if (link == nullptr || !link->InitCheck() || looper == nullptr || subject == nullptr) {
        state->Fail("subscribe", NATS_INVALID_ARG);
        return;
    }
    natsConnection* nc = link->state->connection;
    natsStatus s =
        queue != nullptr
            ? natsConnection_QueueSubscribe(&state->sub, nc, subject, queue, OnMessage, state)
            : natsConnection_Subscribe(&state->sub, nc, subject, OnMessage, state);
    if (s == NATS_OK) s = natsSubscription_SetOnCompleteCB(state->sub, OnComplete, state);
    if (s != NATS_OK) {
        if (state->sub != nullptr) natsSubscription_Destroy(state->sub);
        state->sub = nullptr;
        state->Fail("subscribe", s);
    }
}

ZoNatsSubscription::ZoNatsSubscription(ZoNatsLink* link, const char* subject, ZoNatsLooper* looper,
                                       const char* stream, const char* durable, long ackWait)
    : state(new State) {
    state->link = link;
    state->looper = looper;
    state->carrying = looper != nullptr ? looper->acks : nullptr;
    state->durable = true;
    jsCtx* js = link != nullptr && link->InitCheck() ? link->state->JetStream() : nullptr;
    if (js == nullptr || looper == nullptr || subject == nullptr || stream == nullptr ||
        durable == nullptr) {
        state->Fail("durable subscribe", NATS_INVALID_ARG);
        return;
    }
    // The consumer is made here rather than by the subscription, so that
    // ending the subscription leaves it (and its position) on the server.
    std::string deliver = std::string("_zolib.deliver.") + stream + "." + durable;
    jsConsumerConfig config;
    jsConsumerConfig_Init(&config);
    config.Durable = durable;
    config.DeliverSubject = deliver.c_str();
    config.FilterSubject = subject;
    config.AckPolicy = js_AckExplicit;
    config.DeliverPolicy = js_DeliverAll;
    if (ackWait > 0) config.AckWait = static_cast<int64_t>(ackWait) * 1000000;  // nanoseconds
    jsConsumerInfo* info = nullptr;
    jsErrCode code = static_cast<jsErrCode>(0);
    natsStatus s = js_AddConsumer(&info, js, stream, &config, nullptr, &code);
    if (info != nullptr) jsConsumerInfo_Destroy(info);
    info = nullptr;
    if (s != NATS_OK &&
        js_GetConsumerInfo(&info, js, stream, durable, nullptr, nullptr) != NATS_OK) {
        state->Fail("durable consumer", s);
        return;
    }
    if (info != nullptr) jsConsumerInfo_Destroy(info);
    jsSubOptions options;
    jsSubOptions_Init(&options);
    options.Stream = stream;
    options.Consumer = durable;
    options.ManualAck = true;
    s = js_Subscribe(&state->sub, js, subject, OnMessage, state, nullptr, &options, &code);
    if (s == NATS_OK) s = natsSubscription_SetOnCompleteCB(state->sub, OnComplete, state);
    if (s != NATS_OK) {
        if (state->sub != nullptr) natsSubscription_Destroy(state->sub);
        state->sub = nullptr;
        state->Fail("durable subscribe", s);
    }
}

ZoNatsSubscription::~ZoNatsSubscription() {
    if (state->sub != nullptr) {
        // A bound durable subscription leaves its consumer on the server.
        if (natsSubscription_Unsubscribe(state->sub) == NATS_OK) {
            std::unique_lock<std::mutex> guard(state->lock);
            state->ended.wait(guard, [this] { return state->complete; });
        }
        state->Post();  // none left after a completion
    }
    // Bags still waiting no longer reach this state, nor acknowledge through
    // the subscription once it is gone.
    if (state->carrying != nullptr) state->carrying->Forget(state);
    if (state->sub != nullptr) natsSubscription_Destroy(state->sub);
    for (ZoBag* spare : state->spares)
        delete spare;
    delete state;
}

bool ZoNatsSubscription::InitCheck() {
    return state->sub != nullptr;
}

const char* ZoNatsSubscription::LastError() {
    std::lock_guard<std::mutex> guard(state->lock);
    return zonats::KeepForThread(state->error);
}

bool ZoNatsSubscription::SetPendingLimits(int messages, int bytes) {
    if (state->sub == nullptr) return state->Fail("pending limits", NATS_INVALID_SUBSCRIPTION);
    natsStatus s = natsSubscription_SetPendingLimits(state->sub, messages == 0 ? -1 : messages,
                                                     bytes == 0 ? -1 : bytes);
    return s == NATS_OK || state->Fail("pending limits", s);
}

int64_t ZoNatsSubscription::Dropped() {
    int64_t dropped = 0;
    if (state->sub != nullptr) natsSubscription_GetDropped(state->sub, &dropped);
    return dropped;
}

uint64_t ZoNatsSubscription::Delivered() {
    return state->delivered.load();
}

uint64_t ZoNatsSubscription::Malformed() {
    return state->malformed.load();
}

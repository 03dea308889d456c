#include <zolib/nats/NatsSubscription.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "internal/LinkState.h"
#include "internal/Wire.h"

// ---- the acknowledging looper ----

struct ZoNatsLooper::Acks {
    struct Pending {
        natsMsg* message = nullptr;
        const void* owner = nullptr;  // the subscription's state
    };
    std::mutex lock;                              // guards both below
    std::unordered_map<ZoBag*, Pending> pending;  // posted durable bags
    // The bags whose handlers run, innermost last (a handler may Flush()).
    std::vector<Pending> handled;

    void Track(ZoBag* bag, natsMsg* message, const void* owner) {
        std::lock_guard<std::mutex> guard(lock);
        pending[bag] = Pending{message, owner};
    }
    // A bag leaves the box. Its message is taken out now, while the address
    // is still the bag's: once the bag is deleted it may belong to a new one.
    // One that is not handled goes unacknowledged (it comes again); a bag
    // that is not a durable one is still pushed, to keep the pairs with
    // Acknowledge().
    void Take(ZoBag* bag, bool handling) {
        std::lock_guard<std::mutex> guard(lock);
        Pending taken;
        auto it = pending.find(bag);
        if (it != pending.end()) {
            taken = it->second;
            pending.erase(it);
        }
        if (handling)
            handled.push_back(taken);
        else
            natsMsg_Destroy(taken.message);
    }
    // After the handler: acknowledges the innermost handled bag's message.
    void Acknowledge() {
        std::lock_guard<std::mutex> guard(lock);
        if (handled.empty()) return;
        natsMsg* message = handled.back().message;
        handled.pop_back();
        if (message == nullptr) return;
        natsMsg_Ack(message, nullptr);
        natsMsg_Destroy(message);
    }
    // Forgets an ending subscription's bags, those being handled included:
    // their messages go unacknowledged (an acknowledgement needs the
    // subscription).
    void Forget(const void* owner) {
        std::lock_guard<std::mutex> guard(lock);
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->second.owner == owner) {
                natsMsg_Destroy(it->second.message);
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
        for (Pending& entry : handled) {
            if (entry.owner != owner) continue;
            natsMsg_Destroy(entry.message);
            entry = Pending{};
        }
    }
    // Everything left, unacknowledged.
    void Clear() {
        std::lock_guard<std::mutex> guard(lock);
        for (auto& entry : pending)
            natsMsg_Destroy(entry.second.message);
        for (Pending& entry : handled)
            natsMsg_Destroy(entry.message);
        pending.clear();
        handled.clear();
    }
};

ZoNatsLooper::ZoNatsLooper(const char* name, int bufferSize)
    : ZoLooper(name, bufferSize), acks(new Acks) {}

ZoNatsLooper::~ZoNatsLooper() {
    Halt();
    acks->Clear();
    delete acks;
}

void ZoNatsLooper::PostedTaken(ZoBag* bag, bool handled) {
    acks->Take(bag, handled);
}

void ZoNatsLooper::PostedHandled() {
    acks->Acknowledge();
}

// ---- subscriptions ----

struct ZoNatsSubscription::State {
    ZoNatsLink* link = nullptr;
    ZoLooper* looper = nullptr;
    ZoNatsLooper::Acks* acking = nullptr;  // durable subscriptions only
    natsSubscription* sub = nullptr;
    std::atomic<uint64_t> delivered{0}, malformed{0};
    // Bags made while more messages waited in the client, not posted yet;
    // the delivery thread's.
    static constexpr int kBatch = 64;
    ZoBag* batch[kBatch] = {};
    int batched = 0;
    std::mutex lock;  // guards the fields below
    std::condition_variable ended;
    bool complete = false;  // no callback will run any more
    std::string error;

    // Hands the batch to the looper in one post.
    void Post() {
        if (batched == 0) return;
        delivered += static_cast<uint64_t>(batched);
        looper->PostMessages(batch, batched);
        batched = 0;
    }

    bool Fail(const char* what, natsStatus s) {
        std::lock_guard<std::mutex> guard(lock);
        error = std::string(what) + ": " + zonats::StatusText(s);
        return false;
    }
};

namespace {

using SubState = ZoNatsSubscription::State;

// Takes one message into the batch (a bag) or the counts (a bad payload).
void Take(SubState* st, natsMsg* message) {
    ZoBag* bag = zonats::Decode(natsMsg_GetData(message),
                                static_cast<size_t>(natsMsg_GetDataLength(message)));
    if (bag == nullptr) {
        st->malformed++;
        // A durable message that can never become a bag is not sent again.
        if (st->acking != nullptr) natsMsg_Term(message, nullptr);
        natsMsg_Destroy(message);
        return;
    }
    if (st->acking != nullptr) {
        // The reply subject of a stored message is the server's ack subject.
        zonats::MarkArrival(bag, natsMsg_GetSubject(message), nullptr);
        st->acking->Track(bag, message, st);
    } else {
        zonats::MarkArrival(bag, natsMsg_GetSubject(message), natsMsg_GetReply(message));
        natsMsg_Destroy(message);
    }
    st->batch[st->batched++] = bag;
}

void OnMessage(natsConnection*, natsSubscription* sub, natsMsg* message, void* closure) {
    auto* st = static_cast<SubState*>(closure);
    Take(st, message);
    // While more messages wait in the client, the bags gather and go to the
    // looper together: one write to its box and one wake-up for the lot.
    int waiting = 0, bytes = 0;
    if (st->batched == SubState::kBatch ||
        natsSubscription_GetPending(sub, &waiting, &bytes) != NATS_OK || waiting == 0)
        st->Post();
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
    state->acking = looper != nullptr ? looper->acks : nullptr;
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
        natsSubscription_Destroy(state->sub);
        state->Post();  // none left after a completion
    }
    if (state->acking != nullptr) state->acking->Forget(state);
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

// Bags over NATS against the raw C client doing the same work, through one
// private nats-server on loopback started for the run: bags published and
// handled by a looper vs the same flat bytes published to a counting
// callback; request/reply of a bag vs the client's own request/reply; and,
// beside them, the same bags through a local ZoPipe into a looper.
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Pipe.h>
#include <zolib/nats/NatsLink.h>
#include <zolib/nats/NatsSubscription.h>

#include <benchmark/benchmark.h>
#include <nats/nats.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "BenchUtil.h"
#include "nats/NatsServer.h"

namespace {

constexpr long kBatch = 1000;

// One server for the whole run; null when nats-server is not installed.
zotest::NatsServer* Server() {
    static std::unique_ptr<zotest::NatsServer> server = [] {
        if (zotest::NatsServerProgram().empty()) return std::unique_ptr<zotest::NatsServer>();
        auto s = std::make_unique<zotest::NatsServer>(std::vector<std::string>{}, false);
        return s->Running() ? std::move(s) : std::unique_ptr<zotest::NatsServer>();
    }();
    return server.get();
}

// Counts the bags it handles. A ZoNatsLooper decodes them on its own thread.
template <class Looper>
class Counting : public Looper {
  public:
    Counting() : Looper("bench", 4096) {}
    ~Counting() override { this->Halt(); }
    void MessageReceived(ZoBag*) override { counter.Add(); }
    bench::Counter counter;
};
using CountingLooper = Counting<ZoLooper>;

std::string SmallFlat() {
    bench::SmallFields fields;
    std::unique_ptr<ZoBag> bag(bench::MakeSmallBag(fields));
    std::string out(bag->FlatSize(false), '\0');
    bag->Flatten(&out[0], nullptr, false);
    return out;
}

// ---- publish to a subscriber ----

// The publish rows swing by 10 % and more between repetitions on a shared
// 2-core machine (five threads and the server take turns on it), so they take
// more repetitions than the run's default: the median of each run then moves
// less.
constexpr int kPublishRepetitions = 9;

template <class Looper>
void Publish(benchmark::State& state, const char* subject) {
    if (Server() == nullptr) return state.SkipWithError("nats-server is not installed");
    ZoNatsLink sender(Server()->Url().c_str()), receiver(Server()->Url().c_str());
    Counting<Looper> looper;
    looper.Run();
    ZoNatsSubscription sub(&receiver, subject, &looper);
    sub.SetPendingLimits(-1, -1);  // as the raw subscriber: nothing dropped
    receiver.Flush(5000);
    bench::SmallFields fields;
    std::unique_ptr<ZoBag> bag(bench::MakeSmallBag(fields));
    for (auto _ : state) {
        for (long i = 0; i < kBatch; i++)
            sender.Publish(subject, bag.get(), false);
        looper.counter.WaitForMore(kBatch);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// A component's own looper: a ZoNatsLooper, which decodes on its thread.
void BM_NatsPublish_ZoLib(benchmark::State& state) {
    Publish<ZoNatsLooper>(state, "bench.pub");
}
BENCHMARK(BM_NatsPublish_ZoLib)->UseRealTime()->Repetitions(kPublishRepetitions);

// Any other looper: the bags are made on the client's delivery thread.
void BM_NatsPublishPlain_ZoLib(benchmark::State& state) {
    Publish<ZoLooper>(state, "bench.plain");
}
BENCHMARK(BM_NatsPublishPlain_ZoLib)->UseRealTime()->Repetitions(kPublishRepetitions);

void Count(natsConnection*, natsSubscription*, natsMsg* msg, void* closure) {
    natsMsg_Destroy(msg);
    static_cast<bench::Counter*>(closure)->Add();
}

void BM_NatsPublish_raw(benchmark::State& state) {
    if (Server() == nullptr) return state.SkipWithError("nats-server is not installed");
    natsConnection *sender = nullptr, *receiver = nullptr;
    natsConnection_ConnectTo(&sender, Server()->Url().c_str());
    natsConnection_ConnectTo(&receiver, Server()->Url().c_str());
    bench::Counter counter;
    natsSubscription* sub = nullptr;
    natsConnection_Subscribe(&sub, receiver, "bench.raw", Count, &counter);
    natsSubscription_SetPendingLimits(sub, -1, -1);
    natsConnection_Flush(receiver);
    std::string flat = SmallFlat();
    for (auto _ : state) {
        for (long i = 0; i < kBatch; i++)
            natsConnection_Publish(sender, "bench.raw", flat.data(), static_cast<int>(flat.size()));
        counter.WaitForMore(kBatch);
    }
    natsSubscription_Unsubscribe(sub);
    natsSubscription_Destroy(sub);
    natsConnection_Destroy(sender);
    natsConnection_Destroy(receiver);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_NatsPublish_raw)->UseRealTime()->Repetitions(kPublishRepetitions);

// The same bags through a local pipe into a looper: flattened compressed, as
// a channel sends them, one write each. A pipe carries one message per read
// (two writes read at once are one message), so each bag is handled before
// the next is written: this is the pipe's round, not a stream.
void BM_NatsPipe_ZoLib(benchmark::State& state) {
    ZoPipe pipe(0);  // outlives the looper, which reads it
    CountingLooper looper;
    looper.Connect(&pipe);
    looper.Run();
    bench::SmallFields fields;
    std::unique_ptr<ZoBag> bag(bench::MakeSmallBag(fields));
    std::string buffer(bag->FlatSize(true), '\0');
    for (auto _ : state) {
        for (long i = 0; i < kBatch; i++) {
            unsigned long size = 0;
            bag->Flatten(&buffer[0], &size, true);
            ssize_t n = write(pipe.Device(WAY_WRITE), buffer.data(), size);
            benchmark::DoNotOptimize(n);
            looper.counter.WaitForMore(1);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_NatsPipe_ZoLib)->UseRealTime();

// ---- request and reply ----

class Responder : public ZoLooper {
  public:
    explicit Responder(ZoNatsLink* answering) : ZoLooper("responder", 4096), link(answering) {}
    ~Responder() override { Halt(); }
    void MessageReceived(ZoBag* bag) override { link->Reply(bag, bag, false); }
    ZoNatsLink* link;
};

void BM_NatsRequest_ZoLib(benchmark::State& state) {
    if (Server() == nullptr) return state.SkipWithError("nats-server is not installed");
    ZoNatsLink asker(Server()->Url().c_str()), answerer(Server()->Url().c_str());
    Responder responder(&answerer);
    responder.Run();
    ZoNatsSubscription sub(&answerer, "bench.req", &responder);
    answerer.Flush(5000);
    bench::SmallFields fields;
    std::unique_ptr<ZoBag> bag(bench::MakeSmallBag(fields));
    for (auto _ : state)
        delete asker.Request("bench.req", bag.get(), 5000, false);
}
BENCHMARK(BM_NatsRequest_ZoLib)->UseRealTime();

void Answer(natsConnection* nc, natsSubscription*, natsMsg* msg, void*) {
    natsConnection_Publish(nc, natsMsg_GetReply(msg), natsMsg_GetData(msg),
                           natsMsg_GetDataLength(msg));
    natsMsg_Destroy(msg);
}

void BM_NatsRequest_raw(benchmark::State& state) {
    if (Server() == nullptr) return state.SkipWithError("nats-server is not installed");
    natsConnection *asker = nullptr, *answerer = nullptr;
    natsConnection_ConnectTo(&asker, Server()->Url().c_str());
    natsConnection_ConnectTo(&answerer, Server()->Url().c_str());
    natsSubscription* sub = nullptr;
    natsConnection_Subscribe(&sub, answerer, "bench.rawreq", Answer, nullptr);
    natsConnection_Flush(answerer);
    std::string flat = SmallFlat();
    for (auto _ : state) {
        natsMsg* reply = nullptr;
        natsConnection_Request(&reply, asker, "bench.rawreq", flat.data(),
                               static_cast<int>(flat.size()), 5000);
        natsMsg_Destroy(reply);
    }
    natsSubscription_Unsubscribe(sub);
    natsSubscription_Destroy(sub);
    natsConnection_Destroy(asker);
    natsConnection_Destroy(answerer);
}
BENCHMARK(BM_NatsRequest_raw)->UseRealTime();

}  // namespace

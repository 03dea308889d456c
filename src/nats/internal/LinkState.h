// What a ZoNatsLink holds, shared with the subscriptions and registries made
// on it.
#pragma once

#include <zolib/nats/NatsLink.h>

#include <nats/nats.h>

#include <atomic>
#include <mutex>
#include <string>

struct ZoNatsLink::State {
    natsConnection* connection = nullptr;
    jsCtx* jetStream = nullptr;  // made on first use, under `lock`
    std::atomic<unsigned long> reconnects{0};
    std::mutex lock;    // guards `error` and `jetStream`
    std::string error;  // the last failure's text

    // Records a failure: `what` and the client's reason for `status`.
    // Returns false, for `return state->Fail(...)`.
    bool Fail(const char* what, natsStatus status);
    bool Fail(const char* what);
    // The JetStream context, made when first needed; null on failure.
    jsCtx* JetStream();
};

namespace zonats {
// The client's reason for `status`, with its detail when it has one.
std::string StatusText(natsStatus status);
// The text LastError() hands out: a copy of `error` for the calling thread.
const char* KeepForThread(const std::string& error);
}  // namespace zonats

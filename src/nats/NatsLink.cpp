#include <zolib/nats/NatsLink.h>

#include <memory>
#include <string>
#include <vector>

#include "internal/LinkState.h"
#include "internal/Wire.h"

namespace zonats {

const char* KeepForThread(const std::string& error) {
    thread_local std::string copy;
    copy = error;
    return copy.c_str();
}

}  // namespace zonats

std::string zonats::StatusText(natsStatus status) {
    std::string text = natsStatus_GetText(status);
    const char* detail = nats_GetLastError(nullptr);
    if (detail != nullptr && detail[0] != '\0' && text.find(detail) == std::string::npos)
        text += std::string(" (") + detail + ")";
    return text;
}

bool ZoNatsLink::State::Fail(const char* what, natsStatus status) {
    std::string text = std::string(what) + ": " + zonats::StatusText(status);
    std::lock_guard<std::mutex> guard(lock);
    error = text;
    return false;
}

bool ZoNatsLink::State::Fail(const char* what) {
    std::lock_guard<std::mutex> guard(lock);
    error = what;
    return false;
}

jsCtx* ZoNatsLink::State::JetStream() {
    std::lock_guard<std::mutex> guard(lock);
    if (jetStream == nullptr && connection != nullptr) {
        natsStatus s = natsConnection_JetStream(&jetStream, connection, nullptr);
        if (s != NATS_OK) {
            jetStream = nullptr;
            error = std::string("JetStream: ") + natsStatus_GetText(s);
        }
    }
    return jetStream;
}

namespace {

// The largest flat form a publishing thread keeps a block for.
constexpr size_t kKeptBlock = 64 * 1024;

void Reconnected(natsConnection*, void* closure) {
    static_cast<ZoNatsLink::State*>(closure)->reconnects++;
}

// Builds the client's options; false (with the reason recorded) when one is
// refused, such as a certificate file that cannot be read.
bool Configure(natsOptions* opts, const ZoNatsOptions& o, ZoNatsLink::State* state) {
    natsStatus s = NATS_OK;
    std::vector<std::string> urls;
    std::string all = o.servers != nullptr ? o.servers : NATS_DEFAULT_URL;
    for (size_t start = 0; start <= all.size();) {
        size_t comma = all.find(',', start);
        if (comma == std::string::npos) comma = all.size();
        std::string url = all.substr(start, comma - start);
        size_t first = url.find_first_not_of(" \t"), last = url.find_last_not_of(" \t");
        if (first != std::string::npos) urls.push_back(url.substr(first, last - first + 1));
        start = comma + 1;
    }
    if (urls.empty()) return state->Fail("no server URL given");
    std::vector<const char*> list;
    for (const std::string& url : urls)
        list.push_back(url.c_str());
    s = natsOptions_SetServers(opts, list.data(), static_cast<int>(list.size()));
    if (s == NATS_OK && urls.size() > 1) s = natsOptions_SetNoRandomize(opts, true);
    if (s == NATS_OK && o.name != nullptr) s = natsOptions_SetName(opts, o.name);
    if (s == NATS_OK) s = natsOptions_SetAllowReconnect(opts, o.maxReconnects != 0);
    if (s == NATS_OK && o.maxReconnects != 0)
        s = natsOptions_SetMaxReconnect(opts, o.maxReconnects);
    if (s == NATS_OK && o.reconnectWait >= 0)
        s = natsOptions_SetReconnectWait(opts, o.reconnectWait);
    if (s == NATS_OK && o.connectTimeOut > 0) s = natsOptions_SetTimeout(opts, o.connectTimeOut);
    if (s == NATS_OK) s = natsOptions_SetReconnectedCB(opts, Reconnected, state);
    if (s != NATS_OK) return state->Fail("options", s);
    if (o.user != nullptr && natsOptions_SetUserInfo(opts, o.user, o.password) != NATS_OK)
        return state->Fail("user and password refused");
    if (o.token != nullptr && natsOptions_SetToken(opts, o.token) != NATS_OK)
        return state->Fail("token refused");
    if (o.caFile != nullptr) {
        s = natsOptions_SetSecure(opts, true);
        if (s == NATS_OK) s = natsOptions_LoadCATrustedCertificates(opts, o.caFile);
        if (s != NATS_OK) return state->Fail("TLS certificate authority", s);
    }
    if (o.certFile != nullptr || o.keyFile != nullptr) {
        s = natsOptions_LoadCertificatesChain(opts, o.certFile, o.keyFile);
        if (s != NATS_OK) return state->Fail("TLS client certificate", s);
    }
    return true;
}

}  // namespace

ZoNatsLink::ZoNatsLink(const char* servers)
    : ZoNatsLink([servers] {
          ZoNatsOptions options;
          options.servers = servers;
          return options;
      }()) {}

ZoNatsLink::ZoNatsLink(const ZoNatsOptions& options) : state(new State) {
    natsOptions* opts = nullptr;
    natsStatus s = natsOptions_Create(&opts);
    if (s != NATS_OK) {
        state->Fail("options", s);
        return;
    }
    if (Configure(opts, options, state)) {
        s = natsConnection_Connect(&state->connection, opts);
        if (s != NATS_OK) {
            state->connection = nullptr;
            state->Fail("connect", s);
        }
    }
    natsOptions_Destroy(opts);
}

ZoNatsLink::~ZoNatsLink() {
    if (state->jetStream != nullptr) jsCtx_Destroy(state->jetStream);
    if (state->connection != nullptr) {
        natsConnection_Close(state->connection);
        natsConnection_Destroy(state->connection);
    }
    delete state;
}

bool ZoNatsLink::InitCheck() {
    return state->connection != nullptr;
}

bool ZoNatsLink::IsConnected() {
    return state->connection != nullptr &&
           natsConnection_Status(state->connection) == NATS_CONN_STATUS_CONNECTED;
}

unsigned long ZoNatsLink::Reconnects() {
    return state->reconnects.load();
}

const char* ZoNatsLink::LastError() {
    std::lock_guard<std::mutex> guard(state->lock);
    return zonats::KeepForThread(state->error);
}

bool ZoNatsLink::Publish(const char* subject, ZoBag* bag, bool zip) {
    if (state->connection == nullptr) return state->Fail("not connected");
    if (subject == nullptr || bag == nullptr) return state->Fail("no subject or no bag");
    // The flat form goes into a block the thread keeps between publishes
    // (the client copies the bytes), unless it grew large.
    thread_local std::string bytes;
    bool encoded = zonats::Encode(bag, zip, &bytes);
    natsStatus s = encoded ? natsConnection_Publish(state->connection, subject, bytes.data(),
                                                    static_cast<int>(bytes.size()))
                           : NATS_OK;
    if (bytes.capacity() > kKeptBlock) std::string().swap(bytes);
    if (!encoded) return state->Fail("the bag could not be compressed");
    return s == NATS_OK || state->Fail("publish", s);
}

ZoBag* ZoNatsLink::Request(const char* subject, ZoBag* bag, long timeOut, bool zip) {
    if (state->connection == nullptr) return state->Fail("not connected"), nullptr;
    if (subject == nullptr || bag == nullptr) return state->Fail("no subject or no bag"), nullptr;
    std::string bytes;
    if (!zonats::Encode(bag, zip, &bytes))
        return state->Fail("the bag could not be compressed"), nullptr;
    natsMsg* reply = nullptr;
    natsStatus s =
        natsConnection_Request(&reply, state->connection, subject, bytes.data(),
                               static_cast<int>(bytes.size()), timeOut < 0 ? INT64_MAX : timeOut);
    if (s != NATS_OK) return state->Fail("request", s), nullptr;
    ZoBag* answer =
        zonats::Decode(natsMsg_GetData(reply), static_cast<size_t>(natsMsg_GetDataLength(reply)));
    natsMsg_Destroy(reply);
    if (answer == nullptr) state->Fail("the answer is not a bag");
    return answer;
}

bool ZoNatsLink::Reply(ZoBag* received, ZoBag* answer, bool zip) {
    const char* reply = received != nullptr ? ReplySubject(received) : nullptr;
    if (reply == nullptr) return state->Fail("the bag carries no reply subject");
    return Publish(reply, answer, zip);
}

bool ZoNatsLink::Flush(long timeOut) {
    if (state->connection == nullptr) return state->Fail("not connected");
    natsStatus s =
        natsConnection_FlushTimeout(state->connection, timeOut < 0 ? INT64_MAX : timeOut);
    return s == NATS_OK || state->Fail("flush", s);
}

bool ZoNatsLink::AddStream(const char* stream, const char* subjects) {
    jsCtx* js = state->JetStream();
    if (js == nullptr) return false;
    if (stream == nullptr || subjects == nullptr)
        return state->Fail("no stream name or no subjects");
    std::vector<std::string> parts;
    std::string all = subjects;
    for (size_t start = 0; start <= all.size();) {
        size_t comma = all.find(',', start);
        if (comma == std::string::npos) comma = all.size();
        if (comma > start) parts.push_back(all.substr(start, comma - start));
        start = comma + 1;
    }
    std::vector<const char*> list;
    for (const std::string& part : parts)
        list.push_back(part.c_str());
    jsStreamConfig config;
    jsStreamConfig_Init(&config);
    config.Name = stream;
    config.Subjects = list.data();
    config.SubjectsLen = static_cast<int>(list.size());
    config.Storage = js_FileStorage;
    jsStreamInfo* info = nullptr;
    jsErrCode code = static_cast<jsErrCode>(0);
    natsStatus s = js_AddStream(&info, js, &config, nullptr, &code);
    if (info != nullptr) jsStreamInfo_Destroy(info);
    if (s == NATS_OK) return true;
    // An existing stream of that name is fine as it is.
    jsStreamInfo* existing = nullptr;
    if (js_GetStreamInfo(&existing, js, stream, nullptr, nullptr) == NATS_OK) {
        jsStreamInfo_Destroy(existing);
        return true;
    }
    return state->Fail("add stream", s);
}

const char* ZoNatsLink::Subject(ZoBag* received) {
    char* text = nullptr;
    return received != nullptr && received->Getstring(zonats::kSubjectItem, &text, 1) ? text
                                                                                      : nullptr;
}

const char* ZoNatsLink::ReplySubject(ZoBag* received) {
    char* text = nullptr;
    return received != nullptr && received->Getstring(zonats::kReplyItem, &text, 1) ? text
                                                                                    : nullptr;
}

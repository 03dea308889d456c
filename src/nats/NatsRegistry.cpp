#include <zolib/nats/NatsRegistry.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "internal/LinkState.h"
#include "internal/Wire.h"

namespace {

using std::string;

constexpr size_t kMaxName = 64;

// Key characters the bucket accepts; anything else becomes "_".
string KeyPart(const string& text) {
    string out = text.empty() ? "_" : text;
    for (char& c : out)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
    return out;
}

// A name in hex: any characters, no two names alike.
string Hex(const string& text) {
    static const char digits[] = "0123456789abcdef";
    string out;
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out.empty() ? "_" : out;
}

std::unique_ptr<ZoBag> MemberBag(const char* name, const char* host, int pid) {
    auto bag = std::make_unique<ZoBag>(0, 0);
    bag->Setstring("name", name, 1);
    bag->Setstring("host", host, 1);
    bag->Setint32("pid", pid, 1);
    return bag;
}

}  // namespace

struct ZoNatsRegistry::State {
    ZoNatsLink* link = nullptr;
    kvStore* kv = nullptr;
    long ttl = 0;
    std::mutex lock;  // guards everything below
    std::condition_variable wake;
    string error;
    bool stopping = false;
    // Joined: the key and value kept fresh by `refresher`.
    string key, value;
    std::thread refresher;
    bool leaving = false;
    // Watching.
    std::thread watcher;
    kvWatcher* watch = nullptr;

    bool Fail(const string& what, natsStatus s) {
        std::lock_guard<std::mutex> guard(lock);
        error = what + ": " + zonats::StatusText(s);
        return false;
    }
    bool Fail(const string& what) {
        std::lock_guard<std::mutex> guard(lock);
        error = what;
        return false;
    }
    void Refresh();
    void Watch(ZoLooper* looper);
    // Keys now present; false on failure.
    bool Keys(std::set<string>* keys);
};

void ZoNatsRegistry::State::Refresh() {
    std::unique_lock<std::mutex> guard(lock);
    long period = std::max(ttl / 3, 1L);
    while (!leaving) {
        if (wake.wait_for(guard, std::chrono::milliseconds(period), [this] { return leaving; }))
            break;
        string k = key, v = value;
        guard.unlock();
        // A failed refresh is retried at the next period; the entry lives a
        // whole TTL, so two in three may fail without the member expiring.
        kvStore_Put(nullptr, kv, k.c_str(), v.data(), static_cast<int>(v.size()));
        guard.lock();
    }
}

bool ZoNatsRegistry::State::Keys(std::set<string>* keys) {
    kvKeysList list{};
    natsStatus s = kvStore_Keys(&list, kv, nullptr);
    if (s == NATS_NOT_FOUND) return true;  // an empty bucket
    if (s != NATS_OK) return Fail("keys", s);
    for (int i = 0; i < list.Count; i++)
        keys->insert(list.Keys[i]);
    kvKeysList_Destroy(&list);
    return true;
}

void ZoNatsRegistry::State::Watch(ZoLooper* looper) {
    std::map<string, std::unique_ptr<ZoBag>> known;
    auto tell = [&](uint32_t what, ZoBag* member) {
        ZoBag* bag = new ZoBag(member);
        bag->what = what;
        looper->PostMessage(bag, false);
    };
    auto next = std::chrono::steady_clock::now();
    long period = std::max(ttl / 2, 1L);
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (stopping) return;
        }
        kvEntry* entry = nullptr;
        natsStatus s = kvWatcher_Next(&entry, watch, std::min(period, 500L));
        if (s == NATS_OK && entry != nullptr) {
            string k = kvEntry_Key(entry);
            if (kvEntry_Operation(entry) == kvOp_Put) {
                std::unique_ptr<ZoBag> member(
                    zonats::Decode(static_cast<const char*>(kvEntry_Value(entry)),
                                   static_cast<size_t>(kvEntry_ValueLen(entry))));
                if (member != nullptr && known.find(k) == known.end()) {
                    tell(ZO_NATS_JOINED, member.get());
                    known[k] = std::move(member);
                }
            } else {
                auto it = known.find(k);
                if (it != known.end()) {
                    tell(ZO_NATS_LEFT, it->second.get());
                    known.erase(it);
                }
            }
            kvEntry_Destroy(entry);
        } else if (s != NATS_OK && s != NATS_TIMEOUT) {
            // Stopped, or the connection is down: try again shortly.
            std::unique_lock<std::mutex> guard(lock);
            if (wake.wait_for(guard, std::chrono::milliseconds(100), [this] { return stopping; }))
                return;
        }
        // Entries that expired leave no trace in the watch: compare keys.
        if (std::chrono::steady_clock::now() >= next) {
            next = std::chrono::steady_clock::now() + std::chrono::milliseconds(period);
            std::set<string> present;
            if (!Keys(&present)) continue;
            for (auto it = known.begin(); it != known.end();) {
                if (present.count(it->first) == 0) {
                    tell(ZO_NATS_LEFT, it->second.get());
                    it = known.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
}

ZoNatsRegistry::ZoNatsRegistry(ZoNatsLink* link, const char* bucket, long ttl) : state(new State) {
    state->link = link;
    jsCtx* js = link != nullptr && link->InitCheck() ? link->state->JetStream() : nullptr;
    if (js == nullptr || bucket == nullptr || ttl <= 0) {
        state->Fail("registry: no connection, bucket or time to live");
        return;
    }
    kvConfig config;
    kvConfig_Init(&config);
    config.Bucket = bucket;
    config.History = 1;
    config.TTL = static_cast<int64_t>(ttl) * 1000000;  // nanoseconds
    config.StorageType = js_FileStorage;
    natsStatus s = js_CreateKeyValue(&state->kv, js, &config);
    string why = s != NATS_OK ? zonats::StatusText(s) : "";
    if (s != NATS_OK) {
        state->kv = nullptr;
        s = js_KeyValue(&state->kv, js, bucket);  // made before with other settings
    }
    if (s != NATS_OK) {
        state->kv = nullptr;
        state->Fail("registry bucket: " + why);
        return;
    }
    kvStatus* status = nullptr;
    state->ttl = ttl;
    if (kvStore_Status(&status, state->kv) == NATS_OK) {
        state->ttl = static_cast<long>(kvStatus_TTL(status) / 1000000);
        kvStatus_Destroy(status);
    }
}

ZoNatsRegistry::~ZoNatsRegistry() {
    Leave();
    {
        std::lock_guard<std::mutex> guard(state->lock);
        state->stopping = true;
        state->wake.notify_all();
    }
    if (state->watch != nullptr) kvWatcher_Stop(state->watch);
    if (state->watcher.joinable()) state->watcher.join();
    if (state->watch != nullptr) kvWatcher_Destroy(state->watch);
    if (state->kv != nullptr) kvStore_Destroy(state->kv);
    delete state;
}

bool ZoNatsRegistry::InitCheck() {
    return state->kv != nullptr;
}

const char* ZoNatsRegistry::LastError() {
    std::lock_guard<std::mutex> guard(state->lock);
    return zonats::KeepForThread(state->error);
}

long ZoNatsRegistry::TimeToLive() {
    return state->ttl;
}

bool ZoNatsRegistry::Join(const char* name) {
    if (state->kv == nullptr) return state->Fail("registry not open");
    if (name == nullptr || strlen(name) > kMaxName)
        return state->Fail("no name, or a name too long");
    {
        std::lock_guard<std::mutex> guard(state->lock);
        if (!state->key.empty()) {
            state->error = "already joined";
            return false;
        }
    }
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    int pid = static_cast<int>(getpid());
    string key = KeyPart(host) + "." + std::to_string(pid) + "." + Hex(name), value;
    auto member = MemberBag(name, host, pid);
    zonats::Encode(member.get(), false, &value);
    natsStatus s =
        kvStore_Put(nullptr, state->kv, key.c_str(), value.data(), static_cast<int>(value.size()));
    if (s != NATS_OK) return state->Fail("join", s);
    std::lock_guard<std::mutex> guard(state->lock);
    state->key = key;
    state->value = value;
    state->leaving = false;
    state->refresher = std::thread([this] { state->Refresh(); });
    return true;
}

bool ZoNatsRegistry::Leave() {
    string key;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        if (state->key.empty()) {
            state->error = "not joined";
            return false;
        }
        key.swap(state->key);
        state->leaving = true;
        state->wake.notify_all();
    }
    state->refresher.join();
    natsStatus s = kvStore_Delete(state->kv, key.c_str());
    return s == NATS_OK || state->Fail("leave", s);
}

ZoBag* ZoNatsRegistry::List() {
    if (state->kv == nullptr) return state->Fail("registry not open"), nullptr;
    std::set<string> keys;
    if (!state->Keys(&keys)) return nullptr;
    auto all = std::make_unique<ZoBag>(0, 0);
    int n = 0;
    for (const string& key : keys) {
        kvEntry* entry = nullptr;
        if (kvStore_Get(&entry, state->kv, key.c_str()) != NATS_OK) continue;  // gone meanwhile
        std::unique_ptr<ZoBag> member(zonats::Decode(static_cast<const char*>(kvEntry_Value(entry)),
                                                     static_cast<size_t>(kvEntry_ValueLen(entry))));
        kvEntry_Destroy(entry);
        char *name, *host;
        int pid;
        if (member == nullptr || !member->Getstring("name", &name, 1) ||
            !member->Getstring("host", &host, 1) || !member->Getint32("pid", &pid, 1))
            continue;  // not one of ours
        n++;
        all->Setstring("name", name, n);
        all->Setstring("host", host, n);
        all->Setint32("pid", pid, n);
    }
    return all.release();
}

ZoBag* ZoNatsRegistry::Find(const char* name) {
    if (name == nullptr) return nullptr;
    std::unique_ptr<ZoBag> all(List());
    if (all == nullptr) return nullptr;
    for (int i = 1; i <= all->CountItem("name"); i++) {
        char *found, *host;
        int pid;
        if (all->Getstring("name", &found, i) && strcmp(found, name) == 0 &&
            all->Getstring("host", &host, i) && all->Getint32("pid", &pid, i))
            return MemberBag(found, host, pid).release();
    }
    state->Fail(string("no member named ") + name);
    return nullptr;
}

bool ZoNatsRegistry::Watch(ZoLooper* looper) {
    if (state->kv == nullptr || looper == nullptr)
        return state->Fail("registry not open, or no looper");
    if (state->watch != nullptr) return state->Fail("already watching");
    natsStatus s = kvStore_WatchAll(&state->watch, state->kv, nullptr);
    if (s != NATS_OK) {
        state->watch = nullptr;
        return state->Fail("watch", s);
    }
    state->watcher = std::thread([this, looper] { state->Watch(looper); });
    return true;
}

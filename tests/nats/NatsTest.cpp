// Bags over real nats-server processes on loopback (each test starts its own
// on free ports): publish/subscribe and request/reply of every element type,
// wildcards and queue groups, damaged payloads and pending limits, token and
// TLS credentials, durable (JetStream) delivery, a cluster node dying under a
// looper, and the registry across processes.
#include <gtest/gtest.h>
#include <nats/nats.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zolib/nats/NatsLink.h>
#include <zolib/nats/NatsRegistry.h>
#include <zolib/nats/NatsSubscription.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "nats/NatsServer.h"
#include "support/Bytes.h"
#include "support/Wait.h"

namespace {

using std::string;
using Strings = std::vector<string>;
using zotest::NatsServer;
using zotest::NatsServerProgram;
using zotest::WaitUntil;

// A looper that keeps every bag it is handed; it answers requests with the
// bag itself when given a link, and handles nothing while `hold` is set.
class Keeper : public ZoNatsLooper {
  public:
    explicit Keeper(ZoNatsLink* answerer = nullptr)
        : ZoNatsLooper("keeper", 1 << 16), link(answerer) {
        Run();
    }
    ~Keeper() override { Halt(); }
    void MessageReceived(ZoBag* bag) override {
        while (hold)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (link != nullptr && ZoNatsLink::ReplySubject(bag) != nullptr)
            link->Reply(bag, bag, true);
        std::lock_guard<std::mutex> guard(lock);
        onLoopThread = onLoopThread && pthread_equal(pthread_self(), ID());
        DetachCurrentMessage();
        bags.emplace_back(bag);
    }
    size_t Count() {
        std::lock_guard<std::mutex> guard(lock);
        return bags.size();
    }
    ZoBag* At(size_t i) {
        std::lock_guard<std::mutex> guard(lock);
        return bags[i].get();
    }

    ZoNatsLink* link;
    std::atomic<bool> hold{false};
    std::mutex lock;
    std::vector<std::unique_ptr<ZoBag>> bags;
    bool onLoopThread = true;
};

// Most tests need one JetStream server and a link to it.
class NatsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (NatsServerProgram().empty())
            GTEST_SKIP() << "nats-server is not installed (Debian package nats-server)";
        server = std::make_unique<NatsServer>();
        ASSERT_TRUE(server->Running());
        link = std::make_unique<ZoNatsLink>(server->Url().c_str());
        ASSERT_TRUE(link->InitCheck()) << link->LastError();
    }
    std::unique_ptr<NatsServer> server;
    std::unique_ptr<ZoNatsLink> link;
};

TEST_F(NatsTest, EveryElementTypeTravelsByPublishAndRequest) {
    ZoBag sent(0x5a5a, 0), nested(42, 0);
    nested.Setstring("inner", "nested", 1);
    sent.Setbag("bag", &nested, 1);
    sent.Setstring("string", "", 1);
    const std::pair<T_Data, int> types[] = {
        {T_STRING, 6},  {T_BOOL, 1},
        {T_INT8, 1},    {T_INT16, 2},
        {T_INT32, 4},   {T_INT64, 8},
        {T_FLOAT32, 4}, {T_FLOAT64, 8},
        {T_BUFFER, 9},  {T_POINTER, static_cast<int>(sizeof(void*))}};
    for (const auto& [type, size] : types)
        sent.Setdata(std::to_string(type).c_str(), type, "\1\2\3\4\5\6\x7f\xff", size, 1);
    string expected = zotest::Plain(sent);
    Keeper keeper(link.get());
    ZoNatsSubscription sub(link.get(), "types", &keeper);
    ASSERT_TRUE(sub.InitCheck()) << sub.LastError();
    ASSERT_TRUE(link->Flush(5000));
    // A payload claiming a body no stream of ours inflates to is refused
    // before decoding (the decode tests and the fuzzer cover other damage).
    string huge = zotest::Compressed(sent);
    huge[7] = '\x7f';  // claims a 2 GiB body
    natsConnection* raw = nullptr;
    ASSERT_EQ(natsConnection_ConnectTo(&raw, server->Url().c_str()), NATS_OK);
    natsConnection_Publish(raw, "types", huge.data(), static_cast<int>(huge.size()));
    natsConnection_Destroy(raw);
    for (int c = 0; c < 4; c++) {  // plain or compressed, published or requested
        bool zip = c & 1, request = c & 2;
        std::unique_ptr<ZoBag> answer(request ? link->Request("types", &sent, 5000, zip) : nullptr);
        ASSERT_TRUE(request || link->Publish("types", &sent, zip));
        ASSERT_TRUE(WaitUntil([&] { return keeper.Count() == static_cast<size_t>(c + 1); }));
        ZoBag* got = keeper.At(c);
        EXPECT_STREQ(ZoNatsLink::Subject(got), "types");
        EXPECT_EQ(ZoNatsLink::ReplySubject(got) != nullptr, request);
        ASSERT_EQ(answer != nullptr, request) << link->LastError();
        for (ZoBag* bag : {got, answer.get()}) {  // the arrival items are the only difference
            if (bag == nullptr) continue;
            bag->RemoveItem("_nats.subject", 0);
            bag->RemoveItem("_nats.reply", 0);
            EXPECT_EQ(zotest::Plain(*bag), expected) << "case " << c;
        }
    }
    // Arrival items that travelled in a bag are replaced, whatever they were
    // (items are found by the hash of their name, so a forged one may carry
    // another name): a forged reply subject never reaches a handler.
    ZoBag forged(0, 0), patched(0, 0);
    forged.Setint32("_nats.subject", 7, 1);
    forged.Setstring("x", "forged", 1);
    auto littleEndian = [](long hash) {
        string bytes(4, '\0');
        for (int i = 0; i < 4; i++)
            bytes[i] = static_cast<char>(hash >> 8 * i);
        return bytes;
    };
    string bytes = zotest::Plain(forged);
    bytes.replace(bytes.find(littleEndian(ZoBag::Hash("x"))), 4,
                  littleEndian(ZoBag::Hash("_nats.reply")));
    ASSERT_TRUE(patched.Unflatten(bytes.data(), bytes.size()));
    for (int c = 4; c < 6; c++) {
        ASSERT_TRUE(link->Publish("types", &patched, c == 5));
        ASSERT_TRUE(WaitUntil([&] { return keeper.Count() == static_cast<size_t>(c + 1); }));
        EXPECT_STREQ(ZoNatsLink::Subject(keeper.At(c)), "types");
        EXPECT_EQ(ZoNatsLink::ReplySubject(keeper.At(c)), nullptr);
    }
    EXPECT_TRUE(keeper.onLoopThread);
    EXPECT_TRUE(WaitUntil([&] { return sub.Malformed() == 1; }));
    // Nobody answers on another subject: a bounded wait and a reason.
    EXPECT_EQ(link->Request("nobody", &sent, 300, false), nullptr);
    EXPECT_STRNE(link->LastError(), "");
}

TEST_F(NatsTest, WildcardsAndQueueGroupsRouteBags) {
    Keeper one, many, first, second;
    ZoNatsSubscription oneToken(link.get(), "a.*", &one), anyTail(link.get(), "a.>", &many);
    ZoNatsSubscription shareA(link.get(), "work", &first, "workers"),
        shareB(link.get(), "work", &second, "workers");
    ASSERT_TRUE(link->Flush(5000));
    ZoBag bag(1, 0);
    for (const char* subject : {"a.b", "a.b.c", "b.a"})
        ASSERT_TRUE(link->Publish(subject, &bag, false));
    for (int i = 0; i < 40; i++)
        ASSERT_TRUE(link->Publish("work", &bag, false));
    ASSERT_TRUE(
        WaitUntil([&] { return many.Count() == 2 && first.Count() + second.Count() == 40; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(one.Count(), 1u);
    EXPECT_STREQ(ZoNatsLink::Subject(one.At(0)), "a.b");
    EXPECT_EQ(many.Count(), 2u);
    EXPECT_EQ(first.Count() + second.Count(), 40u);  // each job reached one member
}

// A looper that does not keep up: the box fills, then the client's pending
// queue, then messages are dropped and counted.
TEST_F(NatsTest, FloodsBeyondThePendingLimitsAreDroppedAndCounted) {
    ZoBag good(9, 0);
    Keeper slow;
    slow.hold = true;
    ZoNatsSubscription busy(link.get(), "busy", &slow);
    ASSERT_TRUE(busy.SetPendingLimits(16, 1 << 20));
    ASSERT_TRUE(link->Flush(5000));
    const size_t kFlood = 12000;
    for (size_t i = 0; i < kFlood; i++)
        link->Publish("busy", &good, false);
    ASSERT_TRUE(link->Flush(10000));
    EXPECT_TRUE(WaitUntil([&] { return busy.Dropped() > 0; }));
    slow.hold = false;
    EXPECT_TRUE(WaitUntil([&] { return slow.Count() + busy.Dropped() == kFlood; }));
}

// A token server and a TLS server that verifies clients (throwaway
// certificates beside the store): each refuses missing or wrong credentials
// and accepts the right ones.
TEST_F(NatsTest, CredentialsRefusedAndAccepted) {
    string d = server->store, ca = d + "/ca.pem", other = d + "/other.pem",
           cert = d + "/client.pem", key = d + "/client.key";
    bool tls = std::system(("'" NATS_CERTIFICATES "' " + d + " >/dev/null 2>&1").c_str()) == 0;
    NatsServer token({"--auth", "s3cret"}, false);
    NatsServer secure({"--tls", "--tlscert", d + "/server.pem", "--tlskey", d + "/server.key",
                       "--tlsverify", "--tlscacert", ca},
                      false);
    string tokenUrl = token.Url(), secureUrl = secure.Url();
    // Server, token, CA, client certificate and key, accepted.
    using Case =
        std::tuple<const string&, const char*, const char*, const char*, const char*, bool>;
    const Case cases[] = {
        {tokenUrl, nullptr, nullptr, nullptr, nullptr, false},
        {tokenUrl, "wrong", nullptr, nullptr, nullptr, false},
        {tokenUrl, "s3cret", nullptr, nullptr, nullptr, true},
        {secureUrl, nullptr, nullptr, nullptr, nullptr, false},     // plain text
        {secureUrl, nullptr, ca.c_str(), nullptr, nullptr, false},  // no client certificate
        {secureUrl, nullptr, other.c_str(), cert.c_str(), key.c_str(), false},  // untrusted
        {secureUrl, nullptr, ca.c_str(), cert.c_str(), key.c_str(), true}};
    for (const auto& [url, secret, caFile, certFile, keyFile, ok] : cases) {
        if (&url == &secureUrl && !tls) continue;  // no openssl: the token cases only
        ZoNatsOptions options;
        options.servers = url.c_str();
        options.maxReconnects = 0;
        options.token = secret;
        options.caFile = caFile;
        options.certFile = certFile;
        options.keyFile = keyFile;
        ZoNatsLink secured(options);
        EXPECT_EQ(secured.InitCheck(), ok) << secured.LastError();
        EXPECT_EQ(string(secured.LastError()).empty(), ok) << secured.LastError();
        EXPECT_EQ(secured.Flush(5000), ok);  // a round trip through the server
    }
}

TEST_F(NatsTest, DurableSubscriptionAcknowledgesOnlyHandledBags) {
    ASSERT_TRUE(link->AddStream("ORDERS", "orders.>")) << link->LastError();
    auto publish = [&](int from, int to) {
        for (int i = from; i < to; i++) {
            ZoBag bag(i, 0);
            ASSERT_TRUE(link->Publish("orders.new", &bag, i % 2 == 0));
        }
        ASSERT_TRUE(link->Flush(5000));
    };
    // Each round subscribes under one durable name. Round 0's bags reach the
    // looper only after its subscription ended: never acknowledged, they come
    // again in round 1. Round 1 handles them (and what was published while
    // nobody listened); round 2 gets only what came after it.
    publish(0, 5);
    std::vector<std::vector<uint32_t>> seen;
    const size_t expected[] = {5, 8, 5};
    for (int round = 0; round < 3; round++) {
        Keeper keeper;
        keeper.hold = round == 0;
        {
            ZoNatsSubscription sub(link.get(), "orders.>", &keeper, "ORDERS", "billing", 1000);
            ASSERT_TRUE(sub.InitCheck()) << sub.LastError();
            ASSERT_TRUE(WaitUntil([&] { return sub.Delivered() >= expected[round]; }));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // nothing more comes
        }
        keeper.hold = false;
        ASSERT_TRUE(WaitUntil([&] { return keeper.Count() >= expected[round]; }));
        seen.emplace_back();
        for (size_t i = 0; i < keeper.Count(); i++)
            seen.back().push_back(keeper.At(i)->what);
        std::sort(seen.back().begin(), seen.back().end());  // redeliveries come late
        if (round == 0) publish(5, 8);                      // while nobody listens
        if (round == 1) publish(8, 13);
    }
    using V = std::vector<uint32_t>;
    EXPECT_EQ(seen,
              (std::vector<V>{V{0, 1, 2, 3, 4}, V{0, 1, 2, 3, 4, 5, 6, 7}, V{8, 9, 10, 11, 12}}));
}

TEST_F(NatsTest, LooperKeepsHandlingWhenItsClusterNodeDies) {
    Strings routes;
    for (int i = 0; i < 3; i++)
        routes.push_back("nats://127.0.0.1:" + std::to_string(zotest::Loopback(0, true)));
    string all = routes[0] + "," + routes[1] + "," + routes[2], urls;
    std::vector<std::unique_ptr<NatsServer>> nodes;
    for (const string& route : routes) {
        nodes.push_back(std::make_unique<NatsServer>(
            Strings{"--cluster_name", "zolib", "--cluster", route, "--routes", all}, false));
        ASSERT_TRUE(nodes.back()->Running());
        urls += (urls.empty() ? "" : ",") + nodes.back()->Url();
    }
    ZoNatsOptions options;
    options.servers = urls.c_str();
    options.maxReconnects = -1;
    options.reconnectWait = 100;
    ZoNatsLink subscriber(options), publisher(nodes[2]->Url().c_str());
    ASSERT_TRUE(subscriber.InitCheck() && publisher.InitCheck());
    Keeper keeper;
    ZoNatsSubscription sub(&subscriber, "events", &keeper);
    // Publishes until one more bag arrived (routes and interest take a while
    // to spread through the cluster).
    auto arrives = [&] {
        size_t before = keeper.Count();
        return WaitUntil(
            [&] {
                ZoBag bag(1, 0);
                publisher.Publish("events", &bag, false);
                return WaitUntil([&] { return keeper.Count() > before; },
                                 std::chrono::milliseconds(50));
            },
            std::chrono::seconds(20));
    };
    ASSERT_TRUE(arrives());
    nodes[0]->Stop();  // the subscriber's node
    EXPECT_TRUE(arrives());
    EXPECT_GE(subscriber.Reconnects(), 1u);
}

// A registry member in its own process (nats_member): its pid once it has
// joined (-1 when it did not); killed and reaped by Kill() or at the latest
// with the object.
struct Member {
    Member(const string& url, const char* name)
        : out(popen(("exec " NATS_MEMBER " " + url + " apps 1500 " + name).c_str(), "r")) {
        if (out != nullptr && fscanf(out, "%d", &pid) != 1) pid = -1;
    }
    ~Member() { Kill(); }
    void Kill() {
        if (pid > 0) kill(pid, SIGKILL);
        if (out != nullptr) pclose(out);
        out = nullptr;
    }
    FILE* out;
    int pid = -1;
};

TEST_F(NatsTest, RegistryAcrossProcessesJoinsLeavesAndExpires) {
    ZoNatsRegistry registry(link.get(), "apps", 1500);
    Keeper watcher;
    ASSERT_TRUE(registry.InitCheck() && registry.Watch(&watcher) && registry.Join("parent"))
        << registry.LastError();
    EXPECT_FALSE(registry.Join("again"));
    Member crashing(server->Url(), "crashing"), staying(server->Url(), "staying");
    ASSERT_TRUE(crashing.pid > 0 && staying.pid > 0);
    auto members = [&] {
        std::unique_ptr<ZoBag> all(registry.List());
        return all != nullptr ? all->CountItem("pid") : -1;
    };
    EXPECT_EQ(members(), 3);
    std::unique_ptr<ZoBag> found(registry.Find("crashing"));
    int pid = 0;
    ASSERT_TRUE(found && found->Getint32("pid", &pid, 1));
    EXPECT_EQ(pid, crashing.pid);
    // A member killed without leaving expires within two TTLs (and a bit);
    // the living one, refreshed meanwhile, stays.
    crashing.Kill();
    EXPECT_TRUE(
        WaitUntil([&] { return std::unique_ptr<ZoBag>(registry.Find("crashing")) == nullptr; },
                  std::chrono::seconds(5)));
    EXPECT_EQ(members(), 2);
    ASSERT_TRUE(WaitUntil([&] { return watcher.Count() == 4; }));  // the watch saw it too
    ASSERT_TRUE(registry.Leave());
    EXPECT_EQ(std::unique_ptr<ZoBag>(registry.Find("parent")), nullptr);
    staying.Kill();
    // The watch saw three joins, then the crash and the leave.
    ASSERT_TRUE(WaitUntil([&] { return watcher.Count() >= 5; }));
    Strings events;
    for (size_t i = 0; i < 5; i++) {
        char* name = nullptr;
        watcher.At(i)->Getstring("name", &name, 1);
        events.push_back(string(watcher.At(i)->what == ZO_NATS_JOINED ? "+" : "-") + name);
    }
    std::sort(events.begin(), events.begin() + 3);
    EXPECT_EQ(events, (Strings{"+crashing", "+parent", "+staying", "-crashing", "-parent"}));
}

}  // namespace

// Where a subscription's payloads become bags: on the delivery thread for a
// plain looper, on the looper's own thread for a ZoNatsLooper. Either way a
// bad payload is counted and never handled; a durable bag is acknowledged
// after its handler even when detached, and Empty() releases it for later.
#include <gtest/gtest.h>
#include <nats/nats.h>
#include <zolib/nats/NatsSubscription.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "nats/NatsServer.h"
#include "support/Bytes.h"
#include "support/Wait.h"

namespace {

using zotest::WaitUntil;

// Sums the codes of the bags it handles (1000 for one without its subject)
// and detaches them.
template <class Base>
struct Sink : Base {
    Sink() : Base("sink", 0) {}
    ~Sink() override { this->Halt(); }
    void MessageReceived(ZoBag* bag) override {
        std::unique_ptr<ZoBag> kept(bag);
        this->DetachCurrentMessage();
        codes += ZoNatsLink::Subject(bag) != nullptr ? bag->what : 1000;
    }
    std::atomic<unsigned long> codes{0};
};

template <class Base>
void BadPayloadsAreCountedNeverHandled(const std::string& url, uint64_t delivered) {
    Sink<Base> sink;
    sink.Run();
    ZoNatsLink link(url.c_str());
    ZoNatsSubscription sub(&link, "in", &sink);
    ASSERT_TRUE(sub.InitCheck() && link.Flush(5000)) << sub.LastError();
    ZoBag good(9, 0);
    std::string plain = zotest::Plain(good), zipped = zotest::Compressed(good);
    natsConnection* raw = nullptr;
    ASSERT_EQ(natsConnection_ConnectTo(&raw, url.c_str()), NATS_OK);
    for (const std::string& bad : {std::string("BaG"), plain + "x", zipped.substr(0, 20)})
        natsConnection_Publish(raw, "in", bad.data(), static_cast<int>(bad.size()));
    natsConnection_Destroy(raw);
    ASSERT_TRUE(link.Publish("in", &good, true));
    EXPECT_TRUE(WaitUntil([&] { return sub.Malformed() == 3 && sink.codes == 9; }));
    EXPECT_EQ(sub.Delivered(), delivered);
}

struct NatsDecode : ::testing::Test {
    void SetUp() override {
        if (zotest::NatsServerProgram().empty())
            GTEST_SKIP() << "nats-server is not installed (Debian package nats-server)";
    }
};

TEST_F(NatsDecode, BadPayloadsAreCountedNeverHandled) {
    zotest::NatsServer server({}, false);
    BadPayloadsAreCountedNeverHandled<ZoLooper>(server.Url(), 1);      // bags posted
    BadPayloadsAreCountedNeverHandled<ZoNatsLooper>(server.Url(), 4);  // messages posted
}

TEST_F(NatsDecode, DurableBagsAckedWhenHandledReleasedByEmpty) {
    zotest::NatsServer server;
    ZoNatsLink link(server.Url().c_str());
    ASSERT_TRUE(link.AddStream("JOBS", "jobs")) << link.LastError();
    // Each step subscribes under one durable name: bags emptied from a looper
    // that never ran come again; bags handled (and detached) do not.
    struct Step {
        unsigned long publish;  // a bag with this code
        bool run;
        unsigned long codes;                                  // handled in this step
    } steps[] = {{1, false, 0}, {2, true, 3}, {4, true, 4}};  // 1 and 2 acknowledged
    for (const Step& s : steps) {
        SCOPED_TRACE(s.publish);
        Sink<ZoNatsLooper> sink;
        if (s.run) sink.Run();
        ZoNatsSubscription sub(&link, "jobs", &sink, "JOBS", "worker", 500);
        ASSERT_TRUE(sub.InitCheck()) << sub.LastError();
        ZoBag bag(s.publish, 0);
        ASSERT_TRUE(link.Publish("jobs", &bag, false) && link.Flush(5000));
        if (!s.run) {
            ASSERT_TRUE(WaitUntil([&] { return sub.Delivered() == 1; }));
            sink.Empty();
            continue;
        }
        EXPECT_TRUE(WaitUntil([&] { return sink.codes == s.codes; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(700));  // past the ack wait
        EXPECT_EQ(sink.codes, s.codes);
    }
}

}  // namespace

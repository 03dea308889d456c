// ZoNatsLink: a connection to a NATS server or cluster that carries bags.
//
// Bags travel as their flat form, one bag per NATS message: plain, or
// compressed when the caller asks (as channels send them). Any subscriber
// tells the two apart from the flag byte. The connection is made by the
// constructor and kept up by the client library, which reconnects after a
// server restart or a node's loss as the options say; messages published
// while it is down are buffered by the client up to its reconnect buffer.
//
// Delivery: a plain subject gives at most once delivery: a bag published
// while no subscriber listens, or dropped by a slow subscriber's pending
// limits, is gone. Durable subscriptions (ZoNatsSubscription, JetStream)
// give at least once delivery.
//
// Received bags: a subscription (NatsSubscription.h) unflattens every NATS
// message into a new bag and posts it to a looper; before posting it sets
// the item "_nats.subject" (T_STRING) to the subject the message came on and,
// when the sender waits for an answer, "_nats.reply" to its reply subject
// (items of those names that travelled in the bag are replaced). Subject()
// and ReplySubject() read them; Reply() answers such a bag.
//
// Ownership: the link never keeps a caller's bag; Request() returns a new bag
// owned by the caller. Threads: every member may be called from any thread.
// Blocking: the constructor waits up to the connect time-out, Request() up to
// its time-out, Flush() up to its own; Publish() only copies into the
// client's buffer. Failure: false or null, and LastError() tells why. The
// link never throws and writes nothing anywhere.
#pragma once

#include <zolib/Export.h>
#include <zolib/bag/Bag.h>

#include <cstdint>

// How to reach the servers. Null texts mean "not used".
struct ZoNatsOptions {
    // One URL or several separated by commas ("nats://a:4222,nats://b:4222");
    // null: nats://127.0.0.1:4222.
    const char* servers = nullptr;
    const char* name = nullptr;  // the connection's name, shown by the server
    int maxReconnects = 60;      // attempts after a loss; -1: for ever, 0: none
    long reconnectWait = 1000;   // milliseconds between attempts on one server
    long connectTimeOut = 2000;  // milliseconds for each connection attempt
    const char* user = nullptr;  // user/password authentication
    const char* password = nullptr;
    const char* token = nullptr;  // token authentication
    // TLS: the CA that signed the servers' certificates (its presence turns
    // TLS on), and the client's certificate chain and key when the servers
    // verify clients.
    const char* caFile = nullptr;
    const char* certFile = nullptr;
    const char* keyFile = nullptr;
};

class ZOLIB_API ZoNatsLink {
  public:
    // Connects to `servers` (as ZoNatsOptions::servers) with default options.
    explicit ZoNatsLink(const char* servers);
    explicit ZoNatsLink(const ZoNatsOptions& options);
    // Closes the connection. Subscriptions and registries made on the link
    // must be destroyed first.
    ~ZoNatsLink();
    ZoNatsLink(const ZoNatsLink&) = delete;
    ZoNatsLink& operator=(const ZoNatsLink&) = delete;

    // True when the constructor connected (reconnecting later keeps it true).
    bool InitCheck();
    // True while connected now (false while reconnecting).
    bool IsConnected();
    // Times the client reconnected since the link was made.
    unsigned long Reconnects();
    // The reason for the last failure of any call on this link ("" when
    // none). The text is a copy kept for the calling thread, valid until its
    // next call of LastError().
    const char* LastError();

    // Publishes the bag's flat form (compressed when `zip`) on `subject`.
    // The bag stays the caller's and unchanged.
    bool Publish(const char* subject, ZoBag* bag, bool zip);
    // Sends the bag and waits up to `timeOut` milliseconds for one answer,
    // which must be a flat bag. Returns the new answer bag (the caller owns
    // it), or null on time-out, failure or an answer that is not a bag.
    ZoBag* Request(const char* subject, ZoBag* bag, long timeOut, bool zip);
    // Publishes `answer` on the reply subject of `received`, a bag delivered
    // by a subscription. False when it carries no reply subject.
    bool Reply(ZoBag* received, ZoBag* answer, bool zip);
    // Waits until the server has seen everything published so far.
    bool Flush(long timeOut);

    // Makes sure a JetStream stream named `stream` stores the messages of
    // `subjects` (comma-separated, wildcards allowed) in files; an existing
    // stream of that name is kept as it is. Needed before a durable
    // subscription or a publish that must be kept.
    bool AddStream(const char* stream, const char* subjects);

    // The subject a received bag came on, or null (a pointer into the bag).
    static const char* Subject(ZoBag* received);
    // The subject to answer a received bag on, or null when none was asked.
    static const char* ReplySubject(ZoBag* received);

    struct State;  // the implementation's

  private:
    friend class ZoNatsSubscription;
    friend class ZoNatsRegistry;
    State* state;  // owned
};

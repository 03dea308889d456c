// Bags across machines: this process and a second one exchange bags through
// a NATS server and find each other in the registry that spans hosts.
#include <zolib/nats/NatsLink.h>
#include <zolib/nats/NatsRegistry.h>
#include <zolib/nats/NatsSubscription.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "Tour.h"

namespace {

constexpr long kTtl = 3000;  // registry entries of a dead process go within 2 x this

// Polls `found` every 50 ms for at most `ms` milliseconds.
template <typename F>
bool WaitFor(F found, int ms) {
    for (int waited = 0; !found(); waited += 50) {
        if (waited >= ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// The peer's looper: answers greetings, stops on "zodemo.bye".
class Peer : public ZoLooper {
  public:
    explicit Peer(ZoNatsLink* answering) : ZoLooper("peer", 0), link(answering) {}
    ~Peer() override { Halt(); }
    void MessageReceived(ZoBag* bag) override {
        const char* subject = ZoNatsLink::Subject(bag);
        if (subject != nullptr && strcmp(subject, "zodemo.bye") == 0) {
            Stop();
            return;
        }
        char* text = nullptr;
        bag->Getstring("text", &text, 1);
        ZoBag answer(0, 0);
        std::string reply = std::string("pid ") + std::to_string(getpid()) + " got \"" +
                            (text != nullptr ? text : "") + "\"";
        answer.Setstring("text", reply.c_str(), 1);
        link->Reply(bag, &answer, true);
    }
    ZoNatsLink* link;
};

}  // namespace

int NatsPeer(const char* url) {
    ZoNatsLink link(url);
    ZoNatsRegistry registry(&link, "zodemo", kTtl);
    if (!link.InitCheck() || !registry.InitCheck()) return 1;
    Peer peer(&link);
    {
        ZoNatsSubscription sub(&link, "zodemo.>", &peer);
        if (!sub.InitCheck() || !link.Flush(5000) || !peer.Run() || !registry.Join("zodemo-peer"))
            return 1;
        // Ends on "zodemo.bye"; gives up after 20 s.
        WaitFor([&] { return peer.IsStopped(); }, 20000);
    }
    registry.Leave();
    return 0;
}

bool TourNats(Narrator& narrator, const char* program) {
    narrator.Heading("Two processes exchange bags through a NATS server");
    const char* url = getenv("NATS_URL");
    if (url == nullptr || *url == '\0') {
        narrator.Say("main", "no server given (NATS_URL): scripts/demo.sh starts a private one");
        return true;
    }
    ZoNatsLink link(url);
    ZoNatsRegistry registry(&link, "zodemo", kTtl);
    if (!link.InitCheck() || !registry.InitCheck() || !registry.Join("zodemo")) {
        narrator.Say("main", "cannot reach %s: %s", url, link.LastError());
        return false;
    }
    narrator.Say("main", "connected to %s and joined the registry as \"zodemo\"", url);

    // The second process: this program again, as the peer.
    pid_t peer = -1;
    char* argv[] = {const_cast<char*>(program), const_cast<char*>("--nats-peer"),
                    const_cast<char*>(url), nullptr};
    if (posix_spawn(&peer, program, nullptr, nullptr, argv, environ) != 0) {
        narrator.Say("main", "cannot start the peer process");
        return false;
    }
    std::unique_ptr<ZoBag> found;
    bool ok = WaitFor([&] { return (found.reset(registry.Find("zodemo-peer")), found != nullptr); },
                      10000);
    if (ok) {
        int pid = 0;
        char* host = nullptr;
        found->Getint32("pid", &pid, 1);
        found->Getstring("host", &host, 1);
        narrator.Say("main", "found \"zodemo-peer\" in the registry: pid %d%s", pid,
                     pid == peer ? " (the process just started)" : "");
        std::unique_ptr<ZoBag> all(registry.List());
        narrator.Say("main", "the registry lists %d members on %s", all ? all->CountItem("pid") : 0,
                     host);

        ZoBag hello(0, 0);
        hello.Setstring("text", "hello", 1);
        std::unique_ptr<ZoBag> answer(link.Request("zodemo.greet", &hello, 5000, false));
        char* text = nullptr;
        ok = answer != nullptr && answer->Getstring("text", &text, 1);
        if (ok)
            narrator.Say("main", "asked the peer, it answered: %s", text);
        else
            narrator.Say("main", "the peer did not answer: %s", link.LastError());
    } else {
        narrator.Say("main", "the peer did not show up in the registry");
    }
    ZoBag bye(0, 0);
    link.Publish("zodemo.bye", &bye, false);
    link.Flush(2000);
    int status = 0;
    bool ended = WaitFor([&] { return waitpid(peer, &status, WNOHANG) == peer; }, 10000);
    if (!ended) {
        kill(peer, SIGKILL);
        waitpid(peer, &status, 0);
    }
    ok = ok && ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    bool gone = std::unique_ptr<ZoBag>(registry.Find("zodemo-peer")) == nullptr;
    narrator.Say("main", "the peer %s",
                 gone ? "ended and left the registry" : "is still registered");
    registry.Leave();
    return ok && gone;
}

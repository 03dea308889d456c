// zobag pub and zobag sub: bags on a live NATS system. Built only with the
// NATS component; Main.cpp hands these two commands over whole.
#include <zolib/nats/NatsLink.h>
#include <zolib/nats/NatsSubscription.h>

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"

namespace {

using std::string;

const char kPubHelp[] =
    "Usage: zobag pub [OPTIONS] SUBJECT FILE\n\n"
    "Publishes the bag in FILE (any form zobag reads; \"-\" is standard input) on\n"
    "SUBJECT, as its plain flat form, and waits until the server has it.\n"
    "\nOptions:\n"
    "  --server URL  the server (default: $NATS_URL, else nats://127.0.0.1:4222)\n"
    "  --zip         publish the compressed flat form\n"
    "  -h, --help    show this help\n";
const char kSubHelp[] =
    "Usage: zobag sub [OPTIONS] SUBJECT\n\n"
    "Prints every bag that arrives on SUBJECT (wildcards * and > allowed) until\n"
    "interrupted: a line \"--- SUBJECT\", then the bag as 'zobag print' shows it.\n"
    "Messages that are not bags are counted and reported on standard error.\n"
    "\nOptions:\n"
    "  --server URL  the server (default: $NATS_URL, else nats://127.0.0.1:4222)\n"
    "  --count N     stop after N bags\n"
    "  -h, --help    show this help\n";

// Prints each bag on the looper's thread; the main thread waits for a signal
// or for the count.
class Printer : public ZoLooper {
  public:
    Printer(long limit, pid_t self) : ZoLooper("zobag sub", 0), left(limit), process(self) {}
    ~Printer() override { Halt(); }
    void MessageReceived(ZoBag* bag) override {
        const char* subject = ZoNatsLink::Subject(bag);
        printf("--- %s\n", subject != nullptr ? subject : "");
        bag->RemoveItem("_nats.subject", 0);
        bag->RemoveItem("_nats.reply", 0);
        bag->PrintToStream();
        fflush(stdout);
        if (left > 0 && --left == 0) kill(process, SIGTERM);
    }

  private:
    long left;
    pid_t process;
};

}  // namespace

int RunNats(int argc, char** argv) {
    string command = argv[1];
    bool pub = command == "pub";
    std::vector<string> operands;
    string server;
    bool zip = false;
    long count = 0;
    for (int i = 2; i < argc; i++) {
        string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            printf("%s", pub ? kPubHelp : kSubHelp);
            return kExitOk;
        } else if (arg == "--server" && i + 1 < argc) {
            server = argv[++i];
        } else if (arg == "--zip" && pub) {
            zip = true;
        } else if (arg == "--count" && !pub && i + 1 < argc) {
            char* end = nullptr;
            count = strtol(argv[++i], &end, 10);
            if (*end != '\0' || count <= 0)
                return Misused(command, "--count needs a positive number");
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return Misused(command, "unknown option '" + arg + "'");
        } else {
            operands.push_back(arg);
        }
    }
    if (operands.size() != (pub ? 2u : 1u))
        return Misused(command, pub ? "expected SUBJECT FILE" : "expected SUBJECT");
    if (server.empty())
        server = getenv("NATS_URL") != nullptr ? getenv("NATS_URL") : "nats://127.0.0.1:4222";

    if (pub) {
        string error;
        std::unique_ptr<ZoBag> bag(LoadBag(operands[1], &error));
        if (bag == nullptr)
            return Failed(operands[1] == "-" ? "standard input" : operands[1], error);
        ZoNatsOptions options;
        options.servers = server.c_str();
        options.maxReconnects = 0;
        ZoNatsLink link(options);
        if (!link.InitCheck()) return Failed(server, link.LastError());
        if (!link.Publish(operands[0].c_str(), bag.get(), zip) || !link.Flush(5000))
            return Failed(server, link.LastError());
        return kExitOk;
    }

    // The signals are taken by sigwait below; every thread made from here on
    // inherits the mask.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    ZoNatsOptions options;
    options.servers = server.c_str();
    options.maxReconnects = -1;
    ZoNatsLink link(options);
    if (!link.InitCheck()) return Failed(server, link.LastError());
    Printer printer(count, getpid());
    ZoNatsSubscription sub(&link, operands[0].c_str(), &printer);
    if (!sub.InitCheck()) return Failed(server, sub.LastError());
    printer.Run();
    int signal = 0;
    sigwait(&stop, &signal);
    if (sub.Malformed() > 0)
        fprintf(stderr, "zobag: %llu messages were not bags\n",
                static_cast<unsigned long long>(sub.Malformed()));
    return kExitOk;
}

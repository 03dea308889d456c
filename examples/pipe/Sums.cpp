// Two processes exchange bags through pipes.
//
// A pipe made before fork() joins the two processes: both hold both of its
// ends. Whatever either writes, either can read, so each direction gets its
// own pipe: the parent writes requests, the child writes replies. A bag
// travels as its compressed flat form, one bag per write, and the receiver
// builds a new bag from it.
//
// The child adds up the numbers of each request and replies with the sum.
// Both sides wait through a multiplexer with a time-out, so neither waits
// for ever if the other one dies.
//
//   c++ -std=c++17 Sums.cpp $(pkg-config --cflags --libs zolib)
#include <zolib/ZoLib.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>

namespace {

enum : uint32_t { MSG_SUM_UP = 1, MSG_SUM = 2, MSG_QUIT = 3 };

constexpr unsigned int kBufferSize = 4096;  // the largest bag either side sends
constexpr long kWaitMs = 2000;

// Waits for one bag on `from`; null after the time-out or on a broken message.
// The multiplexer lends `from` its buffer, into which the bag is read.
ZoBag* Next(ZoMultiplexer& waiter, ZoPipe& from) {
    if (waiter.Listen() <= 0) return nullptr;
    ZoBag* bag = nullptr;
    return from.Receive(&bag) ? bag : nullptr;
}

int Child(ZoPipe& requests, ZoPipe& replies) {
    ZoMultiplexer waiter(kBufferSize);
    waiter.Connect(&requests);
    waiter.SetTimeOut(kWaitMs);
    replies.SetBuffer(kBufferSize);  // Send flattens into the channel's buffer

    for (;;) {
        std::unique_ptr<ZoBag> request(Next(waiter, requests));
        if (request == nullptr) return 1;
        if (request->what == MSG_QUIT) return 0;

        long long sum = 0;
        int count = request->CountItem("n");
        for (int i = 1; i <= count; i++) {
            int n = 0;
            request->Getint32("n", &n, i);
            sum += n;
        }
        ZoBag reply(MSG_SUM);
        reply.Setint32("count", count, 0);
        reply.Setint64("sum", sum, 0);
        if (!replies.Send(&reply, nullptr)) return 1;
    }
}

}  // namespace

int main() {
    ZoPipe requests(1);  // the tag is the application's; the library ignores it
    ZoPipe replies(2);
    if (!requests.InitCheck() || !replies.InitCheck()) return 1;

    // Output still buffered at fork() would be printed by both processes.
    std::fflush(stdout);
    pid_t child = fork();
    if (child < 0) return 1;
    if (child == 0) return Child(requests, replies);

    ZoMultiplexer waiter(kBufferSize);
    waiter.Connect(&replies);
    waiter.SetTimeOut(kWaitMs);
    requests.SetBuffer(kBufferSize);

    bool ok = true;
    const int lists[][4] = {{1, 2, 3, 4}, {10, 20, 30, 40}};
    for (const auto& list : lists) {
        ZoBag request(MSG_SUM_UP);
        for (int n : list)
            request.Setint32("n", n, 0);
        ok = requests.Send(&request, nullptr);

        std::unique_ptr<ZoBag> reply(ok ? Next(waiter, replies) : nullptr);
        int count = 0;
        long long sum = 0;
        ok = reply != nullptr && reply->what == MSG_SUM && reply->Getint32("count", &count, 1) &&
             reply->Getint64("sum", &sum, 1);
        if (!ok) break;
        std::printf("parent: the child added %d numbers from %d to %d: %lld\n", count, list[0],
                    list[3], sum);
    }

    // A bag with no items still carries its message code.
    ZoBag quit(MSG_QUIT);
    requests.Send(&quit, nullptr);
    int status = 0;
    waitpid(child, &status, 0);
    bool childOk = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::printf("parent: the child %s\n", childOk ? "ended cleanly" : "FAILED");
    return ok && childOk ? 0 : 1;
}

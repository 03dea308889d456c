// Two processes exchange bags through a private NATS server and find each
// other in the registry that spans hosts.
//
// The example starts nats-server itself on a free loopback port (JetStream on,
// stored in a temporary directory, for the registry's bucket), forks a worker
// process, and then asks the worker, found by name in the registry, to add
// numbers. The worker's looper gets each request as a bag on its own thread
// and answers it with a bag. Everything is stopped and removed at the end.
// Usage: zoexample_nats [NATS-SERVER-PROGRAM]
#include <zolib/nats/NatsLink.h>
#include <zolib/nats/NatsRegistry.h>
#include <zolib/nats/NatsSubscription.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

// Polls `done` every 20 ms for at most `ms` milliseconds.
template <typename F>
bool WaitFor(F done, int ms) {
    for (int waited = 0; !done(); waited += 20) {
        if (waited >= ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool Connects(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// Starts nats-server on a free loopback port; its pid, or -1.
pid_t StartServer(const char* program, const std::string& store, int* port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    *port = ntohs(address.sin_port);
    close(fd);
    std::string p = std::to_string(*port);
    pid_t pid = fork();
    if (pid == 0) {
        if (freopen("/dev/null", "w", stderr) == nullptr) _exit(127);
        execl(program, program, "-a", "127.0.0.1", "-p", p.c_str(), "-js", "-sd", store.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid > 0 &&
        WaitFor([&] { return Connects(*port) || waitpid(pid, nullptr, WNOHANG) == pid; }, 10000) &&
        Connects(*port))
        return pid;
    if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    return -1;
}

// The worker's looper: answers {"a", "b"} with {"sum"}; stops on "adder.stop".
class Adder : public ZoLooper {
  public:
    explicit Adder(ZoNatsLink* answering) : ZoLooper("adder", 0), link(answering) {}
    ~Adder() override { Halt(); }
    void MessageReceived(ZoBag* request) override {
        const char* subject = ZoNatsLink::Subject(request);
        if (subject != nullptr && strcmp(subject, "adder.stop") == 0) {
            Stop();
            return;
        }
        int a = 0, b = 0;
        request->Getint32("a", &a, 1);
        request->Getint32("b", &b, 1);
        ZoBag answer(0, 0);
        answer.Setint32("sum", a + b, 1);
        link->Reply(request, &answer, false);
    }
    ZoNatsLink* link;
};

int Worker(const std::string& url) {
    ZoNatsLink link(url.c_str());
    ZoNatsRegistry registry(&link, "examples", 2000);
    Adder adder(&link);
    ZoNatsSubscription sub(&link, "adder.*", &adder);
    if (!sub.InitCheck() || !registry.InitCheck() || !link.Flush(5000) || !adder.Run() ||
        !registry.Join("adder"))
        return 1;
    WaitFor([&] { return adder.IsStopped(); }, 20000);
    return registry.Leave() ? 0 : 1;
}

int Client(const std::string& url, pid_t worker) {
    ZoNatsLink link(url.c_str());
    ZoNatsRegistry registry(&link, "examples", 2000);
    if (!link.InitCheck() || !registry.InitCheck()) {
        printf("cannot use the server: %s %s\n", link.LastError(), registry.LastError());
        return 1;
    }
    std::unique_ptr<ZoBag> found;
    if (!WaitFor([&] { return (found.reset(registry.Find("adder")), found != nullptr); }, 10000)) {
        printf("the worker never joined the registry\n");
        return 1;
    }
    int pid = 0;
    char* host = nullptr;
    found->Getint32("pid", &pid, 1);
    found->Getstring("host", &host, 1);
    printf("found \"adder\" in the registry: pid %d on %s%s\n", pid, host,
           pid == worker ? " (the worker process)" : "");
    int bad = 0;
    for (int i = 1; i <= 3; i++) {
        ZoBag question(0, 0);
        question.Setint32("a", i, 1);
        question.Setint32("b", 10 * i, 1);
        std::unique_ptr<ZoBag> answer(link.Request("adder.add", &question, 5000, false));
        int sum = -1;
        if (answer == nullptr || !answer->Getint32("sum", &sum, 1) || sum != 11 * i) bad++;
        printf("%d + %d = %d\n", i, 10 * i, sum);
    }
    ZoBag stop(0, 0);
    link.Publish("adder.stop", &stop, false);
    link.Flush(5000);
    return bad == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* program = argc > 1 ? argv[1] : "/usr/sbin/nats-server";
    if (access(program, X_OK) != 0) {
        printf("skipped: %s is not installed (Debian package nats-server)\n", program);
        return 0;
    }
    char dir[] = "/tmp/zoexample-nats-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    int port = 0;
    pid_t server = StartServer(program, dir, &port);
    int status = 1;
    if (server > 0) {
        std::string url = "nats://127.0.0.1:" + std::to_string(port);
        printf("private server at %s\n", url.c_str());
        fflush(stdout);
        // The worker is forked before this process makes any connection.
        pid_t worker = fork();
        if (worker == 0) _exit(Worker(url));
        status = Client(url, worker);
        int workerStatus = 1;
        if (!WaitFor([&] { return waitpid(worker, &workerStatus, WNOHANG) == worker; }, 10000)) {
            kill(worker, SIGKILL);
            waitpid(worker, &workerStatus, 0);
        }
        if (!WIFEXITED(workerStatus) || WEXITSTATUS(workerStatus) != 0) status = 1;
        printf("the worker %s\n", status == 0 ? "left the registry and ended" : "failed");
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    std::system((std::string("rm -rf '") + dir + "'").c_str());
    return status;
}

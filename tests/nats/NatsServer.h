// A private nats-server for the tests and benchmarks: started on 127.0.0.1
// on a free port, waited for until it accepts connections, and killed (its
// JetStream store removed) with the object, or with the thread that made it
// (a test killed for its time-out included). Make it on the test's thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace zotest {

using Strings = std::vector<std::string>;

// The server program, or "" when it is not installed.
inline std::string NatsServerProgram() {
    for (const char* path : {"/usr/sbin/nats-server", "/usr/bin/nats-server"})
        if (access(path, X_OK) == 0) return path;
    return "";
}

// Binds 127.0.0.1 port 0 (bind: a port that was free a moment ago) or
// connects to 127.0.0.1:port; the port, or -1.
inline int Loopback(int port, bool bind) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t size = sizeof address;
    auto* a = reinterpret_cast<sockaddr*>(&address);
    bool ok = bind ? ::bind(fd, a, size) == 0 && getsockname(fd, a, &size) == 0
                   : connect(fd, a, size) == 0;
    close(fd);
    return ok ? ntohs(address.sin_port) : -1;
}

// A private nats-server on 127.0.0.1 and a free port, with `extra` arguments
// (authentication, TLS, cluster routes) and JetStream storing into a
// temporary directory; killed, and its directory removed, with the object.
struct NatsServer {
    explicit NatsServer(Strings extra = {}, bool jetStream = true) : port(Loopback(0, true)) {
        char dir[] = "/tmp/zolib-nats-XXXXXX";
        store = mkdtemp(dir) != nullptr ? dir : "/nonexistent";
        Strings all = {NatsServerProgram(),  "-a", "127.0.0.1", "-p",
                       std::to_string(port), "-l", "/dev/null"};
        all.insert(all.end(), extra.begin(), extra.end());
        if (jetStream) all.insert(all.end(), {"-js", "-sd", store});
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        if (port > 0 && (pid = fork()) == 0) {
            // A test killed for its time-out must not leave its server behind.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            execv(argv[0], argv.data());
            _exit(127);
        }
        for (int i = 0; i < 400 && pid > 0 && !Running(); i++) {  // at most 20 s
            if (waitpid(pid, nullptr, WNOHANG) == pid) pid = -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~NatsServer() {
        Stop();
        std::filesystem::remove_all(store);
    }
    void Stop() {  // a node's death, as abrupt as it comes
        if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
        pid = -1;
    }
    bool Running() const { return pid > 0 && Loopback(port, false) == port; }
    std::string Url() const { return "nats://127.0.0.1:" + std::to_string(port); }

    int port;
    std::string store;
    pid_t pid = -1;
};

}  // namespace zotest

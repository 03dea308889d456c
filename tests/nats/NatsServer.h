// A private nats-server for the tests: started on 127.0.0.1 on a free port,
// with JetStream storing into a temporary directory, waited for until it
// accepts connections, and stopped (and its directory removed) with the
// object. Restart() keeps the port and the store.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace zotest {

// The server program, or "" when it is not installed.
inline std::string NatsServerProgram() {
    for (const char* path : {"/usr/sbin/nats-server", "/usr/bin/nats-server"})
        if (access(path, X_OK) == 0) return path;
    return "";
}

// Binds (bind = true: to port 0, giving a port that was free a moment ago)
// or connects to 127.0.0.1:port; the port, or -1.
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

inline int FreePort() {
    return Loopback(0, true);
}

class NatsServer {
  public:
    // `extra` are further command-line arguments (authentication, TLS,
    // cluster routes); `jetStream` turns the store on.
    explicit NatsServer(std::vector<std::string> extra = {}, bool jetStream = true)
        : args(std::move(extra)), port(FreePort()) {
        char dir[] = "/tmp/zolib-nats-XXXXXX";
        if (mkdtemp(dir) != nullptr) store = dir;
        if (jetStream) args.insert(args.end(), {"-js", "-sd", store});
        Start();
    }
    ~NatsServer() {
        Stop();
        if (!store.empty()) std::filesystem::remove_all(store);
    }

    bool Running() const { return pid > 0; }
    std::string Url() const { return "nats://127.0.0.1:" + std::to_string(port); }

    // Starts the program and waits (at most 20 s) until it accepts.
    bool Start() {
        std::vector<std::string> all = {NatsServerProgram(), "-a", "127.0.0.1", "-p",
                                        std::to_string(port)};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        if (all[0].empty() || port <= 0 || (pid = fork()) < 0) return false;
        if (pid == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        for (int i = 0; i < 400; i++) {
            if (Loopback(port, false) == port) return true;
            if (waitpid(pid, nullptr, WNOHANG) == pid) pid = -1;
            if (pid < 0) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        Stop();
        return false;
    }
    // Stops the program and waits for it (killed after 10 s).
    void Stop() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        int i = 0;
        while (waitpid(pid, nullptr, WNOHANG) == 0 && ++i < 200)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (i == 200 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
        pid = -1;
    }
    bool Restart() {
        Stop();
        return Start();
    }

    std::vector<std::string> args;
    int port;
    std::string store;
    pid_t pid = -1;
};

}  // namespace zotest

// Skips the test, saying why, when the server program is missing.
#define ZO_NEED_NATS_SERVER()                                                            \
    do {                                                                                 \
        if (zotest::NatsServerProgram().empty())                                         \
            GTEST_SKIP() << "nats-server is not installed (Debian package nats-server)"; \
    } while (0)

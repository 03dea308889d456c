// Helpers for tests that run part of their work in child processes.
//
// A child runs its body and _exits with the body's result (0 = success): it
// never returns into the test framework, so it runs no gtest assertions and
// no static destructors. Every wait is bounded, so a broken child makes a test fail
// instead of hanging it; a Watchdog bounds the waits of the test process
// itself (locks taken in the parent).
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace child {

constexpr int kWaitMs = 20000;

// Runs `body` in a new child process. Returns its pid (-1 if fork failed).
inline pid_t Spawn(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

// Waits at most `ms` for the child to end. Returns its exit code, 128 + the
// signal that ended it, or -1 when it did not end in time (it is then killed
// and reaped) or cannot be waited for.
inline int Reap(pid_t pid, int ms = kWaitMs) {
    if (pid <= 0) return -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0) return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// A pipe carrying one-byte notes between processes. Create it before the
// fork; both sides then hold both ends.
class Note {
  public:
    Note() {
        if (pipe(fd) != 0) fd[0] = fd[1] = -1;
    }
    ~Note() {
        if (fd[0] >= 0) close(fd[0]);
        if (fd[1] >= 0) close(fd[1]);
    }
    Note(const Note&) = delete;
    Note& operator=(const Note&) = delete;

    void Post(char c = '.') { (void)!write(fd[1], &c, 1); }
    // Waits at most `ms` for one byte; true when one arrived.
    bool Wait(int ms = kWaitMs) {
        pollfd p{fd[0], POLLIN, 0};
        char c;
        return poll(&p, 1, ms) == 1 && read(fd[0], &c, 1) == 1;
    }
    // Waits for `n` bytes, each within `ms`.
    bool Wait(int n, int ms) {
        for (int i = 0; i < n; i++)
            if (!Wait(ms)) return false;
        return true;
    }

  private:
    int fd[2];
};

// Ends the whole test process with SIGALRM if it is still running after
// `seconds`: a lock that never comes back fails the test instead of hanging
// it. Children do not inherit the alarm.
class Watchdog {
  public:
    explicit Watchdog(unsigned seconds = 90) { alarm(seconds); }
    ~Watchdog() { alarm(0); }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
};

// A shm name no other test process uses.
inline std::string UniqueName(const char* tag) {
    return "/zotest." + std::to_string(getpid()) + "." + tag;
}

}  // namespace child

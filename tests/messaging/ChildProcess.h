// Helpers for tests that run part of their work in child processes.
//
// A child runs its body and _exits with the body's result (0 = success): it
// never returns into the test framework, so it runs no gtest assertions and
// no static destructors. Every wait is bounded, so a broken child makes a
// test fail instead of hanging it.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace child {

constexpr int kWaitMs = 20000;

// Runs `body` in a new child process. Returns its pid (-1 if fork failed).
inline pid_t Spawn(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

// Waits at most `ms` for the child to end. Returns its exit code, 128 + the
// signal that ended it, or -1 when it cannot be waited for or did not end in
// time (it is then killed and reaped).
inline int Reap(pid_t pid, int ms = kWaitMs) {
    int status = 0;
    for (int waited = 0; pid > 0 && waited <= ms; waited += 2, usleep(2000)) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0) return -1;
    }
    if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, &status, 0);
    return -1;
}

// A pipe carrying one-byte notes between processes. Create it before the
// fork; both sides then hold both ends.
class Note {
  public:
    Note() { (void)!pipe(fd); }
    ~Note() {
        close(fd[0]);
        close(fd[1]);
    }
    void Post(char c = '.') { (void)!write(fd[1], &c, 1); }
    // Waits for `n` bytes, each within `ms`.
    bool Wait(int ms = kWaitMs, int n = 1) {
        pollfd p{fd[0], POLLIN, 0};
        char c;
        for (int i = 0; i < n; i++)
            if (poll(&p, 1, ms) != 1 || read(fd[0], &c, 1) != 1) return false;
        return true;
    }

  private:
    int fd[2] = {-1, -1};
};

}  // namespace child

// Interposes times() for the whole test program: the library's calls resolve
// to this definition, which passes through to the kernel unless a FakeClock
// is alive. This lets the tick arithmetic of ZoStopWatch and ZoJob be tested
// exactly, without sleeping for seconds.
#include "threads/Helpers.h"

#include <sys/syscall.h>
#include <sys/times.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {

std::atomic<bool> fakeOn{false};
std::atomic<clock_t> fakeNow{0};

}  // namespace

extern "C" clock_t times(struct tms* buffer) noexcept {
    if (!fakeOn) return static_cast<clock_t>(syscall(SYS_times, buffer));
    if (buffer != nullptr) std::memset(buffer, 0, sizeof *buffer);
    return fakeNow;
}

namespace zotest {

FakeClock::FakeClock(clock_t now) {
    fakeNow = now;
    fakeOn = true;
}

FakeClock::~FakeClock() {
    fakeOn = false;
}

void FakeClock::Set(clock_t now) {
    fakeNow = now;
}

}  // namespace zotest

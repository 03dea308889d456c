#include <zolib/threads/Job.h>

#include "internal/Unwind.h"

#include <climits>
#include <cstdint>

namespace {

// Whole time still needed at `percent` done after `elapsed`.
double TimeLeft(double elapsed, short percent) {
    if (percent <= 0 || percent >= 100) return 0.0;
    return elapsed / percent * (100 - percent);
}

}  // namespace

ZoJob::ZoJob(const char* name)
    : ZoThread(name),
      ZoLocker(),
      clock(),
      paused(false),
      pauseMutex(INIT_MUTEX),
      pauseCond(INIT_COND),
      progress(0),
      feedbackFreq(1),
      step(0),
      maxStep(0),
      estimatedTime(0),
      estimatedSeconds(0.0),
      clockPaused(false),
      clockRunning(false) {}

// The thread goes before the clock and the pause mutex it may be using.
ZoJob::~ZoJob() {
    Halt();
}

void ZoJob::Process() {
    clock.Start();
    clockRunning = true;
    // Also on the way out of a cancellation, so that Elapsed() and Left()
    // stay put once the job has ended.
    ZoOnExit stopClock([this] {
        clockRunning = false;
        clock.Stop();
    });
    DoIt();
    stopClock.Returned();
}

void ZoJob::DoIt() {}

void ZoJob::Feedback(const char*, short) {}

void ZoJob::Start() {
    Lock();
    // Only a job that never ran: a running body owns step.
    if (ID() == 0) {
        step = 0;
        Run();
    }
    Unlock();
}

ZOLIB_UNWOUND void ZoJob::Stop() {
    Lock();
    // The join in Cancel() is a cancellation point of the calling thread.
    ZoOnExit unlock([this] { Unlock(); });
    Cancel();
    unlock.Returned();
}

void ZoJob::Pause() {
    // A second Pause() would bank the running time twice.
    if (paused.exchange(true)) return;
    // Only a clock the body has started can be paused: between the thread's
    // start and clock.Start() there is nothing to bank yet.
    if (!clockRunning) return;
    Lock();
    pthread_mutex_lock(&pauseMutex);
    clock.Pause();
    clockPaused = true;
    Unlock();
    pthread_cond_broadcast(&pauseCond);
    pthread_mutex_unlock(&pauseMutex);
}

void ZoJob::Resume() {
    Lock();
    if (!paused) {
        Unlock();
        return;
    }
    pthread_mutex_lock(&pauseMutex);
    paused = false;
    // The clock goes on if Pause() paused it, or restarts if the job was
    // paused before it ran (the wait is not working time); the clock of a
    // job that has ended, or not begun, stays as it is.
    if (IsRunning()) clock.Start();
    clockPaused = false;
    Unlock();
    pthread_cond_broadcast(&pauseCond);
    pthread_mutex_unlock(&pauseMutex);
}

short ZoJob::Progress() {
    return progress;
}

long ZoJob::Estimated() {
    return 0;
}

void ZoJob::Milestone(const char* text, long) {
    step++;
    uint32_t steps = static_cast<uint32_t>(maxStep.load());
    if (steps != 0) {
        double percent = static_cast<double>(static_cast<uint32_t>(step)) / steps * 100.0;
        progress = percent >= SHRT_MAX ? SHRT_MAX : static_cast<short>(percent);
    }
    short frequency = feedbackFreq;
    if (frequency == 0) frequency = 1;
    short now = progress;
    if (now % frequency == 0) Feedback(text, now);
}

ZOLIB_UNWOUND bool ZoJob::IsPaused() {
    IsCanceled();
    // The flag is read without the job's lock: Stop() holds that lock while
    // it waits for this thread, which must reach its cancellation point.
    if (!paused) return false;
    pthread_mutex_lock(&pauseMutex);
    // pthread_cond_wait is a cancellation point and takes the mutex back
    // before the thread unwinds: release it on that path too.
    ZoOnExit release([this] { pthread_mutex_unlock(&pauseMutex); });
    while (paused)
        pthread_cond_wait(&pauseCond, &pauseMutex);
    release.Returned();
    return true;
}

void ZoJob::Elapsed(unsigned long* nanoseconds) {
    if (nanoseconds != nullptr) *nanoseconds = clock.NSeconds();
}

void ZoJob::Elapsed(double* seconds) {
    if (seconds != nullptr) *seconds = clock.Seconds();
}

void ZoJob::Left(unsigned long* nanoseconds) {
    if (nanoseconds == nullptr) return;
    double left = TimeLeft(static_cast<uint32_t>(clock.NSeconds()), progress);
    // At most 99 times a 32-bit count: fits 64 bits, then wraps to 32 like NSeconds.
    *nanoseconds = static_cast<uint32_t>(static_cast<uint64_t>(left));
}

void ZoJob::Left(double* seconds) {
    if (seconds != nullptr) *seconds = TimeLeft(clock.Seconds(), progress);
}

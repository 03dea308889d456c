// A job: a long piece of work on its own thread that reports its progress.
//
// The work goes in DoIt(), cut into steps; Milestone() after each step moves
// the progress on and calls Feedback() with the percentage done. IsPaused()
// marks the places where the controller (here: main) can pause or stop the
// work. The controller reads the progress, the time spent and an estimate of
// the time left.
//
//   c++ -std=c++17 Progress.cpp $(pkg-config --cflags --libs zolib)
#include <zolib/ZoLib.h>

#include <chrono>
#include <cstdio>

namespace {

constexpr int kFiles = 10;

class Backup : public ZoJob {
  public:
    Backup() : ZoJob("backup") { SetMaxStep(kFiles); }
    // DoIt() runs on the job's thread: end that thread before the object goes.
    ~Backup() override { Halt(); }

    // Runs on the job's thread.
    void DoIt() override {
        for (int file = 1; file <= kFiles; file++) {
            IsPaused();   // waits here while paused; a Stop() ends the job here
            mSnooze(40);  // "copies" one file
            char text[32];
            std::snprintf(text, sizeof text, "file %d of %d", file, kFiles);
            Milestone(text, 0);
        }
    }

    // Called from Milestone(), on the job's thread. Every milestone here; with
    // SetFeedbackFreq(n) only when the percentage is a multiple of n.
    void Feedback(const char* text, short progress) override {
        std::printf("backup: %3d%%  %s\n", progress, text);
        std::fflush(stdout);
    }
};

// Polls `done` every 10 ms for at most `ms` milliseconds.
template <typename Done>
bool WaitUntil(Done done, int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        mSnooze(10);
    }
    return true;
}

}  // namespace

int main() {
    Backup job;
    job.Start();

    // Halfway, pause for a while: the body stops at its next IsPaused().
    if (!WaitUntil([&] { return job.Progress() >= 50; }, 5000)) return 1;
    job.Pause();
    mSnooze(200);  // the step under way finishes, then the body waits
    double left = 0;
    job.Left(&left);  // the clock is paused too, so the estimate holds still
    std::printf("main: paused at %d%%, about %.1f s of work left\n", job.Progress(), left);
    job.Resume();

    if (!WaitUntil([&] { return job.Progress() == 100; }, 5000)) {
        job.Stop();  // cancels the body and waits for it
        std::printf("main: the job did not finish in time\n");
        return 1;
    }
    job.WaitEnd();
    double elapsed = 0;
    job.Elapsed(&elapsed);  // running time, the pause not included
    std::printf("main: done after %.1f s of work\n", elapsed);
    return 0;
}

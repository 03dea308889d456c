// ZoJob: a thread that does one long piece of work and reports its progress.
//
// A subclass puts the work in DoIt(), calls Milestone() after each of its
// maxStep steps and IsPaused() wherever the work may pause or be stopped,
// and overrides Feedback() to show progress. The controller starts, pauses,
// resumes and stops the job and reads Elapsed() and Left().
//
// Progress is the whole percentage of steps done (step / maxStep * 100);
// Feedback(text, progress) is called from Milestone() whenever it is a
// multiple of the feedback frequency (1 by default: every milestone; 0 is
// taken as 1). With maxStep 0 the percentage cannot be computed and stays as
// it was. Left() is the time per percent so far times the percentage still
// to go: 0 at progress 0 and from 100 on. The unsigned long forms of
// Elapsed() and Left() count nanoseconds in 32 bits and wrap after about
// 4.29 s of running; the double forms (seconds) do not.
//
// Ownership: the job owns its thread and clock. Destroying a running job
// aborts its thread first (see ZoThread::Abort()); a subclass whose DoIt()
// uses its own members calls Halt() first in its destructor, so that the
// thread is gone before they are. A job must not delete itself.
//
// Blocking: Stop() cancels the thread and waits for its end while holding the
// job's lock; the body is cancelled at IsPaused() or any other cancellation
// point, its clock stops, and Canceled() runs. Pausing takes effect at the
// body's next IsPaused(), which blocks until Resume() (or Stop()).
//
// Threads: Start, Pause, Resume, Stop, Elapsed, Left and the setters belong
// to the controller; DoIt, Milestone, Feedback and IsPaused to the job's
// thread. The body must not call Lock() (Stop() holds it while it waits).
// Lock order: the job's lock, then the pause mutex.
//
// Failure: nothing is reported. A job whose thread cannot be created stays
// idle (IsRunning() false, progress 0); see ZoThread::Run().
#pragma once

#include <zolib/threads/Locker.h>
#include <zolib/threads/StopWatch.h>
#include <zolib/threads/Thread.h>

#include <atomic>

class ZOLIB_API ZoJob : public ZoThread, public ZoLocker {
  public:
    explicit ZoJob(const char* name);
    ~ZoJob() override;

    // The body: starts the clock, runs DoIt(), stops the clock (also when
    // the body is cancelled).
    void Process() override;

    // Starts the thread (once; a second Start() changes nothing).
    virtual void Start();
    // Cancels the body and waits for its end; does nothing if it is not running.
    virtual void Stop();
    // Asks the body to pause at its next IsPaused() and pauses the clock. A
    // job paused before it runs waits at its first IsPaused().
    virtual void Pause();
    // Releases a paused body and lets the clock go on; nothing if not paused.
    virtual void Resume();
    virtual short Progress();
    // 0 here; the estimated-time setters serve subclasses.
    virtual long Estimated();
    // The work; does nothing here.
    virtual void DoIt();
    // Progress report, called on the job's thread; does nothing here.
    virtual void Feedback(const char* text, short progress);

    // One step done (the second argument is not used).
    void Milestone(const char* text, long);
    // A cancellation point; then, if the job is paused, waits until it is
    // resumed and returns true; otherwise false at once.
    bool IsPaused();

    void SetMaxStep(unsigned long steps) { maxStep = steps; }
    void SetFeedbackFreq(short frequency) { feedbackFreq = frequency; }
    // Integer arguments must say which one they mean (10UL or 10.0).
    void SetEstimatedTime(unsigned long time) { estimatedTime = time; }
    void SetEstimatedTime(double seconds) { estimatedSeconds = seconds; }

    // Running time so far, in nanoseconds modulo 2^32 or in seconds. Null is ignored.
    void Elapsed(unsigned long* nanoseconds);
    void Elapsed(double* seconds);
    // Estimated time still needed, in the same units. Null is ignored.
    void Left(unsigned long* nanoseconds);
    void Left(double* seconds);

  protected:
    ZoStopWatch clock;
    std::atomic<bool> paused;
    pthread_mutex_t pauseMutex;  // guards the pause wait
    pthread_cond_t pauseCond;    // broadcast on every pause and resume
    std::atomic<short> progress;
    std::atomic<short> feedbackFreq;
    unsigned long step;  // milestones passed; the job's thread only
    std::atomic<unsigned long> maxStep;
    unsigned long estimatedTime;
    double estimatedSeconds;

  private:
    bool clockPaused;                // Pause() paused the clock and Resume() has not continued it
    std::atomic<bool> clockRunning;  // the body has started the clock and not yet stopped it
};

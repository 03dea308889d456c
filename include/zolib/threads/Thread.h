// ZoThread: one POSIX thread per object, its body in the virtual Process().
//
// A ZoThread is created idle; Run() starts its thread once (a second Run()
// is refused, also after the thread has ended). The body polls IsStopped()
// to honour Stop(); Cancel() ends it at its next cancellation point, Abort()
// wherever it is, and Suspend()/Resume() park it inside a signal handler.
//
// Ownership: the object owns its thread, not its name (the pointer is kept,
// the text must outlive the object). Destroying an object whose thread still
// runs aborts that thread and waits until it has stopped; a finished thread
// that nobody waited for is reaped. A body may delete its own object (see
// ZoTask), as its last act: the thread ends when Process() returns, without
// Canceled(), and detaches itself; nobody may wait for it or keep it in a
// team. Subclasses whose Process() uses their own members call Halt() first
// in their destructor.
//
// Blocking: Cancel(), Abort(), WaitEnd() and the destructor wait for the
// thread to end (pthread_join). Cancel() waits as long as the thread runs
// with cancellation disabled or far from a cancellation point.
//
// Threads: the flags (stopped, running, suspended) are atomic and may be
// read from any thread. The controlling calls (Run, Suspend, Resume, Cancel,
// Abort, WaitEnd, destruction) on one object must not overlap: callers that
// control a thread from several threads serialise themselves.
//
// Signals: SIGUSR1 suspends a thread and SIGUSR2 resumes it (and carries
// aborts); the library installs both handlers and applications leave both
// signals alone. A body must not block them, or it can be neither suspended
// nor aborted.
//
// Cancellation unwinds the thread's stack like an exception: destructors of
// objects on it run, then Canceled(). Never swallow it with a catch (...)
// that does not rethrow. An abort runs neither: see Abort(). No destructor of
// the library lets a cancellation through (a forced unwind out of a noexcept
// destructor ends the process): they hold it off, and it takes effect at the
// thread's next cancellation point outside them. Destructors of subclasses
// must do the same if they reach a cancellation point other than Halt().
//
// Failure: Run() returns false when the thread ran before or cannot be
// created, WaitEnd() the join's error; the other controls do nothing to a
// thread that is not running.
#pragma once

#include <zolib/Export.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>

class ZoTeam;

// Start routine of every ZoThread; `thread` is the object. Returns null.
ZOLIB_API void* f_thread(void* thread);
// Cleanup routine run while a cancelled thread unwinds: calls its Canceled().
ZOLIB_API void c_thread(void* thread);
// Handler of the suspend signal: waits inside the handler for the resume signal.
ZOLIB_API void SIGSuspend(int);
// Handler of the resume signal: its arrival ends the wait in SIGSuspend.
ZOLIB_API void SIGResume(int);

// A cancellation point: a pending cancellation ends the calling thread here
// and the call never returns; otherwise false.
ZOLIB_API bool IsCanceled();
// Enables (true) or disables (false) cancellation of the calling thread.
// While disabled, a Cancel() stays pending until it is enabled again.
ZOLIB_API void Cancelable(bool on);

class ZOLIB_API ZoThread {
  public:
    // Creates no thread; `name` is kept as a pointer (may be null).
    explicit ZoThread(const char* name);
    virtual ~ZoThread();

    ZoThread(const ZoThread&) = delete;
    ZoThread& operator=(const ZoThread&) = delete;

    // Starts the thread running Process(); false if it was started before or
    // could not be created. IsRunning() turns true only once the new thread
    // has reached Process(). Also enables deferred cancellation of the caller.
    virtual bool Run();
    // Ends the thread at once, wherever it is: no cleanup handler, no
    // Canceled() and no destructor of its stack objects run, then joins it.
    // Locks it holds stay held and memory only its stack knew of is lost, so
    // abort only threads whose state does not matter any more. A thread that
    // was started but has not reached Process() yet never enters it. Called
    // from the thread's body, it does not return.
    virtual void Abort();
    // If running: asks the thread to end at its next cancellation point (it
    // unwinds and runs Canceled() on its way out), then joins it.
    virtual void Cancel();
    // Hook run on the cancelled thread while it unwinds; does nothing here.
    virtual void Canceled();
    // Called by ZoTeam when the thread joins or leaves it; not for applications.
    virtual void Attached(ZoTeam* team);
    virtual void Deattached();
    // The thread's body; does nothing here.
    virtual void Process();

    // Asks the body to stop (it polls IsStopped()); never cleared.
    void Stop() { stopped = true; }
    bool IsStopped() const { return stopped; }
    // Parks the thread inside the suspend signal's handler until Resume().
    // Sends one signal however often it is called; does nothing before Run()
    // or after the thread was joined. The parked thread waits for the state
    // to say running, not for a count of signals (signals of one kind merge
    // while pending): whatever the sequence and timing of Suspend() and
    // Resume() calls from one controller, the thread ends up in the state of
    // the last call. A thread past its body, or being cancelled, never parks.
    void Suspend();
    void Resume();
    // Waits for the thread to end: 0, or the error of pthread_join (ESRCH
    // before Run() or once the thread was already joined, EDEADLK from the
    // thread itself).
    int WaitEnd();
    bool IsRunning() const { return tid != 0 && running; }
    bool IsSuspended() const { return tid != 0 && suspended; }
    pthread_t ID() const { return tid; }
    // The name given to the constructor; the caller must not write through it.
    char* GetName() const { return const_cast<char*>(name); }
    ZoTeam* Team() const { return team; }

  protected:
    // Ends the thread for good before a destructor takes away what Process()
    // uses: a running or starting thread is aborted and joined, a finished
    // one reaped. Called from the thread itself (the object deletes itself),
    // it only lets the body's thread end once Process() returns. Destructors
    // of subclasses whose Process() uses their members call it first. The
    // caller's cancellation is held off meanwhile (a pending one acts at its
    // next cancellation point), so a destructor is never left by it. A
    // thread already being cancelled is waited for rather than aborted.
    void Halt();

    ZoTeam* team;
    std::atomic<bool> stopped;
    const char* name;
    std::atomic<bool> running;
    std::atomic<bool> suspended;
    pthread_t tid;  // 0 until Run() created the thread; never reset
    struct sigaction suspendAction;
    struct sigaction resumeAction;

  private:
    struct Frame;  // per-thread landing place of an abort (Thread.cpp)
    friend void* f_thread(void*);
    friend void c_thread(void*);
    friend void SIGSuspend(int);
    friend void SIGResume(int);

    int Join();
    void InstallActions();

    std::atomic<int> phase;      // idle, starting, in its body, done
    std::atomic<bool> aborting;  // an abort was asked for; read by the signal handlers
    std::atomic<bool> joined;    // pthread_join succeeded: tid is no longer valid
};

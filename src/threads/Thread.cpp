#include <zolib/threads/Thread.h>

#include "internal/Unwind.h"
#include "threads/internal/Signals.h"

#include <cerrno>
#include <csetjmp>

namespace {

// A canceled body is on its way out (at its next cancellation point): it is
// never parked again, and an abort then only waits for it, as a jump out of
// a stack that is being unwound would break the unwinder.
enum Phase { PHASE_IDLE, PHASE_STARTING, PHASE_BODY, PHASE_CANCELED, PHASE_DONE };

#ifdef ZOLIB_TSAN
// One of the handlers ran on this thread since the last rearm.
thread_local volatile sig_atomic_t handled __attribute__((tls_model("initial-exec"))) = 0;
#endif

}  // namespace

// Linux has no call that ends another thread without running its cleanup
// handlers. An abort is therefore carried to the thread itself: the resume
// signal wakes it (also out of a suspension) and its handler, seeing that
// the object asked for an abort, jumps back into the start routine, which
// returns without running the cleanup handler. The frame below is where that
// jump lands; it lives on the thread's own stack and is reachable only from
// that thread (through `current`), so the handlers never touch another
// thread's data.
struct ZoThread::Frame {
    explicit Frame(ZoThread* thread) : owner(thread) {}

    ZoThread* owner;
    sigjmp_buf env;
    // A jump to env is allowed: set while the body runs, cleared before the
    // body's object may go away or the body is left.
    std::atomic<bool> inBody{false};
    // The object was deleted by its own body: nothing of it may be touched.
    volatile bool gone = false;

    // Initial-exec: reading it in a signal handler must not allocate.
    static thread_local Frame* current __attribute__((tls_model("initial-exec")));

    // Publishes a frame as the calling thread's for the lifetime of the guard.
    struct Publish {
        explicit Publish(Frame* frame) { current = frame; }
        ~Publish() { current = nullptr; }
    };

    static void AbortIfAsked() {
        Frame* frame = current;
        if (frame != nullptr && frame->inBody && frame->owner->aborting) {
            frame->inBody = false;
            siglongjmp(frame->env, 1);
        }
    }

    // The calling thread aborts its own body; returns only if it is not in it.
    static void AbortSelf(ZoThread* thread) {
        Frame* frame = current;
        if (frame != nullptr && frame->owner == thread && frame->inBody) {
            frame->inBody = false;
            siglongjmp(frame->env, 1);
        }
    }

    // The suspend handler keeps the thread parked while this is true: its
    // object asks for a suspension and nothing asks it to end. The requested
    // state decides, not the count of signals, since signals of one kind
    // merge while pending: a Resume(); Suspend(); Resume(); sent back to back
    // can deliver one resume signal and one suspend signal, and the thread
    // must then run. A thread past its body is never parked.
    static bool StaysParked() {
        Frame* frame = current;
        if (frame == nullptr || frame->gone) return false;
        ZoThread* thread = frame->owner;
        int phase = thread->phase;
        return thread->suspended && !thread->aborting &&
               (phase == PHASE_STARTING || phase == PHASE_BODY);
    }

    // The object is being deleted from its own body.
    static void Forget(ZoThread* thread) {
        Frame* frame = current;
        if (frame != nullptr && frame->owner == thread) {
            frame->inBody = false;
            frame->gone = true;
        }
    }

    // Called first by both handlers (see threads/internal/Signals.h).
    static void NoteHandled() {
#ifdef ZOLIB_TSAN
        if (current != nullptr) handled = 1;
#endif
    }

    void Enter();
};

thread_local ZoThread::Frame* ZoThread::Frame::current = nullptr;

namespace {

const int kSuspendSignal = SIGUSR1;
const int kResumeSignal = SIGUSR2;

sigset_t OurSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, kSuspendSignal);
    sigaddset(&set, kResumeSignal);
    return set;
}

}  // namespace

#ifdef ZOLIB_TSAN
void ZoRearmThreadSignals() {
    if (handled == 0) return;
    handled = 0;
    sigset_t ours = OurSignals();
    pthread_sigmask(SIG_UNBLOCK, &ours, nullptr);
}
#endif

// Kept out of line so that the jump buffer is set in a frame of its own that
// stays alive exactly as long as a jump to it is allowed.
ZOLIB_UNWOUND __attribute__((noinline)) void ZoThread::Frame::Enter() {
    if (sigsetjmp(env, 1) != 0) return;  // aborted
    inBody = true;
    int expected = PHASE_STARTING;
    if (!owner->phase.compare_exchange_strong(expected, PHASE_BODY)) {
        inBody = false;  // aborted before the body began
        return;
    }
    ZoThread* thread = owner;
    thread->running = true;
    thread->Process();
    if (gone) return;  // deleted itself: `thread` is freed memory
    inBody = false;
    thread->running = false;
    thread->phase = PHASE_DONE;
}

void* f_thread(void* arg) {
    ZoThread* thread = static_cast<ZoThread*>(arg);
    if (thread == nullptr) return nullptr;
    ZoNoteStack();
    ZoThread::Frame frame(thread);
    ZoThread::Frame::Publish publish(&frame);
    bool gone = false;
    pthread_cleanup_push(c_thread, thread);
    // Handlers first, so that signals already pending find them.
    thread->InstallActions();
    sigset_t ours = OurSignals();
    pthread_sigmask(SIG_UNBLOCK, &ours, nullptr);
    frame.Enter();
    frame.inBody = false;
    gone = frame.gone;
    pthread_cleanup_pop(0);
    // Nobody can join a thread whose object is gone; let it clean up alone.
    if (gone) pthread_detach(pthread_self());
    return nullptr;
}

void c_thread(void* arg) {
    ZoCleanDeadStack();
    ZoThread* thread = static_cast<ZoThread*>(arg);
    if (thread == nullptr) return;
    ZoThread::Frame* frame = ZoThread::Frame::current;
    if (frame != nullptr && frame->owner == thread) {
        if (frame->gone) return;
        frame->inBody = false;  // no abort jumps into an unwinding stack
    }
    thread->Canceled();
}

// A handler interrupts whatever the thread was doing. When that was
// ordinary code (deferred cancellation), a cancellation taking effect in the
// handler's sigwait would unwind into it from an arbitrary instruction (in
// the middle of a noexcept atomic operation, say, where ThreadSanitizer runs
// handlers), and the unwinder calls std::terminate when a frame there has a
// cleanup table. The handler then holds cancellation off while it waits and
// puts the state back at its end, so the cancellation waits for the thread's
// next cancellation point. When the handler interrupted a cancellation point
// (glibc turns asynchronous cancellation on for its system call) unwinding
// into it is safe, and cancellation stays as it was: disabling it there
// would make the restore act inside the handler, which ThreadSanitizer
// cannot follow. The type is learned by setting it with cancellation off.
// Before that, a cancellation can unwind from the handler's first
// instructions, so the handlers must have no cleanup table of their own:
// they create no object that needs one, and gcc's coverage counting, which
// would add one, is kept out of them. (ThreadSanitizer adds one too, but
// holds every signal back while a handler runs.) The cancellation type is
// never changed for the wait: glibc would then wait at the end of the
// sigwait for a cancellation signal that ThreadSanitizer holds back.
#define ZOLIB_HANDLER ZOLIB_UNWOUND __attribute__((no_profile_instrument_function))

ZOLIB_HANDLER void SIGSuspend(int) {
    int saved = errno;
    ZoThread::Frame::NoteHandled();
    int state, type, unused;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
    pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, &type);
    pthread_setcanceltype(type, &unused);
    bool interruptedCancellationPoint = type == PTHREAD_CANCEL_ASYNCHRONOUS;
    if (interruptedCancellationPoint) pthread_setcancelstate(state, &unused);
    ZoThread::Frame::AbortIfAsked();
    // The resume signal is blocked while this handler runs (see
    // InstallActions), which is what lets sigwait take it. Resume() changes
    // the requested state before it signals, so a change after the test
    // below always leaves a signal pending for the wait; a signal that
    // merged with another, or was taken before the handler ran, only costs
    // one more test.
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, kResumeSignal);
    while (ZoThread::Frame::StaysParked()) {
        int signal = 0;
        sigwait(&wake, &signal);
        ZoThread::Frame::AbortIfAsked();
    }
    errno = saved;
    if (!interruptedCancellationPoint) pthread_setcancelstate(state, &unused);
}

ZOLIB_HANDLER void SIGResume(int) {
    int saved = errno;
    ZoThread::Frame::NoteHandled();
    ZoThread::Frame::AbortIfAsked();
    errno = saved;
}

bool IsCanceled() {
    ZoRearmThreadSignals();
    pthread_testcancel();
    return false;
}

void Cancelable(bool on) {
    int previous;
    pthread_setcancelstate(on ? PTHREAD_CANCEL_ENABLE : PTHREAD_CANCEL_DISABLE, &previous);
}

ZoThread::ZoThread(const char* name)
    : team(nullptr),
      stopped(false),
      name(name),
      running(false),
      suspended(false),
      tid(0),
      suspendAction(),
      resumeAction(),
      phase(PHASE_IDLE),
      aborting(false),
      joined(false) {}

ZoThread::~ZoThread() {
    Halt();
}

void ZoThread::InstallActions() {
    suspendAction = {};
    suspendAction.sa_handler = SIGSuspend;
    // Blocking the resume signal during the handler keeps it pending for the
    // sigwait in SIGSuspend instead of running SIGResume.
    sigemptyset(&suspendAction.sa_mask);
    sigaddset(&suspendAction.sa_mask, kResumeSignal);
    // Interrupted system calls other than sleeps carry on after a resume.
    suspendAction.sa_flags = SA_RESTART;
    resumeAction = {};
    resumeAction.sa_handler = SIGResume;
    sigemptyset(&resumeAction.sa_mask);
    resumeAction.sa_flags = SA_RESTART;
    sigaction(kSuspendSignal, &suspendAction, nullptr);
    sigaction(kResumeSignal, &resumeAction, nullptr);
}

bool ZoThread::Run() {
    if (tid != 0) return false;
    // The handlers must be in place before anyone can signal the new thread,
    // and the thread starts with both signals blocked until f_thread has
    // finished setting up; signals sent meanwhile wait for it.
    InstallActions();
    sigset_t ours = OurSignals(), old;
    pthread_sigmask(SIG_BLOCK, &ours, &old);
    phase = PHASE_STARTING;
    int result = pthread_create(&tid, nullptr, f_thread, this);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (result != 0) {
        tid = 0;
        phase = PHASE_IDLE;
        return false;
    }
    int previous;
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous);
    pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, &previous);
    return true;
}

void ZoThread::Process() {}

void ZoThread::Canceled() {}

void ZoThread::Attached(ZoTeam* team) {
    this->team = team;
}

void ZoThread::Deattached() {
    team = nullptr;
}

void ZoThread::Suspend() {
    if (tid == 0 || joined) return;
    if (!suspended.exchange(true)) pthread_kill(tid, kSuspendSignal);
}

void ZoThread::Resume() {
    if (!suspended.exchange(false)) return;
    if (tid != 0 && !joined) pthread_kill(tid, kResumeSignal);
}

int ZoThread::Join() {
    if (tid == 0 || joined) return ESRCH;
    int result = pthread_join(tid, nullptr);
    if (result == 0) {
        joined = true;
        phase = PHASE_DONE;
    }
    return result;
}

int ZoThread::WaitEnd() {
    return Join();
}

void ZoThread::Cancel() {
    if (!running) return;
    stopped = true;
    int body = PHASE_BODY;
    phase.compare_exchange_strong(body, PHASE_CANCELED);
    pthread_cancel(tid);
    // A suspended thread is also let go: where the handler's sigwait cannot
    // be cancelled (ThreadSanitizer runs handlers with every signal blocked,
    // glibc's cancellation signal included), it is cancelled at its next
    // cancellation point after the handler returns.
    if (suspended.exchange(false)) pthread_kill(tid, kResumeSignal);
    running = false;
    Join();
}

void ZoThread::Abort() {
    if (tid == 0 || joined) return;
    int seen = PHASE_STARTING;
    if (phase.compare_exchange_strong(seen, PHASE_DONE)) {
        // Started but not in its body yet: f_thread will see it and return.
        // A suspend sent this early parks the thread before its body, so it
        // needs the resume signal to get there.
        stopped = true;
        if (suspended.exchange(false)) pthread_kill(tid, kResumeSignal);
        Join();
        return;
    }
    if (seen == PHASE_CANCELED) {
        Join();
        return;
    }
    // Only a body can be aborted. Between the phase and the running flag the
    // body is just beginning or just ending; aborting is right for both.
    if (seen != PHASE_BODY) return;
    stopped = true;
    suspended = false;
    running = false;
    if (pthread_equal(tid, pthread_self())) {
        Frame::AbortSelf(this);  // does not return from inside the body
        return;
    }
    aborting = true;
    // The resume signal also ends a suspension, so one signal reaches a
    // suspended thread as well as a running or blocked one.
    pthread_kill(tid, kResumeSignal);
    Join();
}

void ZoThread::Halt() {
    if (tid == 0) return;
    // Called from destructors: the join must not let a cancellation of the
    // calling thread through (see internal/Unwind.h).
    ZoNoCancel hold;
    if (pthread_equal(tid, pthread_self())) {
        stopped = true;
        running = false;
        suspended = false;
        Frame::Forget(this);
        return;
    }
    if (joined) return;
    stopped = true;
    ZoThread::Abort();
    if (!joined) Join();  // finished on its own: reap it
}

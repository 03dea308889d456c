// ZoTeam: a named group of threads started, suspended, resumed, cancelled,
// aborted and waited for together.
//
// Ownership: the team owns its attached threads; destroying it deletes every
// one still attached (a running thread is aborted). A detached thread is the
// caller's again. The name is kept as a pointer, not copied. A thread belongs
// to one team at a time; self-deleting tasks must not be attached.
//
// Blocking: Cancel() and Abort() wait for each targeted thread in turn;
// WaitEnd() polls once a second, so it never returns in less than a second
// (except WAIT_ANY on an empty team, which returns at once).
//
// Threads: no lock. Attach/Deattach while another thread walks the team
// (WaitEnd, Cancel, ...) must be serialised by the caller.
//
// Failure: nothing is reported. The members' own results (a Run() that
// fails) are not collected; a null thread or a non-member is passed over.
#pragma once

#include <zolib/Export.h>
#include <zolib/containers/List.h>
#include <zolib/threads/Thread.h>

// <sys/wait.h> defines WAIT_ANY as a macro (-1, "any child process") that
// would rewrite the enumerator below. The enumerator is declared with the
// macro set aside, whichever header came first; where the macro is in force
// WAIT_ANY stays -1 for the C library, and WaitEnd(int) takes -1 as WAIT_ANY,
// so WaitEnd(WAIT_ANY) waits for any thread in every order of inclusion.
#pragma push_macro("WAIT_ANY")
#undef WAIT_ANY
enum T_THREAD_WAIT : int {
    WAIT_ALL = 0,  // until no attached thread is running
    WAIT_ANY = 1   // until at least one attached thread is not running
};
#pragma pop_macro("WAIT_ANY")

// Comparator of Find(): strcmp of the thread's name and `name` (null names
// are equal to each other and sort first).
ZOLIB_API int thcmp(const void* thread, const void* name);

class ZOLIB_API ZoTeam {
  public:
    explicit ZoTeam(const char* name);
    ~ZoTeam();

    ZoTeam(const ZoTeam&) = delete;
    ZoTeam& operator=(const ZoTeam&) = delete;

    // Appends the thread and calls its Attached(this); a member (or null) is ignored.
    void Attach(ZoThread* thread);
    // Removes a member and calls its Deattached(); others are ignored. The
    // thread is not deleted.
    void Deattach(ZoThread* thread);

    // Each calls the operation of every member in order of attachment;
    // Cancel() and Abort() skip members that are not running.
    void Run();
    void Suspend();
    void Resume();
    void Cancel();
    void Abort();

    // First member named `name`, or null.
    ZoThread* Find(const char* name);
    // True when every member reports it (an empty team gives true).
    bool IsRunning();
    bool IsSuspended();

    // Sleeps a second, then tests, until no member runs (WAIT_ALL) or one
    // member no longer runs (WAIT_ANY). Other modes return at once.
    void WaitEnd(T_THREAD_WAIT mode);
    // For WAIT_ANY rewritten by <sys/wait.h>: -1 is WAIT_ANY, other values
    // are taken as T_THREAD_WAIT.
    void WaitEnd(int mode);

    char* GetName() const { return const_cast<char*>(name); }

  protected:
    const char* name;
    ZoList* threads;  // owned list of the members, in order of attachment

  private:
    ZoThread* Member(long index) { return static_cast<ZoThread*>(threads->GetItem(index)); }
};

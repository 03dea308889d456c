// ZoLocker: an object with a plain, non-recursive mutex.
//
// Classes whose objects are shared between threads derive from ZoLocker and
// lock themselves around their own state.
//
// Ownership: the mutex is part of the object; destroy it unlocked.
// Blocking: Lock() waits until the mutex is free; locking it twice from one
// thread deadlocks (it is not recursive). Unlock() and Locked() never wait.
// Threads: Lock, Unlock and Locked from any thread; Unlock only by the
// thread that holds the mutex.
// Failure: false when the system call fails (errno is not set: the mutex
// calls return their error).
#pragma once

#include <zolib/Export.h>

#include <pthread.h>

// Initial images of a default mutex and condition variable. Every mutex and
// condition of the library starts as a copy of these.
ZOLIB_API extern const pthread_mutex_t INIT_MUTEX;
ZOLIB_API extern const pthread_cond_t INIT_COND;

class ZOLIB_API ZoLocker {
  public:
    ZoLocker();
    virtual ~ZoLocker();

    ZoLocker(const ZoLocker&) = delete;
    ZoLocker& operator=(const ZoLocker&) = delete;

    // Blocks until the mutex is taken; true on success.
    virtual bool Lock();
    // True on success; the caller must hold the mutex.
    virtual bool Unlock();
    // Tries the mutex: true when another holder has it. When it was free the
    // try takes it and the result is false: the caller then holds the mutex
    // and must Unlock() it.
    bool Locked();

  protected:
    pthread_mutex_t mutex;
};

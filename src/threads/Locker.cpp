#include <zolib/threads/Locker.h>

#include <cerrno>

const pthread_mutex_t INIT_MUTEX = PTHREAD_MUTEX_INITIALIZER;
const pthread_cond_t INIT_COND = PTHREAD_COND_INITIALIZER;

ZoLocker::ZoLocker() : mutex(INIT_MUTEX) {}

ZoLocker::~ZoLocker() = default;

bool ZoLocker::Lock() {
    return pthread_mutex_lock(&mutex) == 0;
}

bool ZoLocker::Unlock() {
    return pthread_mutex_unlock(&mutex) == 0;
}

bool ZoLocker::Locked() {
    return pthread_mutex_trylock(&mutex) == EBUSY;
}

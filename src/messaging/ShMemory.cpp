#include <zolib/messaging/ShMemory.h>

#include "internal/Unwind.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <string>

namespace {

// The count sits right after the host-size mutex and the user area starts at
// the next 8-byte boundary. The retired word lives in the padding between the
// two, so the layout stays as documented.
struct Header {
    pthread_mutex_t mutex;
    uint16_t users;
    uint16_t unused;
    // Set under the mutex by the last user just before it removes the name:
    // a process that opened the name a moment earlier must not count itself
    // into a segment that nobody will find any more.
    uint32_t retired;
};

constexpr size_t kUserOffset = (sizeof(pthread_mutex_t) + sizeof(uint16_t) + 7) & ~size_t{7};
static_assert(offsetof(Header, users) == sizeof(pthread_mutex_t), "count follows the mutex");
static_assert(sizeof(Header) <= kUserOffset, "header fits before the user area");

// Opening can collide with another process creating or removing the same
// name; every collision means that process made progress, so a few rounds
// are plenty. The bound only keeps a pathological case from spinning.
constexpr int kOpenRounds = 100;

enum Outcome { kDone, kRetry, kFail };

// Takes the segment's mutex: 0, or EDEADLK when the calling thread holds it
// already (through this or another object on the segment), or an error. A
// mutex whose holder died is taken over.
int Take(pthread_mutex_t* mutex) {
    int rc = pthread_mutex_lock(mutex);
    // The previous holder died: whatever it was changing stays as it left
    // it, but the mutex itself is ours and usable again.
    if (rc == EOWNERDEAD) rc = pthread_mutex_consistent(mutex);
    return rc;
}

size_t MapLength(uint32_t size) {
    return kUserOffset + size;
}

Header* HeaderOf(void* base) {
    return static_cast<Header*>(base);
}

// The file-system path behind an open shm descriptor, with the file name cut
// off: where glibc keeps its segments.
std::string SegmentDirectory(int fd) {
    char link[64];
    char path[PATH_MAX];
    std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof(path) - 1);
    if (n <= 0) return "/dev/shm";
    std::string dir(path, static_cast<size_t>(n));
    size_t slash = dir.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/dev/shm")
                                                    : dir.substr(0, slash);
}

}  // namespace

ZoShMemory::ZoShMemory(const char* name, unsigned int size)
    : creator(false),
      name(name),
      base(nullptr),
      users(nullptr),
      size(size),
      mutex(nullptr),
      device(0),
      inode(0) {
    // Either the object is complete or nothing was published: a
    // cancellation takes effect after the constructor (whose object is then
    // destroyed as the thread unwinds), never in it.
    ZoNoCancel hold;
    if (!name) return;
    for (int round = 0; round < kOpenRounds; round++) {
        Outcome outcome;
        int fd = shm_open(name, O_RDWR, 0);
        if (fd >= 0)
            outcome = Attach(fd) ? kDone : kRetry;
        else if (errno == ENOENT)
            outcome = static_cast<Outcome>(Create());
        else
            return;  // no right to open it, or not a valid name
        if (outcome != kRetry) return;
    }
}

// Attaches to a published (hence complete) segment and closes `fd`. False
// when it should be opened again: the segment was retired meanwhile or the
// attach failed for good (then base stays null and the next round decides).
bool ZoShMemory::Attach(int fd) {
    struct stat st;
    size_t length = MapLength(size);
    bool sized = fstat(fd, &st) == 0 &&
                 (st.st_size >= static_cast<off_t>(length) || ftruncate(fd, length) == 0);
    void* map =
        sized ? mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    close(fd);
    if (map == MAP_FAILED) return false;

    Header* header = HeaderOf(map);
    base = map;
    mutex = &header->mutex;
    users = &header->users;
    device = st.st_dev;
    inode = st.st_ino;
    bool attached = false;
    // A thread that holds the mutex (through another object) opens the name
    // again: it counts itself in under the lock it holds, and keeps it.
    int rc = Take(mutex);
    if (rc == 0 || rc == EDEADLK) {
        if (header->retired)
            Retire();  // its last user may have died before removing the name
        else if (header->users < USHRT_MAX) {
            header->users++;
            attached = true;
        }
        if (rc == 0) Unlock();
    }
    if (attached) return true;
    munmap(map, length);
    base = nullptr;
    mutex = nullptr;
    users = nullptr;
    return false;
}

// Builds a complete segment under a private name, then links it in under the
// real one. link() never replaces an existing name, so of two creators only
// one wins; the other attaches to the winner's segment on its next round.
int ZoShMemory::Create() {
    static std::atomic<unsigned> serial{0};
    char temp[64];
    std::snprintf(temp, sizeof(temp), "/zolib.shm.%d.%u", static_cast<int>(getpid()),
                  serial.fetch_add(1, std::memory_order_relaxed));
    int fd = shm_open(temp, O_RDWR | O_CREAT | O_EXCL, 0777);
    if (fd < 0) return errno == EEXIST ? kRetry : kFail;

    size_t length = MapLength(size);
    struct stat st;
    void* map = MAP_FAILED;
    if (ftruncate(fd, length) == 0 && fstat(fd, &st) == 0)
        map = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        shm_unlink(temp);
        close(fd);
        return kFail;
    }

    // Robust, so that a process dying with the mutex held cannot freeze every
    // other user of the segment; error-checking, so that a thread locking it
    // twice gets EDEADLK instead of waiting for itself.
    Header* header = HeaderOf(map);
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
    int made = pthread_mutex_init(&header->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    header->users = 1;
    header->retired = 0;

    std::string dir = SegmentDirectory(fd);
    const char* bare = name;
    while (*bare == '/')
        bare++;
    int linked = made == 0 ? link((dir + temp).c_str(), (dir + "/" + bare).c_str()) : -1;
    int error = made == 0 ? errno : made;
    shm_unlink(temp);
    close(fd);
    if (linked != 0) {
        if (made == 0) pthread_mutex_destroy(&header->mutex);
        munmap(map, length);
        errno = error;
        return error == EEXIST ? kRetry : kFail;
    }

    creator = true;
    base = map;
    mutex = &header->mutex;
    users = &header->users;
    device = st.st_dev;
    inode = st.st_ino;
    return kDone;
}

// Called with the mutex held: marks the segment dead and removes its name,
// unless the name has meanwhile been given to another segment.
void ZoShMemory::Retire() {
    HeaderOf(base)->retired = 1;
    int fd = shm_open(name, O_RDONLY, 0);
    if (fd < 0) return;
    struct stat st;
    bool ours = fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode;
    close(fd);
    if (ours) shm_unlink(name);
}

ZoShMemory::~ZoShMemory() {
    ZoNoCancel hold;  // the name must go with the last user
    if (!base) return;
    int rc = Take(mutex);  // EDEADLK: held by this thread through another object
    if (rc == 0 || rc == EDEADLK) {
        if (*users > 0) --*users;
        if (*users == 0) Retire();
        if (rc == 0) Unlock();
    }
    munmap(base, MapLength(size));
}

bool ZoShMemory::InitCheck() {
    return base != nullptr;
}

void* ZoShMemory::Address() {
    return base ? static_cast<char*>(base) + kUserOffset : nullptr;
}

bool ZoShMemory::Lock() {
    return mutex && Take(mutex) == 0;
}

bool ZoShMemory::Unlock() {
    return mutex && pthread_mutex_unlock(mutex) == 0;
}

// The allocation-failure seam (built only with ZOLIB_FAULT_INJECTION). The
// library is linked with ld --wrap for each allocating call it makes, so its
// references reach the __wrap_ functions below, which call the real function
// unless the armed countdown says this call fails. Tests drive it through
// tests/support/FaultInjection.h.
#include <zolib/Export.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <new>

#include <dirent.h>
#include <dlfcn.h>
#include <glob.h>

namespace {

std::atomic<long> failAt{0};  // 0: disarmed; else the allocation number that fails
std::atomic<bool> persistent{false};
std::atomic<long> seen{0};    // allocations since arming
std::atomic<long> failed{0};  // allocations refused since arming

// True when this allocation is to fail (errno is then ENOMEM).
bool Fail() {
    long at = failAt.load(std::memory_order_relaxed);
    if (at <= 0) return false;
    long n = seen.fetch_add(1, std::memory_order_relaxed) + 1;
    if (n < at || (n > at && !persistent.load(std::memory_order_relaxed))) return false;
    failed.fetch_add(1, std::memory_order_relaxed);
    errno = ENOMEM;
    return true;
}

}  // namespace

extern "C" {

ZOLIB_API void zolib_fault_arm(long n, bool keepFailing) {
    failAt.store(0);
    seen.store(0);
    failed.store(0);
    persistent.store(keepFailing);
    failAt.store(n > 0 ? n : 0);
}

ZOLIB_API long zolib_fault_disarm() {
    failAt.store(0);
    return failed.load();
}

ZOLIB_API long zolib_fault_seen() {
    return seen.load();
}

void* __real_malloc(size_t);
void* __real_calloc(size_t, size_t);
void* __real_realloc(void*, size_t);
char* __real_strdup(const char*);
char* __real_strndup(const char*, size_t);
char* __real_getcwd(char*, size_t);
int __real_glob(const char*, int, int (*)(const char*, int), glob_t*);
DIR* __real_opendir(const char*);
DIR* __real_fdopendir(int);
FILE* __real_fopen(const char*, const char*);
void* __real_dlopen(const char*, int);
void* __real__Znwm(size_t);
void* __real__Znam(size_t);
void* __real__ZnwmRKSt9nothrow_t(size_t, const std::nothrow_t&);
void* __real__ZnamRKSt9nothrow_t(size_t, const std::nothrow_t&);

void* __wrap_malloc(size_t size) {
    return Fail() ? nullptr : __real_malloc(size);
}

void* __wrap_calloc(size_t n, size_t size) {
    return Fail() ? nullptr : __real_calloc(n, size);
}

void* __wrap_realloc(void* p, size_t size) {
    return Fail() ? nullptr : __real_realloc(p, size);
}

char* __wrap_strdup(const char* s) {
    return Fail() ? nullptr : __real_strdup(s);
}

char* __wrap_strndup(const char* s, size_t n) {
    return Fail() ? nullptr : __real_strndup(s, n);
}

// Only a null buffer makes getcwd allocate.
char* __wrap_getcwd(char* buf, size_t size) {
    if (buf == nullptr && Fail()) return nullptr;
    return __real_getcwd(buf, size);
}

int __wrap_glob(const char* pattern, int flags, int (*onError)(const char*, int), glob_t* found) {
    if (!Fail()) return __real_glob(pattern, flags, onError, found);
    found->gl_pathc = 0;
    found->gl_pathv = nullptr;
    return GLOB_NOSPACE;
}

DIR* __wrap_opendir(const char* path) {
    return Fail() ? nullptr : __real_opendir(path);
}

DIR* __wrap_fdopendir(int fd) {
    return Fail() ? nullptr : __real_fdopendir(fd);
}

FILE* __wrap_fopen(const char* path, const char* mode) {
    return Fail() ? nullptr : __real_fopen(path, mode);
}

void* __wrap_dlopen(const char* path, int flags) {
    return Fail() ? nullptr : __real_dlopen(path, flags);
}

void* __wrap__Znwm(size_t size) {
    if (Fail()) throw std::bad_alloc();
    return __real__Znwm(size);
}

void* __wrap__Znam(size_t size) {
    if (Fail()) throw std::bad_alloc();
    return __real__Znam(size);
}

void* __wrap__ZnwmRKSt9nothrow_t(size_t size, const std::nothrow_t& tag) {
    return Fail() ? nullptr : __real__ZnwmRKSt9nothrow_t(size, tag);
}

void* __wrap__ZnamRKSt9nothrow_t(size_t size, const std::nothrow_t& tag) {
    return Fail() ? nullptr : __real__ZnamRKSt9nothrow_t(size, tag);
}

}  // extern "C"

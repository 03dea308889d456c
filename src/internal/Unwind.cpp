#include "internal/Unwind.h"

#ifdef ZOLIB_ASAN

#include <pthread.h>
#include <sanitizer/asan_interface.h>

#include <cstddef>

namespace {

thread_local char* stackLow __attribute__((tls_model("initial-exec"))) = nullptr;

}  // namespace

void ZoNoteStack() {
    if (stackLow != nullptr) return;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
    void* low = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attributes, &low, &size) == 0) stackLow = static_cast<char*>(low);
    pthread_attr_destroy(&attributes);
}

// Not instrumented: it runs on the poisoned stack it cleans.
__attribute__((no_sanitize_address, noinline)) void ZoCleanDeadStack() {
    ZoNoteStack();
    char* here = static_cast<char*>(__builtin_frame_address(0));
    if (stackLow != nullptr && here > stackLow)
        __asan_unpoison_memory_region(stackLow, static_cast<size_t>(here - stackLow));
}

#endif

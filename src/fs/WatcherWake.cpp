// The watcher's wake-up: between passes its thread sleeps on the kernel's
// notifications for the directory and for the directory's name in its parent,
// or, where those cannot be had, for a period.
#include <zolib/fs/FolderWatcher.h>

#include "internal/Unwind.h"

#include <zolib/threads/Snooze.h>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <new>
#include <string>

namespace {

// File systems whose changes may come from elsewhere (other machines, a user
// space server), where the kernel cannot report every change.
bool Remote(const char* path) {
    struct statfs fs;
    if (statfs(path, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFul) {
        case 0x6969ul:      // NFS
        case 0x517Bul:      // SMB
        case 0xFF534D42ul:  // CIFS
        case 0xFE534D42ul:  // SMB2
        case 0x65735546ul:  // FUSE
        case 0x73757245ul:  // Coda
        case 0x5346414Ful:  // AFS
        case 0x01021997ul:  // 9P
        case 0x00C36400ul:  // Ceph
            return true;
        default:
            return false;
    }
}

// What moves an entry's times or the directory's list of names.
constexpr uint32_t kSourceMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                 IN_ATTRIB | IN_ACCESS | IN_DELETE_SELF | IN_MOVE_SELF;
// The source's own name coming and going in its parent.
constexpr uint32_t kParentMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MASK_ADD;
constexpr long kSettleMs = 2;
constexpr long kLongestStretchMs = 600000;

long Millis(long micros) {
    return micros / 1000;
}

}  // namespace

ZOLIB_UNWOUND void ZoFolderWatcher::Wait() {
    if (period <= 0 || again) {
        again = false;
        IsCanceled();
        Yield();
        return;
    }
    if (retry) {  // the last pass ran out of memory: the next one after a period
        retry = false;
        mSnooze(static_cast<unsigned long>(period));
        return;
    }
    bool fresh = false;
    if (forcePolling || !Arm(&fresh)) {
        // Polling: exactly the sleep of a period between passes.
        notifying = false;
        if (notifyFd >= 0) close(notifyFd);
        notifyFd = sourceWatch = parentWatch = -1;
        mSnooze(static_cast<unsigned long>(period));
        return;
    }
    // A watch just made has not seen what happened since the last listing.
    if (fresh) return;
    long pass = Millis(passMicros);
    long interval = period;
    if (notifying) interval = std::max(period, std::min(2000 * pass, kLongestStretchMs));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval);
    for (;;) {
        if (IsStopped()) return;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) return;  // the safety-net pass
        struct pollfd fds[2] = {{notifyFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        // At most a second at a time, so that Stop() is seen.
        int ready = poll(fds, wakeFd >= 0 ? 2 : 1, static_cast<int>(std::min<long>(left, 1000)));
        if (ready <= 0) continue;
        if (wakeFd >= 0 && (fds[1].revents & POLLIN) != 0) {
            uint64_t count;
            (void)!read(wakeFd, &count, sizeof count);
            if (rearm.exchange(false) || forcePolling) return;
        }
        if ((fds[0].revents & POLLIN) != 0 && Drain()) {
            // Let a burst of changes come to an end, within bounds.
            mSnooze(static_cast<unsigned long>(std::min(period, std::max(kSettleMs, 2 * pass))));
            Drain();
            return;
        }
    }
}

bool ZoFolderWatcher::Arm(bool* fresh) {
    if (notifyFd < 0) notifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notifyFd < 0) return false;
    std::string full, parent;
    bool named = true;
    Lock();
    try {
        if (source != nullptr && source->GetFull() != nullptr && source->GetPath() != nullptr &&
            source->GetName() != nullptr) {
            full = source->GetFull();
            parent = source->GetPath();
            parentName = source->GetName();
        }
    } catch (const std::bad_alloc&) {
        named = false;  // without memory for the names: polling, this time
    }
    Unlock();
    if (!named) return false;
    // Adding a watch again is cheap and gives the watch of whatever
    // directory the path names now (a new one when it was replaced).
    int watch = full.empty() ? -1 : inotify_add_watch(notifyFd, full.c_str(), kSourceMask);
    int above = -1;
    if (!parentName.empty() && parent != full)
        above = inotify_add_watch(notifyFd, parent.c_str(), kParentMask);
    *fresh = watch >= 0 && watch != sourceWatch;
    for (int old : {sourceWatch, parentWatch})
        if (old >= 0 && old != watch && old != above) inotify_rm_watch(notifyFd, old);
    sourceWatch = watch;
    parentWatch = above;
    notifying = watch >= 0 && !Remote(full.c_str());
    return watch >= 0 || above >= 0;
}

ZOLIB_UNWOUND bool ZoFolderWatcher::Drain() {
    alignas(struct inotify_event) char buffer[4096];
    bool relevant = false;
    for (;;) {
        ssize_t got = read(notifyFd, buffer, sizeof buffer);
        if (got <= 0) return relevant;
        for (char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(at);
            at += sizeof *event + event->len;
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                relevant = true;  // events were lost: a pass finds out
            } else if (event->wd == sourceWatch) {
                // The directory's own listing (ours too) reads it: no change.
                if (event->len > 0 || (event->mask & ~IN_ISDIR) != IN_ACCESS) relevant = true;
            } else if (event->wd == parentWatch) {
                if (event->len > 0 && parentName == event->name) relevant = true;
            }
        }
    }
}

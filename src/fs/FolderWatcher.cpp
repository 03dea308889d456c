#include <zolib/fs/FolderWatcher.h>

#include "internal/Unwind.h"

#include <zolib/threads/Snooze.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// The watcher whose pass holds its lock on this thread, if any: SetSource and
// SetFilter called from the hooks must not take the (non-recursive) lock again.
thread_local const ZoFolderWatcher* passOwner = nullptr;

// An entry's inode (all that entrymatch compares) and the status Changed()
// remembers. ZoEntry keeps them protected; pointers to the members formed
// through a derived class reach them without widening ZoEntry's API. The
// watcher reads each name's status once per pass and keeps it here, so that
// an entry's own Changed() still compares against what the watcher saw.
struct EntryState : ZoEntry {
    static ino_t& Inode(ZoEntry* entry) { return entry->*(&EntryState::inode); }
    static ino_t Inode(const ZoEntry* entry) { return entry->*(&EntryState::inode); }
    static struct stat*& Last(ZoEntry* entry) { return entry->*(&EntryState::lastStat); }
};

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// What Changed() does with a status already read: the first status is only
// recorded; later, true when one of the three times moved (then recorded).
bool Moved(ZoEntry* entry, const struct stat& now) {
    struct stat*& last = EntryState::Last(entry);
    if (last == nullptr) {
        last = new struct stat(now);
        return false;
    }
    // A link whose target is missing: reading its status tries to follow it,
    // which may itself move the link's access time.
    if (S_ISLNK(now.st_mode) && S_ISLNK(last->st_mode)) last->st_atim = now.st_atim;
    if (SameTime(now.st_atim, last->st_atim) && SameTime(now.st_ctim, last->st_ctim) &&
        SameTime(now.st_mtim, last->st_mtim)) {
        return false;
    }
    *last = now;
    return true;
}

// Records a status that belongs to another object than the one seen before.
void Take(ZoEntry* entry, const struct stat& now) {
    EntryState::Inode(entry) = now.st_ino;
    struct stat*& last = EntryState::Last(entry);
    if (last == nullptr) {
        last = new struct stat(now);
    } else {
        *last = now;
    }
}

// One status read of a name in the directory dir (a descriptor, or
// AT_FDCWD for a full path). A symbolic link whose target is missing is
// taken as the link itself: it is there, with a status of its own.
bool StatAt(int dir, const char* name, struct stat* st) {
    if (fstatat(dir, name, st, 0) == 0) return true;
    if (errno != ENOENT && errno != ELOOP) return false;
    return fstatat(dir, name, st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool IsDirectory(const ZoEntry* entry) {
    return dynamic_cast<const ZoDirectory*>(entry) != nullptr;
}

// Whether a status read now is of the object the entry saw last: the same
// inode, and the same kind (a number freed by a removal may be given to the
// next object made).
bool Same(ZoEntry* entry, const struct stat& now) {
    if (EntryState::Inode(entry) != now.st_ino) return false;
    const struct stat* last = EntryState::Last(entry);
    if (last != nullptr) return (last->st_mode & S_IFMT) == (now.st_mode & S_IFMT);
    return IsDirectory(entry) == S_ISDIR(now.st_mode);
}

// A new entry for the name in dir with the status read, as the directory's
// own listing would make it: a ZoDirectory for a directory (or a link to
// one), a ZoEntry for anything else.
ZoEntry* Make(const char* dir, const char* name, const struct stat& st) {
    ZoEntry* entry;
    if (S_ISDIR(st.st_mode)) {
        entry = new ZoDirectory(dir, name, false);
    } else {
        entry = new ZoEntry(dir, name);
    }
    Take(entry, st);
    return entry;
}

bool IsDots(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The directory listing's extension filter: the text after the last dot, or
// the whole name when it has none; a name whose only dot leads it is skipped.
bool Kept(const char* name, int count, const char* const* filters) {
    const char* dot = strrchr(name, '.');
    if (dot == name) return false;
    const char* ext = dot == nullptr ? name : dot + 1;
    for (int i = 0; i < count; i++) {
        if (filters[i] != nullptr && strcmp(ext, filters[i]) == 0) return true;
    }
    return false;
}

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

ZoEntry* At(ZoList* list, long index) {
    return static_cast<ZoEntry*>(list->GetItem(index));
}

// The lists grow by a fixed step of 10; doubling instead keeps an append O(1)
// on average when a pass takes in or reports thousands of entries.
void Append(ZoList* list, void* item) {
    if (list->Size() >= list->Length()) list->IncBy(list->Length() > 10 ? list->Length() : 10);
    list->AddItem(item);
}

}  // namespace

int entrymatch(const void* a, const void* b) {
    if (a == nullptr || b == nullptr) return 1;
    const ZoEntry* known = static_cast<const ZoEntry*>(a);
    return *known != static_cast<const ZoEntry*>(b) ? 1 : 0;
}

ZoFolderWatcher::ZoFolderWatcher(long period, void* data)
    : ZoThread(nullptr),
      ZoLocker(),
      contents(new ZoList(10, 10)),
      changes(new ZoList(10, 10)),
      source(nullptr),
      data(data),
      period(period),
      filterCount(0),
      filters(nullptr) {
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

ZoFolderWatcher::~ZoFolderWatcher() {
    ZoNoCancel hold;  // a cancellation of the caller never unwinds through here
    // The body works on everything released below. Cancelling lets it leave
    // at the sleep or in a hook with the lists whole; Halt() then covers a
    // thread that was started but has not reached its body.
    if (IsRunning()) ZoThread::Cancel();
    Halt();
    DropChanges();
    DropContents();
    delete changes;
    delete contents;
    delete source;
    for (int fd : {notifyFd, wakeFd, heldFd})
        if (fd >= 0) close(fd);
}

void ZoFolderWatcher::Refreshing(void*) {}

void ZoFolderWatcher::Updated(ZoList*, void*) {}

void ZoFolderWatcher::SetSource(const char* path) {
    SetSource(new ZoDirectory(path, false));
}

void ZoFolderWatcher::SetSource(ZoDirectory* dir) {
    bool nested = passOwner == this;
    if (!nested) Lock();
    if (dir != source) {
        delete source;
        source = dir;
    }
    // Records of the old source would point at entries released here.
    DropChanges();
    DropContents();
    if (heldFd >= 0) close(heldFd);
    heldFd = -1;
    InitScan();
    if (!nested) Unlock();
    // A waiting thread watches the new source and runs a pass at once, which
    // reports what changed since the scan above.
    rearm = true;
    Wake();
}

void ZoFolderWatcher::SetPolling(bool force) {
    forcePolling = force;
    Wake();
}

void ZoFolderWatcher::Wake() {
    if (wakeFd < 0) return;
    uint64_t one = 1;
    (void)!write(wakeFd, &one, sizeof one);
}

void ZoFolderWatcher::SetFilter(int count, const char* const* list) {
    bool nested = passOwner == this;
    if (!nested) Lock();
    filterCount = count;
    filters = list;
    if (!nested) Unlock();
}

void ZoFolderWatcher::InitScan() {
    Scan(SCAN_INIT);
}

void ZoFolderWatcher::Refresh() {
    Scan(SCAN_NEW);
}

void ZoFolderWatcher::Hold(int fd, const struct stat& st) {
    if (heldFd >= 0) close(heldFd);
    heldFd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    heldDev = st.st_dev;
    heldIno = st.st_ino;
}

void ZoFolderWatcher::Scan(ScanMode mode) {
    if (source == nullptr) return;
    auto began = std::chrono::steady_clock::now();
    struct Timed {
        ZoFolderWatcher* watcher;
        std::chrono::steady_clock::time_point began;
        ~Timed() {
            auto took = std::chrono::steady_clock::now() - began;
            watcher->passMicros = static_cast<long>(
                std::chrono::duration_cast<std::chrono::microseconds>(took).count());
        }
    } timed{this, began};

    int fd = open(source->GetFull(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat dirStat;
    if (fd >= 0 && fstat(fd, &dirStat) != 0) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        // Gone or unreadable: nothing new, and the known entries are checked
        // one by one. A directory made here later is a new one.
        if (heldFd >= 0) close(heldFd);
        heldFd = -1;
        if (mode == SCAN_PASS) CheckByPath();
        return;
    }
    // The directory last listed is held open, so its inode cannot be reused
    // by another directory: a different identity at the path means the
    // directory was replaced.
    bool replaced = heldFd >= 0 && (dirStat.st_dev != heldDev || dirStat.st_ino != heldIno);
    if (replaced && mode != SCAN_INIT) {
        if (mode == SCAN_PASS) {
            // The old entries go in this pass, the new directory's come in
            // the next, as for an entry renamed inside the directory.
            Hold(fd, dirStat);
            RemoveAll();
            again = true;
        }
        close(fd);
        return;
    }
    if (heldFd < 0 || replaced) Hold(fd, dirStat);
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return;
    }

    const long count = contents->Size();
    // The known entries by name (each name has at most one) and by inode
    // (what FindItem(entry, entrymatch) over the contents would find), the
    // inodes of entries taken in during this listing included.
    std::unordered_map<std::string_view, long> byName;
    std::unordered_set<ino_t> inodes;
    byName.reserve(static_cast<size_t>(count));
    inodes.reserve(static_cast<size_t>(count));
    for (long i = 0; i < count; i++) {
        ZoEntry* entry = At(contents, i);
        byName.emplace(entry->GetName(), i);
        inodes.insert(EntryState::Inode(entry));
    }
    enum : unsigned char { UNSEEN, SAME, MOVED };
    std::vector<unsigned char> seen(static_cast<size_t>(count), UNSEEN);
    // Entries that another kind of object under their name replaced; they are
    // released after the listing, whose name index still points into them.
    std::vector<ZoEntry*> retired;
    const bool filtered = filterCount > 0 && filters != nullptr;
    const char* full = source->GetFull();

    while (struct dirent* found = readdir(dir)) {
        const char* name = found->d_name;
        auto known = byName.find(name);
        struct stat st;
        if (known != byName.end()) {
            if (mode != SCAN_PASS) continue;
            long i = known->second;
            // A name that vanished since the listing read it is left unseen:
            // it is reported removed.
            if (!StatAt(fd, name, &st)) continue;
            ZoEntry* entry = At(contents, i);
            if (Same(entry, st)) {
                seen[i] = Moved(entry, st) ? MOVED : SAME;
                continue;
            }
            // Another object under a known name: the entry follows it.
            inodes.insert(st.st_ino);
            seen[i] = MOVED;
            if (IsDirectory(entry) == S_ISDIR(st.st_mode)) {
                Take(entry, st);
            } else {
                retired.push_back(entry);
                contents->DelItem(i);
                // An insertion cannot append: the last place is filled by one.
                ZoEntry* fresh = Make(full, name, st);
                if (i < contents->Size()) {
                    contents->AddItem(i, fresh);
                } else {
                    contents->AddItem(fresh);
                }
            }
            continue;
        }
        if (filtered ? !Kept(name, filterCount, filters) : IsDots(name)) continue;
        if (!StatAt(fd, name, &st)) continue;
        if (!inodes.insert(st.st_ino).second) continue;  // another name of a known object
        ZoEntry* entry = Make(full, name, st);
        Append(contents, entry);
        if (mode != SCAN_INIT) Append(changes, new T_Update{UPDATE_ADDED, entry});
    }
    closedir(dir);
    for (ZoEntry* entry : retired)
        delete entry;
    if (mode != SCAN_PASS) return;

    // The known entries in list order: changed ones reported, vanished ones
    // reported and taken out. Taking them out one DelItem at a time would
    // shift the rest of the list each time; the survivors are gathered and
    // put back at once, the entries taken in above after them.
    std::vector<ZoEntry*> kept;
    bool removing = false;
    for (long i = 0; i < count; i++) {
        ZoEntry* entry = At(contents, i);
        if (seen[i] == UNSEEN) {
            if (!removing) {
                removing = true;
                kept.reserve(static_cast<size_t>(contents->Size()));
                for (long j = 0; j < i; j++)
                    kept.push_back(At(contents, j));
            }
            Append(changes, new T_Update{UPDATE_REMOVED, entry});
            continue;
        }
        if (seen[i] == MOVED) Append(changes, new T_Update{UPDATE_CHANGED, entry});
        if (removing) kept.push_back(entry);
    }
    if (!removing) return;
    for (long i = count; i < contents->Size(); i++)
        kept.push_back(At(contents, i));
    contents->Clean();
    for (ZoEntry* entry : kept)
        contents->AddItem(entry);
}

void ZoFolderWatcher::CheckByPath() {
    // Without a listing, each known entry's status is read through its path.
    std::vector<ZoEntry*> kept;
    for (long i = 0; i < contents->Size(); i++) {
        ZoEntry* entry = At(contents, i);
        struct stat st;
        if (!StatAt(AT_FDCWD, entry->GetFull(), &st)) {
            Append(changes, new T_Update{UPDATE_REMOVED, entry});
            continue;
        }
        kept.push_back(entry);
        bool moved;
        if (Same(entry, st)) {
            moved = Moved(entry, st);
        } else {
            // Kept as it is even when the kind changed: without a listing
            // nothing is made anew.
            Take(entry, st);
            moved = true;
        }
        if (moved) Append(changes, new T_Update{UPDATE_CHANGED, entry});
    }
    if (static_cast<long>(kept.size()) == contents->Size()) return;
    contents->Clean();
    for (ZoEntry* entry : kept)
        contents->AddItem(entry);
}

void ZoFolderWatcher::RemoveAll() {
    for (long i = 0; i < contents->Size(); i++)
        Append(changes, new T_Update{UPDATE_REMOVED, At(contents, i)});
    contents->Clean();
}

bool ZoFolderWatcher::HasSource() {
    Lock();
    bool set = source != nullptr;
    Unlock();
    return set;
}

ZOLIB_UNWOUND void ZoFolderWatcher::Wait() {
    if (period <= 0 || again) {
        again = false;
        IsCanceled();
        Yield();
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
    Lock();
    if (source != nullptr) {
        full = source->GetFull();
        parent = source->GetPath();
        parentName = source->GetName();
    }
    Unlock();
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

ZOLIB_UNWOUND void ZoFolderWatcher::Process() {
    // A stop request is honoured on either side of the wait, so Stop() ends
    // the thread without a cancellation. A source set before the thread
    // started needs no pass of its own.
    rearm = false;
    while (!IsStopped() && HasSource()) {
        Wait();
        // A source cleared meanwhile (which also wakes the wait) ends the
        // thread before the next pass.
        if (IsStopped() || !HasSource()) return;
        Refreshing(data);
        Pass();
    }
}

ZOLIB_UNWOUND void ZoFolderWatcher::Pass() {
    // Holds the lock for the whole pass and its Updated call, and gives it
    // back if the handler is cancelled.
    Lock();
    const ZoFolderWatcher* outer = passOwner;
    passOwner = this;
    ZoOnExit hold([this, outer] {
        passOwner = outer;
        Unlock();
    });
    {
        ZoNoCancel whole;  // the pass's lists and records are never left half updated
        DropChanges();
        Scan(SCAN_PASS);
    }
    if (changes->Size() > 0) Updated(changes, data);
    hold.Returned();
}

void ZoFolderWatcher::DropChanges() {
    for (long i = 0; i < changes->Size(); i++) {
        T_Update* record = static_cast<T_Update*>(changes->GetItem(i));
        // A removed entry belongs to its record alone.
        if (record->kind == UPDATE_REMOVED) delete record->entry;
        delete record;
    }
    changes->Clean();
}

void ZoFolderWatcher::DropContents() {
    for (long i = 0; i < contents->Size(); i++)
        delete At(contents, i);
    contents->Clean();
}

#include <zolib/fs/FolderWatcher.h>

#include "fs/internal/PathUtil.h"
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
#include <memory>
#include <new>
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

// A pass decides everything before it changes anything, so that one that
// runs out of memory (std::bad_alloc from its containers, or a null from the
// heap turned into one) leaves the watcher as it was.
[[noreturn]] void OutOfMemory() {
    throw std::bad_alloc();
}

// What Changed() does with a status already read, without recording it: the
// first status is only recorded (here, at once: it reports nothing); later,
// true when one of the three times moved.
bool Moved(ZoEntry* entry, const struct stat& now) {
    struct stat*& last = EntryState::Last(entry);
    if (last == nullptr) {
        last = new (std::nothrow) struct stat(now);
        if (last == nullptr) OutOfMemory();
        return false;
    }
    // A link whose target is missing: reading its status tries to follow it,
    // which may itself move the link's access time.
    if (S_ISLNK(now.st_mode) && S_ISLNK(last->st_mode)) last->st_atim = now.st_atim;
    return !SameTime(now.st_atim, last->st_atim) || !SameTime(now.st_ctim, last->st_ctim) ||
           !SameTime(now.st_mtim, last->st_mtim);
}

// Gives an entry a place for its status before a pass decides anything.
void Room(ZoEntry* entry, const struct stat& now) {
    if (EntryState::Last(entry) == nullptr) (void)Moved(entry, now);
}

// Records a status, of the object seen before or of another one; the entry
// has its place for it (Room).
void Take(ZoEntry* entry, const struct stat& now) {
    EntryState::Inode(entry) = now.st_ino;
    *EntryState::Last(entry) = now;
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
    std::unique_ptr<ZoEntry> entry;
    if (S_ISDIR(st.st_mode)) {
        entry.reset(new ZoDirectory(dir, name, false));
    } else {
        entry.reset(new ZoEntry(dir, name));
    }
    // An entry that could not copy its strings names nothing.
    if (entry->GetName() == ZoNoText) OutOfMemory();
    Room(entry.get(), st);
    Take(entry.get(), st);
    return entry.release();
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

ZoEntry* At(ZoList* list, long index) {
    return static_cast<ZoEntry*>(list->GetItem(index));
}

// Room for `more` further items, so that the appends that follow cannot
// fail. The lists grow by a fixed step of 10; doubling instead keeps an
// append O(1) on average when a pass takes in or reports thousands of
// entries.
void Reserve(ZoList* list, size_t more) {
    long need = list->Size() + static_cast<long>(more);
    if (need <= list->Length()) return;
    list->IncTo(std::max(need, std::max(2 * list->Length(), 10L)));
    if (need > list->Length()) list->IncTo(need);  // no room to double
    if (need > list->Length()) OutOfMemory();
}

// The change records of a pass, made before it changes anything; those not
// handed out are released with the set.
class Records {
  public:
    explicit Records(ZoList* changes) : changes(changes) {}
    // Makes `count` records and room for them in the change list.
    void Make(size_t count) {
        spare.reserve(count);
        for (size_t i = 0; i < count; i++)
            spare.push_back(new T_Update{UPDATE_ADDED, nullptr});
        Reserve(changes, count);
    }
    ~Records() {
        for (T_Update* record : spare)
            delete record;
    }
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;
    void Add(int kind, ZoEntry* entry) {
        T_Update* record = spare.back();
        spare.pop_back();
        record->kind = kind;
        record->entry = entry;
        changes->AddItem(record);
    }

  private:
    ZoList* changes;
    std::vector<T_Update*> spare;
};

// Puts the entries back in the list, which has room for them.
void Refill(ZoList* list, const std::vector<ZoEntry*>& entries) {
    list->Clean();
    for (ZoEntry* entry : entries)
        list->AddItem(entry);
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
      contents(new (std::nothrow) ZoList(10, 10)),
      changes(new (std::nothrow) ZoList(10, 10)),
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
    // Without memory for the new directory the watcher stays as it is.
    std::unique_ptr<ZoDirectory> dir;
    try {
        dir.reset(new ZoDirectory(path, false));
    } catch (const std::bad_alloc&) {
        return;
    }
    if (dir->GetName() == ZoNoText) return;
    SetSource(dir.release());
}

void ZoFolderWatcher::SetSource(ZoDirectory* dir) {
    if (contents == nullptr || changes == nullptr) {  // a watcher made without memory
        delete dir;
        return;
    }
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
    // A scan without memory leaves the contents empty; the next pass makes
    // it again instead, and reports nothing either.
    initPending = !Scan(SCAN_INIT);
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

bool ZoFolderWatcher::Scan(ScanMode mode) {
    if (source == nullptr) return true;
    if (contents == nullptr || changes == nullptr) return false;
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

    const char* full = source->GetFull();
    int fd = full != nullptr ? open(full, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
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
        return mode != SCAN_PASS || CheckByPath();
    }
    // The directory last listed is held open, so its inode cannot be reused
    // by another directory: a different identity at the path means the
    // directory was replaced.
    bool replaced = heldFd >= 0 && (dirStat.st_dev != heldDev || dirStat.st_ino != heldIno);
    if (replaced && mode != SCAN_INIT) {
        bool done = true;
        if (mode == SCAN_PASS) {
            // The old entries go in this pass, the new directory's come in
            // the next, as for an entry renamed inside the directory.
            done = RemoveAll();
            if (done) {
                Hold(fd, dirStat);
                again = true;
            }
        }
        close(fd);
        return done;
    }
    if (heldFd < 0 || replaced) Hold(fd, dirStat);
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return false;
    }
    struct Closing {
        DIR* dir;
        ~Closing() { closedir(dir); }
    } closing{dir};

    const long count = contents->Size();
    // What the listing found, before anything changes: the known entries'
    // states, the statuses to record, the entries taken in.
    enum : unsigned char { UNSEEN, SAME, MOVED, OTHER };
    struct Found {
        long index;
        struct stat st;
        ZoEntry* fresh;  // a new entry of the right kind in the known one's place
    };
    std::vector<unsigned char> seen;
    std::vector<Found> found;     // known entries whose times or object changed
    std::vector<ZoEntry*> added;  // new names, in listing order
    std::vector<ZoEntry*> kept;   // the entries that stay, when some go
    Records records(changes);
    size_t removed = 0;
    try {
        // The known entries by name (each name has at most one) and by inode
        // (what FindItem(entry, entrymatch) over the contents would find),
        // the inodes of entries taken in during this listing included.
        std::unordered_map<std::string_view, long> byName;
        std::unordered_set<ino_t> inodes;
        byName.reserve(static_cast<size_t>(count));
        inodes.reserve(static_cast<size_t>(count));
        for (long i = 0; i < count; i++) {
            ZoEntry* entry = At(contents, i);
            byName.emplace(entry->GetName(), i);
            inodes.insert(EntryState::Inode(entry));
        }
        seen.assign(static_cast<size_t>(count), UNSEEN);
        const bool filtered = filterCount > 0 && filters != nullptr;

        while (struct dirent* listed = readdir(dir)) {
            const char* name = listed->d_name;
            auto known = byName.find(name);
            struct stat st;
            if (known != byName.end()) {
                if (mode != SCAN_PASS) continue;
                long i = known->second;
                // A name that vanished since the listing read it is left
                // unseen: it is reported removed.
                if (!StatAt(fd, name, &st)) continue;
                ZoEntry* entry = At(contents, i);
                if (Same(entry, st)) {
                    seen[i] = Moved(entry, st) ? MOVED : SAME;
                    if (seen[i] == MOVED) found.push_back({i, st, nullptr});
                    continue;
                }
                // Another object under a known name: the entry follows it,
                // or a new one of the right kind takes its place.
                inodes.insert(st.st_ino);
                seen[i] = OTHER;
                Room(entry, st);
                found.push_back({i, st, nullptr});
                if (IsDirectory(entry) != S_ISDIR(st.st_mode))
                    found.back().fresh = Make(full, name, st);
                continue;
            }
            if (filtered ? !Kept(name, filterCount, filters) : IsDots(name)) continue;
            if (!StatAt(fd, name, &st)) continue;
            if (!inodes.insert(st.st_ino).second) continue;  // another name of a known object
            added.push_back(nullptr);
            added.back() = Make(full, name, st);
        }

        // Room in the lists, and the records, for what follows.
        Reserve(contents, added.size());
        size_t reports = mode == SCAN_INIT ? 0 : added.size();
        if (mode == SCAN_PASS) {
            removed = static_cast<size_t>(std::count(seen.begin(), seen.end(), UNSEEN));
            reports += removed + found.size();
            if (removed > 0) kept.reserve(static_cast<size_t>(count) - removed + added.size());
        }
        records.Make(reports);
    } catch (const std::bad_alloc&) {
        for (ZoEntry* entry : added)
            delete entry;
        for (const Found& change : found)
            delete change.fresh;
        return false;
    }

    // From here on nothing fails. Statuses are recorded and replaced entries
    // swapped for their successors (the list keeps its length), the new names
    // appended.
    for (const Found& change : found) {
        ZoEntry* entry = At(contents, change.index);
        if (change.fresh == nullptr) {
            Take(entry, change.st);
            continue;
        }
        contents->DelItem(change.index);
        // An insertion cannot append: the last place is filled by one.
        if (change.index < contents->Size()) {
            contents->AddItem(change.index, change.fresh);
        } else {
            contents->AddItem(change.fresh);
        }
        delete entry;
    }
    for (ZoEntry* entry : added) {
        contents->AddItem(entry);
        if (mode != SCAN_INIT) records.Add(UPDATE_ADDED, entry);
    }
    if (mode != SCAN_PASS) return true;

    // The known entries in list order: changed ones reported, vanished ones
    // reported and taken out. Taking them out one DelItem at a time would
    // shift the rest of the list each time; the survivors are gathered and
    // put back at once, the entries taken in above after them.
    for (long i = 0; i < count; i++) {
        ZoEntry* entry = At(contents, i);
        if (seen[i] == UNSEEN) {
            records.Add(UPDATE_REMOVED, entry);
            continue;
        }
        if (seen[i] != SAME) records.Add(UPDATE_CHANGED, entry);
        if (removed > 0) kept.push_back(entry);
    }
    if (removed == 0) return true;
    kept.insert(kept.end(), added.begin(), added.end());
    Refill(contents, kept);
    return true;
}

bool ZoFolderWatcher::CheckByPath() {
    // Without a listing, each known entry's status is read through its path.
    const long count = contents->Size();
    std::vector<struct stat> now;
    std::vector<unsigned char> state;  // 0: gone, 1: the same, 2: changed
    std::vector<ZoEntry*> kept;
    Records records(changes);
    try {
        now.resize(static_cast<size_t>(count));
        state.assign(static_cast<size_t>(count), 0);
        size_t gone = 0, reports = 0;
        for (long i = 0; i < count; i++) {
            ZoEntry* entry = At(contents, i);
            struct stat& st = now[i];
            if (!StatAt(AT_FDCWD, entry->GetFull(), &st)) {
                gone++;
                reports++;
                continue;
            }
            // Kept as it is even when the kind changed: without a listing
            // nothing is made anew.
            bool same = Same(entry, st);
            Room(entry, st);
            state[i] = same && !Moved(entry, st) ? 1 : 2;
            reports += state[i] == 2;
        }
        if (gone > 0) kept.reserve(static_cast<size_t>(count) - gone);
        records.Make(reports);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (long i = 0; i < count; i++) {
        ZoEntry* entry = At(contents, i);
        if (state[i] == 0) {
            records.Add(UPDATE_REMOVED, entry);
            continue;
        }
        kept.push_back(entry);
        if (state[i] == 2) {
            Take(entry, now[i]);
            records.Add(UPDATE_CHANGED, entry);
        }
    }
    if (static_cast<long>(kept.size()) != count) Refill(contents, kept);
    return true;
}

bool ZoFolderWatcher::RemoveAll() {
    Records records(changes);
    try {
        records.Make(static_cast<size_t>(contents->Size()));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (long i = 0; i < contents->Size(); i++)
        records.Add(UPDATE_REMOVED, At(contents, i));
    contents->Clean();
    return true;
}

bool ZoFolderWatcher::HasSource() {
    if (contents == nullptr || changes == nullptr) return false;
    Lock();
    bool set = source != nullptr;
    Unlock();
    return set;
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
        // A pass without memory changes nothing and reports nothing: the
        // next one, a period later, finds the same changes.
        if (initPending) {
            initPending = !Scan(SCAN_INIT);
            retry = initPending;
        } else {
            retry = !Scan(SCAN_PASS);
        }
    }
    if (changes->Size() > 0) Updated(changes, data);
    hold.Returned();
}

void ZoFolderWatcher::DropChanges() {
    if (changes == nullptr) return;
    for (long i = 0; i < changes->Size(); i++) {
        T_Update* record = static_cast<T_Update*>(changes->GetItem(i));
        // A removed entry belongs to its record alone.
        if (record->kind == UPDATE_REMOVED) delete record->entry;
        delete record;
    }
    changes->Clean();
}

void ZoFolderWatcher::DropContents() {
    if (contents == nullptr) return;
    for (long i = 0; i < contents->Size(); i++)
        delete At(contents, i);
    contents->Clean();
}

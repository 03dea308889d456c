#include <zolib/fs/FolderWatcher.h>

#include "internal/Unwind.h"

#include <zolib/threads/Snooze.h>

#include <pthread.h>
#include <sys/types.h>

#include <unordered_set>
#include <vector>

namespace {

// The watcher whose pass holds its lock on this thread, if any: SetSource and
// SetFilter called from the hooks must not take the (non-recursive) lock again.
thread_local const ZoFolderWatcher* passOwner = nullptr;

// The inode an entry noted at its last successful Exists(), which is all that
// entrymatch compares. ZoEntry keeps it protected; a pointer to the member
// formed through a derived class reaches it without widening ZoEntry's API.
struct InodeOf : ZoEntry {
    static ino_t Get(const ZoEntry* entry) { return entry->*(&InodeOf::inode); }
};

ZoEntry* At(ZoList* list, long index) {
    return static_cast<ZoEntry*>(list->GetItem(index));
}

// The lists grow by a fixed step of 10; doubling instead keeps an append O(1)
// on average when a pass takes in or reports thousands of entries.
void Append(ZoList* list, void* item) {
    if (list->Size() >= list->Length()) list->IncBy(list->Length() > 10 ? list->Length() : 10);
    list->AddItem(item);
}

// Keeps cancellation off for the life of the object: the pass's lists and
// records must never be left half updated.
class NoCancel {
  public:
    NoCancel() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &before); }
    ~NoCancel() {
        int ignored;
        pthread_setcancelstate(before, &ignored);
    }
    NoCancel(const NoCancel&) = delete;
    NoCancel& operator=(const NoCancel&) = delete;

  private:
    int before;
};

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
      filters(nullptr) {}

ZoFolderWatcher::~ZoFolderWatcher() {
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
    InitScan();
    if (!nested) Unlock();
}

void ZoFolderWatcher::SetFilter(int count, const char* const* list) {
    bool nested = passOwner == this;
    if (!nested) Lock();
    filterCount = count;
    filters = list;
    if (!nested) Unlock();
}

void ZoFolderWatcher::InitScan() {
    if (source == nullptr) return;
    source->Rewind(filterCount, filters);
    while (ZoEntry* entry = source->NextEntry()) {
        entry->Changed(nullptr);
        Append(contents, entry);
    }
}

void ZoFolderWatcher::Refresh() {
    if (source == nullptr) return;
    source->Rewind(filterCount, filters);
    // What a linear FindItem(entry, entrymatch) over the contents would find,
    // in constant time: the inodes of the known entries, the new ones
    // included as they are taken in.
    std::unordered_set<ino_t> known;
    known.reserve(static_cast<size_t>(contents->Size()));
    for (long i = 0; i < contents->Size(); i++)
        known.insert(InodeOf::Get(At(contents, i)));
    while (ZoEntry* entry = source->NextEntry()) {
        if (!known.insert(InodeOf::Get(entry)).second) {
            delete entry;
            continue;
        }
        entry->Changed(nullptr);
        Append(contents, entry);
        Append(changes, new T_Update{UPDATE_ADDED, entry});
    }
}

bool ZoFolderWatcher::HasSource() {
    Lock();
    bool set = source != nullptr;
    Unlock();
    return set;
}

ZOLIB_UNWOUND void ZoFolderWatcher::Sleep() {
    if (period > 0) {
        mSnooze(static_cast<unsigned long>(period));
    } else {
        IsCanceled();
        Yield();
    }
}

ZOLIB_UNWOUND void ZoFolderWatcher::Process() {
    // A stop request is honoured on either side of the sleep, so Stop() ends
    // the thread within one period without a cancellation.
    while (!IsStopped() && HasSource()) {
        Sleep();
        if (IsStopped()) return;
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
        NoCancel whole;
        DropChanges();
        Refresh();
        CheckKnown();
    }
    if (changes->Size() > 0) Updated(changes, data);
    hold.Returned();
}

void ZoFolderWatcher::CheckKnown() {
    long count = contents->Size();
    // Taking removed entries out one DelItem at a time would shift the rest
    // of the list each time; the survivors are gathered and put back at once.
    std::vector<ZoEntry*> kept;
    bool removing = false;
    for (long i = 0; i < count; i++) {
        ZoEntry* entry = At(contents, i);
        int err = 0;
        bool moved = entry->Changed(&err);
        if (moved && err != 0) {
            if (!removing) {
                removing = true;
                kept.reserve(static_cast<size_t>(count));
                for (long j = 0; j < i; j++)
                    kept.push_back(At(contents, j));
            }
            Append(changes, new T_Update{UPDATE_REMOVED, entry});
            continue;
        }
        if (moved) Append(changes, new T_Update{UPDATE_CHANGED, entry});
        if (removing) kept.push_back(entry);
    }
    if (!removing) return;
    contents->Clean();
    for (ZoEntry* entry : kept)
        contents->AddItem(entry);
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

// ZoFolderWatcher: a thread that polls one directory and reports what changed.
//
// Every `period` milliseconds the watcher lists its source directory and
// compares it with the entries it knows (Contents()): names whose inode it
// does not know are taken in and reported UPDATE_ADDED; known entries whose
// access, status-change or modification time moved are reported
// UPDATE_CHANGED, and those whose status can no longer be read are taken out
// and reported UPDATE_REMOVED. Identity is the inode alone, so a file renamed
// inside the directory is reported removed in one pass and added under its
// new name in the next. Within a pass the added records come first, in
// listing order, then the changed and removed ones in Contents() order. A
// pass costs time in proportion to the number of entries.
//
// Hooks: Refreshing(data) runs at the start of every pass, Updated(changes,
// data) after a pass that made at least one record; both on the watcher
// thread. Updated runs with the watcher locked (see Threads).
//
// Ownership: the watcher owns its source directory, Contents() and the
// entries in it, and the change list with its records. A record, and the
// removed entry it points to, live until the next pass (or SetSource) drops
// them; a handler must not keep them. The filter array is borrowed and must
// outlive its use.
//
// Threads: the pass runs with the watcher's lock held (ZoLocker part), and so
// do SetSource and SetFilter, so none of them overlaps another. Another
// thread that reads Contents() or its entries holds Lock() meanwhile; the
// Updated handler already holds it and must not call Lock(). SetSource and
// SetFilter may be called from the handlers (they notice the pass's own lock);
// SetSource from Updated drops the records being reported.
//
// Blocking: SetSource and SetFilter wait for a pass that is under way,
// including its Updated handler. Cancel() takes effect in the sleep between
// passes or in a hook, never in the middle of a pass, so a cancelled watcher
// is always left whole. Stop() ends the thread before the next pass.
//
// Lifetime: the destructor cancels a running thread before it releases
// anything. A subclass whose hooks use its own members cancels (or stops and
// waits for) the thread in its own destructor. A watcher must not be
// destroyed from its own hooks.
//
// Failure: nothing is reported beyond the records. A source that cannot be
// read lists nothing: no new entries, while the known ones are still checked.
#pragma once

#include <zolib/Export.h>
#include <zolib/containers/List.h>
#include <zolib/fs/Directory.h>
#include <zolib/fs/Entry.h>
#include <zolib/threads/Locker.h>
#include <zolib/threads/Thread.h>

#include <cstddef>

// Kinds of T_Update records.
enum {
    UPDATE_ADDED = 0,    // a listed name whose inode no known entry has
    UPDATE_CHANGED = 1,  // a known entry whose times moved
    UPDATE_REMOVED = 2   // a known entry whose status can no longer be read
};

// One change found by a pass. For UPDATE_REMOVED the entry has been taken out
// of the contents and is released with the record.
struct T_Update {
    int kind;        // UPDATE_ADDED, UPDATE_CHANGED or UPDATE_REMOVED
    ZoEntry* entry;  // the watcher's entry (ZoDirectory for a subdirectory)
};

// Comparator of two ZoEntry objects for ZoContainer::FindItem: 0 when they
// carry the same inode, 1 otherwise (also when either is null).
ZOLIB_API int entrymatch(const void* a, const void* b);

class ZOLIB_API ZoFolderWatcher : public ZoThread, public ZoLocker {
  public:
    // An unnamed thread, not started: call SetSource, then Run(). A period of
    // 0 or less runs the passes back to back.
    ZoFolderWatcher(long period, void* data);
    ~ZoFolderWatcher() override;

    // The pass loop: sleep, Refreshing, pass, Updated; ends when there is no
    // source at the top of the loop (at once when Run() came before
    // SetSource) or when Stop() was called.
    void Process() override;
    // At the start of every pass, before anything is read; nothing here.
    virtual void Refreshing(void* data);
    // After a pass with records, holding the watcher's lock; `changes` holds
    // the pass's T_Update* records (the watcher's, valid until the next
    // pass) and `data` is the constructor's. Nothing here.
    virtual void Updated(ZoList* changes, void* data);

    // Watches new ZoDirectory(path, false).
    void SetSource(const char* path);
    // Takes over dir (deleted by the watcher later). The old source, its
    // entries and any records are released, and Contents() is filled with
    // dir's entries as they are now, without records. Null stops watching:
    // the thread ends before its next pass. Passing the current source
    // again rescans it.
    void SetSource(ZoDirectory* dir);
    void SetSource(std::nullptr_t) { SetSource(static_cast<ZoDirectory*>(nullptr)); }
    // Extension filters (as ZoDirectory::Rewind takes them) for the next
    // listing. They limit only which new names are taken in: known entries
    // are checked whatever their names.
    void SetFilter(int count, const char* const* filters);

    // Fills Contents() from the source, recording each entry's status. Part
    // of SetSource; the caller holds the lock (or the thread is not running).
    void InitScan();
    // Lists the source and takes in the names whose inode is not known yet,
    // each with an UPDATE_ADDED record. The listing half of a pass; the caller
    // holds the lock (or the thread is not running).
    void Refresh();

    // The list itself (ZoEntry*, ZoDirectory* for subdirectories), not a copy;
    // read it under Lock() while the thread runs.
    ZoList* Contents() const { return contents; }

  protected:
    ZoList* contents;  // known entries (owned, as are the entries)
    ZoList* changes;   // T_Update records of the last pass (owned)
    ZoDirectory* source;
    void* data;
    long period;
    int filterCount;
    const char* const* filters;  // borrowed

  private:
    bool HasSource();
    void Sleep();
    void Pass();
    void CheckKnown();
    void DropChanges();
    void DropContents();
};

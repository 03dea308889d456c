// ZoFolderWatcher: a thread that watches one directory and reports what
// changed.
//
// A pass lists the source directory and compares it with the entries the
// watcher knows (Contents()): names it does not know, whose inode it does not
// know either, are taken in and reported UPDATE_ADDED; known entries whose
// access, status-change or modification time moved are reported
// UPDATE_CHANGED, and those that are no longer there are taken out and
// reported UPDATE_REMOVED. Identity is the inode, so a file renamed inside
// the directory is reported removed in one pass and added under its new name
// in the next, and a second name of a known file is not taken in. Within a
// pass the added records come first, in listing order, then the changed and
// removed ones in Contents() order. A pass reads each name's status once and
// costs time in proportion to the number of names.
//
// Each name has at most one entry. A name that now names another object (a
// file replaced by an atomic save: written elsewhere and renamed over the old
// name, or removed and made again) keeps its entry, which takes on the new
// object and is reported UPDATE_CHANGED (the entry object itself is replaced
// when the name turns from a directory into something else or back). A
// symbolic link whose target is missing is an entry of its own, with the
// link's own status; it is reported changed when it is re-pointed or its
// target appears. When the source directory itself is removed, its entries
// are reported removed; when a directory of the same name takes its place
// (made again, or moved there), the watcher follows it: a pass reports the
// old entries removed and the next pass the new directory's entries added.
//
// When a pass runs: by default the thread sleeps until the kernel reports a
// change in the directory (inotify), lets a short settle time go by so that a
// burst of changes makes one pass (2 ms, or twice the last pass's time when
// that is longer; never more than the period), and then runs the pass. When
// it starts watching a directory (at the start, and when the directory was
// replaced or reappeared) it runs a pass at once, for what happened before
// the watch was made. A full pass still runs when `period` milliseconds went
// by without one, as a safety net for what the kernel does not report:
// changes inside subdirectories (which move their times) and to the targets
// of links. That interval
// stretches for large directories, so that the safety net alone never takes
// more than 1/2000 of a core: at least 2000 times the last pass's duration,
// but at most 10 minutes unless the period is longer. Where notification
// cannot be used (no inotify, its limits reached, a network or FUSE file
// system, the source missing, or SetPolling(true)) the thread polls: it
// sleeps `period` between passes. A period of 0 or less runs the passes back
// to back in either mode. Notifications only choose when a pass runs; what a
// pass reports is the same either way.
//
// Hooks: Refreshing(data) runs at the start of every pass, Updated(changes,
// data) after a pass that made at least one record; both on the watcher
// thread. Updated runs with the watcher locked (see Threads).
//
// Ownership: the watcher owns its source directory, Contents() and the
// entries in it, and the change list with its records. A record, and the
// removed entry it points to, live until the next pass (or SetSource) drops
// them; a handler must not keep them. The filter array is borrowed and must
// outlive its use. A watcher holds up to three descriptors (the directory it
// last listed, an inotify instance and an eventfd) and two inotify watches
// (the source and its parent), all released by the destructor.
//
// Threads: the pass runs with the watcher's lock held (ZoLocker part), and so
// do SetSource and SetFilter, so none of them overlaps another. Another
// thread that reads Contents() or its entries holds Lock() meanwhile; the
// Updated handler already holds it and must not call Lock(). SetSource and
// SetFilter may be called from the handlers (they notice the pass's own lock);
// SetSource from Updated drops the records being reported.
//
// Blocking: SetSource and SetFilter wait for a pass that is under way,
// including its Updated handler. Cancel() takes effect in the wait between
// passes or in a hook, never in the middle of a pass, so a cancelled watcher
// is always left whole. Stop() ends the thread before the next pass (within a
// second while it waits for notifications, within the period while it polls).
//
// Lifetime: the destructor cancels a running thread before it releases
// anything. A subclass whose hooks use its own members cancels (or stops and
// waits for) the thread in its own destructor. A watcher must not be
// destroyed from its own hooks.
//
// Failure: nothing is reported beyond the records. A source that cannot be
// read lists nothing: no new entries, while the known ones are still checked
// one by one and reported removed when their status can no longer be read.
// A pass that runs out of memory changes nothing and reports nothing (no
// Updated call); the next pass, a period later, finds the same changes. A
// scan of a new source that runs out of memory leaves Contents() empty and
// the next pass scans it instead (without records). SetSource(path) without
// memory for the directory keeps the current source. A watcher constructed
// without memory for its lists has a null Contents() and never runs a pass.
#pragma once

#include <zolib/Export.h>
#include <zolib/containers/List.h>
#include <zolib/fs/Directory.h>
#include <zolib/fs/Entry.h>
#include <zolib/threads/Locker.h>
#include <zolib/threads/Thread.h>

#include <atomic>
#include <cstddef>
#include <string>

// Kinds of T_Update records.
enum {
    UPDATE_ADDED = 0,    // a listed name whose inode no known entry has
    UPDATE_CHANGED = 1,  // a known entry whose times moved
    UPDATE_REMOVED = 2   // a known entry that is no longer there
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

    // The pass loop: wait, Refreshing, pass, Updated; ends when there is no
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
    // Lists the source and takes in the names that are not known yet and
    // whose inode is not known either, each with an UPDATE_ADDED record. The
    // listing half of a pass (known entries are not checked); the caller
    // holds the lock (or the thread is not running).
    void Refresh();

    // true: poll every period, never waiting for notifications; false (the
    // default): wait for them where the system can give them. Takes effect
    // at the next wait, also while the thread runs.
    void SetPolling(bool force);
    // Whether the running thread waits for notifications from the kernel
    // (false before it first waits, and while it polls).
    bool Notifying() const { return notifying; }

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
    enum ScanMode { SCAN_INIT, SCAN_NEW, SCAN_PASS };

    bool HasSource();
    void Wait();
    bool Arm(bool* fresh);
    bool Drain();
    void Wake();
    void Pass();
    bool Scan(ScanMode mode);
    void Hold(int fd, const struct stat& st);
    bool CheckByPath();
    bool RemoveAll();
    void DropChanges();
    void DropContents();

    std::atomic<bool> forcePolling{false};
    std::atomic<bool> notifying{false};
    std::atomic<bool> rearm{false};
    std::atomic<long> passMicros{0};  // time the last scan took
    int notifyFd = -1;                // inotify instance (watcher thread)
    int sourceWatch = -1;             // its watch on the source
    int parentWatch = -1;             // and on the source's parent
    std::string parentName;           // the source's name in its parent
    int wakeFd = -1;                  // eventfd: the source or the mode changed
    int heldFd = -1;                  // the source directory last listed, kept open
    dev_t heldDev = 0;                // and its identity
    ino_t heldIno = 0;
    bool again = false;        // run the next pass at once
    bool retry = false;        // the last pass ran out of memory: pass after a period
    bool initPending = false;  // the scan of the source ran out of memory (under the lock)
};

// ZoEntry: one file-system object (file, directory, device, link) named by path.
//
// An entry is only a name: making one touches nothing on disk, and the object
// may appear, change or vanish while the entry lives. The path is kept as three
// strings: the directory part (GetPath), the last component (GetName) and the
// full path (GetFull). An entry built from one path holds the rel2full form of
// it, split by splitfull (both in <zolib/fs/Path.h>, included here).
//
// Ownership: the entry owns its strings; getters hand out pointers that stay
// valid until the entry replaces them or is destroyed. Objects returned by
// Parent() and Original() are new and the caller deletes them.
// Blocking: each call makes a few system calls on the path; Copy reads and
// writes the whole file.
// Threads: no lock; one thread at a time. Entries built from relative paths
// depend on the current directory at construction time.
// Failure: actions return false and leave the entry unchanged; errno is left
// as the system call set it. Construction never fails (InitCheck is true).
#pragma once

#include <zolib/Export.h>
#include <zolib/LargeFiles.h>
#include <zolib/fs/Path.h>

#include <sys/stat.h>
#include <sys/types.h>

class ZoDirectory;

// Kinds returned by ZoEntry::Flavor(), from the status (symbolic links followed).
enum {
    FLAVOR_NONE = 0,  // the status cannot be read, or a kind not listed
    FLAVOR_DIRECTORY = 1,
    FLAVOR_CHAR_DEVICE = 2,
    FLAVOR_BLOCK_DEVICE = 3,
    FLAVOR_FILE = 4,
    FLAVOR_FIFO = 5,
    FLAVOR_LINK = 6,
    FLAVOR_SOCKET = 7
};

class ZOLIB_API ZoEntry {
  public:
    // path is made absolute with rel2full against the current directory. ".."
    // of the root or of a top-level directory names the root, as the system
    // resolves it. A null path (or one that cannot be resolved because the
    // current directory is unreadable) gives an entry that names nothing: all
    // three strings are "" and every action on it fails. So does a lack of
    // memory for the strings, in every constructor: an entry never holds a
    // null string.
    explicit ZoEntry(const char* path);
    // Neither part is normalised; full = strpath(dir, name), so "/" and "b"
    // give "//b". A null name counts as ""; a null dir names nothing.
    ZoEntry(const char* dir, const char* name);
    // Copies other's directory part and name and rebuilds full from them;
    // nothing else is copied (no status, inode 0).
    explicit ZoEntry(const ZoEntry* other);
    virtual ~ZoEntry();

    ZoEntry(const ZoEntry&) = delete;
    ZoEntry& operator=(const ZoEntry&) = delete;

    virtual bool InitCheck();  // always true
    // stat of full; on success the inode is remembered for == and !=.
    virtual bool Exists();
    // Copies the file's bytes to strpath(dir, name) (a null name: this entry's
    // name) with copy_file. dir is required. The flag is unused here.
    virtual bool Copy(const char* dir, const char* name, bool recursive);
    // remove() of full: a file, a link (not its target) or an empty directory.
    virtual bool Remove(bool recursive);

    char* GetPath() const { return path; }
    char* GetName() const { return name; }
    char* GetFull() const { return full; }
    // Never set by the library (attribute side files are named by entryattr).
    void* GetAttr() const { return attr; }
    // Points into the name just after its last "."; null when it has none.
    char* GetExt() const;
    // stat of full into *st; false when it fails or st is null.
    bool GetStat(struct stat* st) const;
    // FLAVOR_* of full, following symbolic links.
    int Flavor() const;

    // Polls the object's access, status-change and modification times (to
    // the nanosecond). The first call records them and returns false. Later:
    // true when a time moved (then recorded), or when the status can no
    // longer be read; *err (when err is not null) gets the stat result, 0 or
    // -1, so true with -1 means the object is gone.
    bool Changed(int* err);

    // Compare the inodes seen by the last successful Exists() of each entry,
    // nothing else. A null other is unequal.
    bool operator==(const ZoEntry* other) const;
    bool operator!=(const ZoEntry* other) const;

    // rename() to strpath(GetPath(), newName). Only full changes: GetName()
    // and GetPath() keep their old values. False for a null or empty newName.
    bool Rename(const char* newName);
    // rename() into dir, keeping the name; only full changes. False for a null
    // or empty dir and for an entry without a name (a top-level path).
    bool Move(const char* dir);
    // A symbolic link at strpath(dir, linkName) (null linkName: this entry's
    // name) whose text is this entry's full path.
    bool SoftLink(const char* dir, const char* linkName);
    // The same, with where made absolute (rel2full) and split (splitfull).
    bool SoftLink(const char* where);
    bool HardLink(const char* dir, const char* linkName);
    bool HardLink(const char* where);
    // Creates a missing object as an empty file; otherwise sets its
    // modification time to now and leaves its access time as it was.
    bool Touch();

    // The directory part as a new ZoDirectory (not created on disk). For a
    // top-level entry such as /usr, whose directory part is /usr itself, it
    // names the same directory. The directory part is resolved as any path
    // is: an empty one (ZoEntry("", "x")) gives the current directory. An
    // entry that names nothing gives a directory that names nothing. Null
    // without memory.
    ZoDirectory* Parent() const;
    // The target of a symbolic link as a new entry, or null when full is not a
    // link or without memory. A relative link text is taken from the link's own directory, as
    // the system resolves it.
    ZoEntry* Original() const;

  protected:
    struct stat* lastStat;  // times remembered by Changed (owned; null before)
    char* path;             // directory part (owned)
    char* name;             // last component (owned)
    char* full;             // full path (owned)
    // (An entry that names nothing shares one static "" for all three: the
    // library frees them, never a subclass.)
    void* attr;   // never set by the library
    ino_t inode;  // inode seen by the last successful Exists(); 0 before

  private:
    void Init(const char* dir, const char* base);
    bool Link(bool soft, const char* dir, const char* linkName);
    bool Link(bool soft, const char* where);
};

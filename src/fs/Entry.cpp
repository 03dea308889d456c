#include <zolib/fs/Entry.h>

#include "fs/internal/PathUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

char ZoNoText[1] = "";

void ZoFreeText(char* s) {
    if (s != ZoNoText) free(s);
}

namespace {

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Replaces *slot with fresh, releasing the old string.
void Replace(char** slot, char* fresh) {
    ZoFreeText(*slot);
    *slot = fresh;
}

// Keeps the three strings, or, when one of them could not be made, none: the
// entry then names nothing.
void Settle(char** path, char** name, char** full) {
    if (*path != nullptr && *name != nullptr && *full != nullptr) return;
    ZoFreeText(*path);
    ZoFreeText(*name);
    ZoFreeText(*full);
    *path = *name = *full = ZoNoText;
}

}  // namespace

ZoEntry::ZoEntry(const char* p)
    : lastStat(nullptr), path(nullptr), name(nullptr), full(nullptr), attr(nullptr), inode(0) {
    full = ZoResolvePath(p, true);
    if (full != nullptr) splitfull(full, &path, &name);
    Settle(&path, &name, &full);
}

ZoEntry::ZoEntry(const char* dir, const char* base)
    : lastStat(nullptr), path(nullptr), name(nullptr), full(nullptr), attr(nullptr), inode(0) {
    Init(dir, base);
}

ZoEntry::ZoEntry(const ZoEntry* other)
    : lastStat(nullptr), path(nullptr), name(nullptr), full(nullptr), attr(nullptr), inode(0) {
    if (other == nullptr) {
        Init(nullptr, nullptr);
    } else {
        Init(other->path, other->name);
    }
}

void ZoEntry::Init(const char* dir, const char* base) {
    if (dir != nullptr) {
        path = ZoCopyText(dir);
        name = ZoCopyText(base ? base : "");
        if (path != nullptr && name != nullptr) full = strpath(path, name);
    }
    // Nothing to name: empty strings keep every getter usable and make every
    // action fail instead of reaching some unintended path.
    Settle(&path, &name, &full);
}

ZoEntry::~ZoEntry() {
    ZoFreeText(path);
    ZoFreeText(name);
    ZoFreeText(full);
    delete lastStat;
}

bool ZoEntry::InitCheck() {
    return true;
}

bool ZoEntry::Exists() {
    struct stat st;
    if (stat(full, &st) != 0) return false;
    inode = st.st_ino;
    return true;
}

bool ZoEntry::Copy(const char* dir, const char* base, bool) {
    if (dir == nullptr || *dir == '\0') return false;
    char* target = strpath(dir, base ? base : name);
    if (target == nullptr) return false;
    bool ok = copy_file(full, target);
    free(target);
    return ok;
}

bool ZoEntry::Remove(bool) {
    return remove(full) == 0;
}

char* ZoEntry::GetExt() const {
    char* dot = strrchr(name, '.');
    return dot ? dot + 1 : nullptr;
}

bool ZoEntry::GetStat(struct stat* st) const {
    return st != nullptr && stat(full, st) == 0;
}

int ZoEntry::Flavor() const {
    struct stat st;
    if (stat(full, &st) != 0) return FLAVOR_NONE;
    switch (st.st_mode & S_IFMT) {
        case S_IFDIR:
            return FLAVOR_DIRECTORY;
        case S_IFCHR:
            return FLAVOR_CHAR_DEVICE;
        case S_IFBLK:
            return FLAVOR_BLOCK_DEVICE;
        case S_IFREG:
            return FLAVOR_FILE;
        case S_IFIFO:
            return FLAVOR_FIFO;
        case S_IFLNK:
            return FLAVOR_LINK;
        case S_IFSOCK:
            return FLAVOR_SOCKET;
        default:
            return FLAVOR_NONE;
    }
}

bool ZoEntry::Changed(int* err) {
    struct stat now;
    int rc = stat(full, &now);
    if (err != nullptr) *err = rc;
    if (lastStat == nullptr) {
        lastStat = new (std::nothrow) struct stat;
        if (lastStat == nullptr) return false;  // nothing recorded: the next call records
        if (rc == 0) {
            *lastStat = now;
        } else {
            memset(lastStat, 0, sizeof *lastStat);
        }
        return false;
    }
    if (rc != 0) return true;
    // Whole timestamps, not just seconds: two writes within one second are
    // still seen as two changes.
    if (SameTime(now.st_atim, lastStat->st_atim) && SameTime(now.st_ctim, lastStat->st_ctim) &&
        SameTime(now.st_mtim, lastStat->st_mtim)) {
        return false;
    }
    *lastStat = now;
    return true;
}

bool ZoEntry::operator==(const ZoEntry* other) const {
    return other != nullptr && inode == other->inode;
}

bool ZoEntry::operator!=(const ZoEntry* other) const {
    return !(*this == other);
}

bool ZoEntry::Rename(const char* newName) {
    // An empty name would make the target the entry's own directory.
    if (newName == nullptr || *newName == '\0') return false;
    char* target = strpath(path, newName);
    if (target == nullptr || rename(full, target) != 0) {
        free(target);
        return false;
    }
    Replace(&full, target);
    return true;
}

bool ZoEntry::Move(const char* dir) {
    // Without a name the target would be dir itself, and rename() would
    // replace an empty directory there.
    if (dir == nullptr || *dir == '\0' || *name == '\0') return false;
    char* target = strpath(dir, name);
    if (target == nullptr || rename(full, target) != 0) {
        free(target);
        return false;
    }
    Replace(&full, target);
    return true;
}

bool ZoEntry::Link(bool soft, const char* dir, const char* linkName) {
    if (dir == nullptr || *full == '\0') return false;
    char* at = strpath(dir, linkName ? linkName : name);
    if (at == nullptr) return false;
    bool ok = (soft ? symlink(full, at) : link(full, at)) == 0;
    free(at);
    return ok;
}

bool ZoEntry::Link(bool soft, const char* where) {
    char* whereFull = rel2full(where);
    if (whereFull == nullptr) return false;
    char* dir = nullptr;
    char* linkName = nullptr;
    splitfull(whereFull, &dir, &linkName);
    bool ok = Link(soft, dir, linkName);
    free(dir);
    free(linkName);
    free(whereFull);
    return ok;
}

bool ZoEntry::SoftLink(const char* dir, const char* linkName) {
    return Link(true, dir, linkName);
}

bool ZoEntry::SoftLink(const char* where) {
    return Link(true, where);
}

bool ZoEntry::HardLink(const char* dir, const char* linkName) {
    return Link(false, dir, linkName);
}

bool ZoEntry::HardLink(const char* where) {
    return Link(false, where);
}

bool ZoEntry::Touch() {
    struct stat st;
    if (stat(full, &st) != 0) {
        // O_EXCL: an object that appeared since the stat is touched below,
        // never truncated; nor is a file created at a dangling link's target.
        int fd = open(full, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    // UTIME_OMIT keeps the access time exactly, nanoseconds included.
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = 0;
    times[1].tv_nsec = UTIME_NOW;
    return utimensat(AT_FDCWD, full, times, 0) == 0;
}

ZoEntry* ZoEntry::Original() const {
    char* text = ZoReadLink(full);
    if (text == nullptr) return nullptr;
    char* target;
    if (text[0] == '/') {
        target = ZoCopyText(text);
    } else {
        // A relative text counts from the directory that holds the link.
        errno = 0;
        char* dir = getparent(full);
        if (dir == nullptr && errno == ENOMEM) {
            target = nullptr;
        } else if (dir == nullptr) {
            target = stradd("/", text);  // the link lies in the root
        } else if (*dir == '\0') {
            target = ZoCopyText(text);  // full itself is relative
        } else {
            target = strpath(dir, text);
        }
        free(dir);
    }
    free(text);
    if (target == nullptr) return nullptr;
    ZoEntry* entry = new (std::nothrow) ZoEntry(target);
    free(target);
    // Without memory the entry would name nothing: no target at all.
    if (entry != nullptr && *entry->full == '\0') {
        delete entry;
        entry = nullptr;
    }
    return entry;
}

#include <zolib/fs/Directory.h>

#include "fs/internal/PathUtil.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

bool IsDots(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool IsLink(const char* path) {
    struct stat st;
    return lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

// A new link at dest with the same text as the link at from.
bool CopyLink(const char* from, const char* dest) {
    char* text = ZoReadLink(from);
    bool ok = text != nullptr && symlink(text, dest) == 0;
    free(text);
    return ok;
}

// Search runs glob against a directory descriptor instead of changing the
// process's current directory. glob's directory hooks take no context, so
// the descriptor of the search running on this thread is kept here.
thread_local int searchBase = -1;

void* SearchOpen(const char* name) {
    int fd = openat(searchBase, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) close(fd);
    return dir;
}

// A new entry as made, or null (errno ENOMEM) when there was no memory for
// it or for its strings (it would name nothing).
template <class T>
T* Made(T* entry) {
    if (entry != nullptr && *entry->GetFull() == '\0') {
        delete entry;
        entry = nullptr;
    }
    if (entry == nullptr) errno = ENOMEM;
    return entry;
}

// A new entry or directory named dir + "/" + base, or null without memory.
ZoEntry* MakeEntry(bool isDir, const char* dir, const char* base) {
    if (isDir) return Made(new (std::nothrow) ZoDirectory(dir, base, false));
    return Made(new (std::nothrow) ZoEntry(dir, base));
}

struct dirent* SearchRead(void* dir) {
    return readdir(static_cast<DIR*>(dir));
}

void SearchClose(void* dir) {
    closedir(static_cast<DIR*>(dir));
}

int SearchLstat(const char* name, struct stat* st) {
    return fstatat(searchBase, name, st, AT_SYMLINK_NOFOLLOW);
}

int SearchStat(const char* name, struct stat* st) {
    return fstatat(searchBase, name, st, 0);
}

}  // namespace

ZoDirectory::ZoDirectory(const char* p, bool create)
    : ZoEntry(p), filterCount(0), filters(nullptr), stream(nullptr), current(nullptr) {
    if (create && !ZoDirectory::Exists()) mkdir(full, 0755);
}

ZoDirectory::ZoDirectory(const char* dir, const char* base, bool create)
    : ZoEntry(dir, base), filterCount(0), filters(nullptr), stream(nullptr), current(nullptr) {
    if (create && !ZoDirectory::Exists()) mkdir(full, 0755);
}

ZoDirectory::ZoDirectory(const ZoEntry* entry, bool create)
    : ZoEntry(entry), filterCount(0), filters(nullptr), stream(nullptr), current(nullptr) {
    if (create && !ZoDirectory::Exists()) mkdir(full, 0755);
}

// ZoEntry's, here because it builds a directory. The directory part is
// resolved as any path is, so an empty one (ZoEntry("", "x")) gives the
// current directory; only an entry that names nothing has a parent that names
// nothing too.
ZoDirectory* ZoEntry::Parent() const {
    if (*full == '\0') return new (std::nothrow) ZoDirectory("", "", false);
    return Made(new (std::nothrow) ZoDirectory(path, false));
}

ZoDirectory::~ZoDirectory() {
    if (stream != nullptr) closedir(stream);
}

bool ZoDirectory::Exists() {
    struct stat st;
    if (stat(full, &st) != 0) return false;
    inode = st.st_ino;
    return S_ISDIR(st.st_mode);
}

void ZoDirectory::Rewind(int count, const char* const* list) {
    if (stream == nullptr) {
        stream = opendir(full);
    } else {
        rewinddir(stream);
    }
    current = nullptr;
    bool filtered = count > 0 && list != nullptr;
    filterCount = filtered ? count : 0;
    filters = filtered ? list : nullptr;
}

bool ZoDirectory::Keep(const char* entryName) const {
    int dot = strfindlast(entryName, '.');
    if (dot == 0) return false;  // ".", or a name whose only dot leads it
    const char* ext = dot < 0 ? entryName : entryName + dot + 1;
    for (int i = 0; i < filterCount; i++) {
        if (filters[i] != nullptr && strcmp(ext, filters[i]) == 0) return true;
    }
    return false;
}

ZoEntry* ZoDirectory::NextEntry() {
    if (stream == nullptr) return nullptr;
    for (;;) {
        current = readdir(stream);
        if (current == nullptr) return nullptr;  // end of the listing, or a read error
        const char* entryName = current->d_name;
        if (filterCount > 0 ? !Keep(entryName) : IsDots(entryName)) continue;

        char* child = strpath(full, entryName);
        if (child == nullptr) return nullptr;  // errno ENOMEM
        struct stat st;
        bool isDir = stat(child, &st) == 0 && S_ISDIR(st.st_mode);
        free(child);
        ZoEntry* entry = MakeEntry(isDir, full, entryName);
        if (entry != nullptr) entry->Exists();
        return entry;
    }
}

ZoEntry* ZoDirectory::GetEntry(const char* entryName) {
    char* target = strpath(full, entryName);
    if (target == nullptr) return nullptr;
    struct stat st;
    bool isDir = stat(target, &st) == 0 && S_ISDIR(st.st_mode);
    free(target);
    return MakeEntry(isDir, full, entryName);
}

ZoList* ZoDirectory::Search(const char* pattern) {
    if (pattern == nullptr || *pattern == '\0') return nullptr;
    // O_PATH needs only search permission, exactly what entering the
    // directory with chdir would need.
    int base = open(full, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (base < 0) return nullptr;

    glob_t found;
    memset(&found, 0, sizeof found);
    found.gl_opendir = SearchOpen;
    found.gl_readdir = SearchRead;
    found.gl_closedir = SearchClose;
    found.gl_lstat = SearchLstat;
    found.gl_stat = SearchStat;
    searchBase = base;
    int rc = glob(pattern, GLOB_NOSORT | GLOB_ALTDIRFUNC, nullptr, &found);
    searchBase = -1;
    close(base);

    ZoList* list = nullptr;
    if (rc == 0 && found.gl_pathc > 0)
        list = new (std::nothrow) ZoList(static_cast<long>(found.gl_pathc), 10);
    // Every match or nothing: without memory for one, the list goes.
    bool whole = list != nullptr;
    for (size_t i = 0; whole && i < found.gl_pathc; i++) {
        const char* match = found.gl_pathv[i];
        // An absolute pattern's matches are not inside this directory;
        // joining them to full would name paths that do not exist.
        ZoEntry* entry = match[0] == '/' ? Made(new (std::nothrow) ZoEntry(match))
                                         : MakeEntry(false, full, match);
        whole = entry != nullptr && list->AddItem(entry);
        if (entry != nullptr && !whole) delete entry;
    }
    if (list != nullptr && !whole) {
        for (long i = 0; i < list->Size(); i++)
            delete static_cast<ZoEntry*>(list->GetItem(i));
        delete list;
        list = nullptr;
    }
    globfree(&found);
    return list;
}

bool ZoDirectory::Cd(const char* entryName) {
    if (entryName == nullptr || *entryName == '\0') return false;
    if (strcmp(entryName, "..") == 0) {
        char* up = path;
        char* upPath = nullptr;
        char* upName = nullptr;
        splitfull(up, &upPath, &upName);
        if (upPath == nullptr || upName == nullptr) {  // no memory: nothing changes
            free(upPath);
            free(upName);
            return false;
        }
        ZoFreeText(full);
        ZoFreeText(name);
        full = up;
        path = upPath;
        name = upName;
    } else {
        char* target = strpath(full, entryName);
        if (target == nullptr) return false;
        struct stat st;
        char* copy = nullptr;
        if (stat(target, &st) != 0 || !S_ISDIR(st.st_mode) ||
            (copy = ZoCopyText(entryName)) == nullptr) {
            free(target);
            return false;
        }
        ZoFreeText(path);
        path = full;
        ZoFreeText(name);
        name = copy;
        full = target;
    }
    // The open listing belongs to the old directory.
    if (stream != nullptr) {
        closedir(stream);
        stream = nullptr;
        current = nullptr;
    }
    return true;
}

bool ZoDirectory::Mkdir(const char* entryName, unsigned int mode) {
    if (entryName == nullptr || *entryName == '\0') return false;
    char* target = strpath(full, entryName);
    if (target == nullptr) return false;
    bool ok = mkdir(target, static_cast<mode_t>(mode)) == 0;
    free(target);
    return ok;
}

bool ZoDirectory::Children(std::vector<std::unique_ptr<ZoEntry>>* children) {
    // A listing cut short by a lack of memory (for the stream, an entry or
    // the vector) is no listing: the walks report failure instead of
    // treating it as the whole directory.
    errno = 0;
    Rewind(0, nullptr);
    bool whole = stream != nullptr || errno != ENOMEM;
    try {
        while (whole) {
            errno = 0;
            std::unique_ptr<ZoEntry> entry(NextEntry());
            if (!entry) {
                whole = errno != ENOMEM;
                break;
            }
            children->push_back(std::move(entry));
        }
    } catch (const std::bad_alloc&) {
        whole = false;
    }
    if (stream != nullptr) {
        closedir(stream);
        stream = nullptr;
        current = nullptr;
    }
    if (!whole) children->clear();
    return whole;
}

bool ZoDirectory::Empty(bool recursive) {
    std::vector<std::unique_ptr<ZoEntry>> children;
    if (!Children(&children)) return false;
    bool ok = true;
    for (auto& child : children) {
        if (ok) ok = child->Remove(recursive);
    }
    return ok;
}

bool ZoDirectory::Remove(bool recursive) {
    // Removing through a link would empty the linked directory, outside the
    // tree, and then fail on the link anyway.
    if (IsLink(full)) return unlink(full) == 0;
    if (recursive) {
        std::vector<std::unique_ptr<ZoEntry>> children;
        if (!Children(&children)) return false;
        for (auto& child : children)
            child->Remove(true);
    }
    return rmdir(full) == 0;
}

bool ZoDirectory::Copy(const char* dir, const char* base, bool) {
    const char* into = dir ? dir : path;
    if (*into == '\0') return false;
    char* dest = strpath(into, base ? base : name);
    if (dest == nullptr) return false;
    bool ok = CopyTo(dest, nullptr);
    free(dest);
    return ok;
}

bool ZoDirectory::CopyTo(const char* dest, const struct stat* root) {
    if (IsLink(full)) return CopyLink(full, dest);
    if (mkdir(dest, 0755) != 0) return false;
    struct stat made;
    if (root == nullptr && stat(dest, &made) == 0) root = &made;

    std::vector<std::unique_ptr<ZoEntry>> children;
    if (!Children(&children)) return false;
    for (auto& child : children) {
        struct stat own;
        bool known = lstat(child->GetFull(), &own) == 0;
        // A copy made inside the source shows up in its listing; copying it
        // again would recurse without end.
        if (known && root != nullptr && own.st_dev == root->st_dev && own.st_ino == root->st_ino) {
            continue;
        }
        char* childDest = strpath(dest, child->GetName());
        if (childDest == nullptr) return false;
        if (auto* sub = dynamic_cast<ZoDirectory*>(child.get())) {
            sub->CopyTo(childDest, root);
        } else if (known && S_ISLNK(own.st_mode) && child->Flavor() != FLAVOR_FILE) {
            // A dangling link, or one to a device or FIFO, has no bytes to
            // copy: keep it as a link.
            CopyLink(child->GetFull(), childDest);
        } else {
            child->Copy(dest, nullptr, false);
        }
        free(childDest);
    }
    return true;
}

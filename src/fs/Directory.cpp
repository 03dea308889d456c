#include <zolib/fs/Directory.h>

#include "fs/internal/PathUtil.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

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
    if (*full == '\0') return new ZoDirectory("", "", false);
    return new ZoDirectory(path, false);
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
        struct stat st;
        bool isDir = stat(child, &st) == 0 && S_ISDIR(st.st_mode);
        free(child);
        ZoEntry* entry;
        if (isDir) {
            entry = new ZoDirectory(full, entryName, false);
        } else {
            entry = new ZoEntry(full, entryName);
        }
        entry->Exists();
        return entry;
    }
}

ZoEntry* ZoDirectory::GetEntry(const char* entryName) {
    char* target = strpath(full, entryName);
    struct stat st;
    bool isDir = stat(target, &st) == 0 && S_ISDIR(st.st_mode);
    free(target);
    if (isDir) return new ZoDirectory(full, entryName, false);
    return new ZoEntry(full, entryName);
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
    if (rc == 0 && found.gl_pathc > 0) {
        list = new ZoList(static_cast<long>(found.gl_pathc), 10);
        for (size_t i = 0; i < found.gl_pathc; i++) {
            const char* match = found.gl_pathv[i];
            // An absolute pattern's matches are not inside this directory;
            // joining them to full would name paths that do not exist.
            if (match[0] == '/') {
                list->AddItem(new ZoEntry(match));
            } else {
                list->AddItem(new ZoEntry(full, match));
            }
        }
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
        free(full);
        free(name);
        full = up;
        path = upPath;
        name = upName;
    } else {
        char* target = strpath(full, entryName);
        struct stat st;
        if (stat(target, &st) != 0 || !S_ISDIR(st.st_mode)) {
            free(target);
            return false;
        }
        free(path);
        path = full;
        free(name);
        name = ZoCopyText(entryName);
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
    bool ok = mkdir(target, static_cast<mode_t>(mode)) == 0;
    free(target);
    return ok;
}

std::vector<std::unique_ptr<ZoEntry>> ZoDirectory::Children() {
    std::vector<std::unique_ptr<ZoEntry>> children;
    Rewind(0, nullptr);
    while (ZoEntry* entry = NextEntry())
        children.emplace_back(entry);
    if (stream != nullptr) {
        closedir(stream);
        stream = nullptr;
        current = nullptr;
    }
    return children;
}

bool ZoDirectory::Empty(bool recursive) {
    bool ok = true;
    for (auto& child : Children()) {
        if (ok) ok = child->Remove(recursive);
    }
    return ok;
}

bool ZoDirectory::Remove(bool recursive) {
    // Removing through a link would empty the linked directory, outside the
    // tree, and then fail on the link anyway.
    if (IsLink(full)) return unlink(full) == 0;
    if (recursive) {
        for (auto& child : Children())
            child->Remove(true);
    }
    return rmdir(full) == 0;
}

bool ZoDirectory::Copy(const char* dir, const char* base, bool) {
    const char* into = dir ? dir : path;
    if (*into == '\0') return false;
    char* dest = strpath(into, base ? base : name);
    bool ok = CopyTo(dest, nullptr);
    free(dest);
    return ok;
}

bool ZoDirectory::CopyTo(const char* dest, const struct stat* root) {
    if (IsLink(full)) return CopyLink(full, dest);
    if (mkdir(dest, 0755) != 0) return false;
    struct stat made;
    if (root == nullptr && stat(dest, &made) == 0) root = &made;

    for (auto& child : Children()) {
        struct stat own;
        bool known = lstat(child->GetFull(), &own) == 0;
        // A copy made inside the source shows up in its listing; copying it
        // again would recurse without end.
        if (known && root != nullptr && own.st_dev == root->st_dev && own.st_ino == root->st_ino) {
            continue;
        }
        char* childDest = strpath(dest, child->GetName());
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

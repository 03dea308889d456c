#include <zolib/fs/Path.h>

#include "fs/internal/PathUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// Positions are int: a match beyond INT_MAX cannot be reported, so it counts
// as not found rather than wrapping to a bogus index.
int ToIndex(const char* s, const char* at) {
    if (at == nullptr) return -1;
    size_t index = static_cast<size_t>(at - s);
    return index > static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(index);
}

char* Join3(const char* a, const char* b, const char* c) {
    size_t la = strlen(a), lb = strlen(b), lc = strlen(c);
    char* out = static_cast<char*>(malloc(la + lb + lc + 1));
    if (out == nullptr) return nullptr;
    memcpy(out, a, la);
    memcpy(out + la, b, lb);
    memcpy(out + la + lb, c, lc);
    out[la + lb + lc] = '\0';
    return out;
}

// Writes all of buf, retrying after interruptions and short writes.
void WriteAll(int fd, const char* buf, size_t n) {
    while (n > 0) {
        ssize_t done = write(fd, buf, n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return;  // write errors are not reported
        buf += done;
        n -= static_cast<size_t>(done);
    }
}

}  // namespace

char* ZoCopyText(const char* s, size_t n) {
    char* out = static_cast<char*>(malloc(n + 1));
    if (out == nullptr) return nullptr;
    memcpy(out, s, n);
    out[n] = '\0';
    return out;
}

char* ZoCopyText(const char* s) {
    return ZoCopyText(s, strlen(s));
}

// getcwd(nullptr, 0) sizes the block itself, so no path length is imposed.
char* ZoCurrentDir() {
    return getcwd(nullptr, 0);
}

char* ZoResolvePath(const char* path, bool rootAboveTop) {
    if (path == nullptr) return nullptr;
    size_t n = strlen(path);
    // Only a first component that is exactly "." or ".." is special; names
    // that merely begin with dots ("..x", ".cfg/a") are ordinary names.
    bool up = n >= 2 && path[0] == '.' && path[1] == '.' && (n == 2 || path[2] == '/');
    bool here = !up && n >= 1 && path[0] == '.' && (n == 1 || path[1] == '/');

    if (up || here) {
        size_t end = n;
        if (n > 0 && path[n - 1] == '/') end--;  // a trailing slash is dropped
        size_t restAt = up ? 3 : 2;              // just after the first "/"
        char* rest = restAt < end ? ZoCopyText(path + restAt, end - restAt) : ZoCopyText("");
        if (rest == nullptr) return nullptr;

        char* cwd = ZoCurrentDir();
        char* base = nullptr;
        if (cwd != nullptr) base = up ? getparent(cwd) : ZoCopyText(cwd);
        char* out = nullptr;
        if (base != nullptr) {
            out = strpath(base, rest);
        } else if (cwd != nullptr && rootAboveTop && up && strrchr(cwd, '/') == cwd) {
            // Only a cwd without a parent (the root or a top-level
            // directory) leads to the root; a failed copy is a failure.
            out = *rest ? stradd("/", rest) : ZoCopyText("/");
        }
        free(base);
        free(cwd);
        free(rest);
        return out;
    }
    if (path[0] == '/') {
        if (n > 1 && path[n - 1] == '/') return ZoCopyText(path, n - 1);
        return ZoCopyText(path, n);
    }
    char* cwd = ZoCurrentDir();
    if (cwd == nullptr) return nullptr;
    char* out = strpath(cwd, path);
    free(cwd);
    return out;
}

char* ZoReadLink(const char* path) {
    // Start small and double until the text fits with room to spare: a
    // count equal to the buffer size may mean the text was cut.
    size_t size = 100;
    for (;;) {
        char* text = static_cast<char*>(malloc(size));
        if (text == nullptr) return nullptr;
        ssize_t got = readlink(path, text, size);
        if (got < 0) {
            free(text);
            return nullptr;
        }
        if (static_cast<size_t>(got) < size) {
            text[got] = '\0';
            return text;
        }
        free(text);
        size *= 2;
    }
}

namespace zolib {

char* get_current_dir_name() {
    return ZoCurrentDir();
}

char* strndup(const char* s, int n) {
    if (s == nullptr || n < 0) return nullptr;
    return ZoCopyText(s, static_cast<size_t>(n));
}

}  // namespace zolib

char* getparent(const char* path) {
    if (path == nullptr) {
        char* cwd = ZoCurrentDir();
        if (cwd == nullptr) return nullptr;
        char* parent = getparent(cwd);
        free(cwd);
        return parent;
    }
    const char* last = strrchr(path, '/');
    if (last == nullptr) return ZoCopyText("");
    if (last == path) return nullptr;  // top-level path or the root: no parent
    return ZoCopyText(path, static_cast<size_t>(last - path));
}

char* rel2full(const char* path) {
    return ZoResolvePath(path, false);
}

void splitfull(const char* full, char** path, char** name) {
    char* dir = nullptr;
    char* base = nullptr;
    if (full != nullptr) {
        size_t n = strlen(full);
        const char* last = strrchr(full, '/');
        if (last == full) {
            dir = ZoCopyText(full, n);
            base = ZoCopyText("");
        } else if (last != nullptr && n > 1 && last == full + n - 1) {
            // Trailing slash: split at the slash before it.
            const char* before = static_cast<const char*>(memrchr(full, '/', n - 1));
            if (before == nullptr) {
                dir = ZoCopyText("");
                base = ZoCopyText(full, n - 1);
            } else if (before == full) {
                // "/a/" (or "//") is the top-level "/a" (or the root) written
                // with a trailing slash: split it as that.
                dir = ZoCopyText(full, n - 1);
                base = ZoCopyText("");
            } else {
                dir = ZoCopyText(full, static_cast<size_t>(before - full));
                base = ZoCopyText(before + 1, static_cast<size_t>(last - before - 1));
            }
        } else if (last == nullptr) {
            dir = ZoCopyText("");
            base = ZoCopyText(full, n);
        } else {
            dir = ZoCopyText(full, static_cast<size_t>(last - full));
            base = ZoCopyText(last + 1);
        }
    }
    // Both parts or neither: a part that could not be copied fails the split.
    if (dir == nullptr || base == nullptr) {
        free(dir);
        free(base);
        dir = base = nullptr;
    }
    if (path != nullptr) {
        *path = dir;
    } else {
        free(dir);
    }
    if (name != nullptr) {
        *name = base;
    } else {
        free(base);
    }
}

int strfindlast(const char* s, char c) {
    if (s == nullptr) return -1;
    return ToIndex(s, static_cast<const char*>(memrchr(s, c, strlen(s))));
}

int strfindlastn(const char* s, char c, int n) {
    if (s == nullptr || n < 0) return -1;
    size_t len = strlen(s);
    const char* at = nullptr;
    for (int i = 0; i <= n; i++) {
        at = static_cast<const char*>(memrchr(s, c, len));
        if (at == nullptr) return -1;
        len = static_cast<size_t>(at - s);
    }
    return ToIndex(s, at);
}

int strfindfirst(const char* s, char c) {
    if (s == nullptr) return -1;
    return ToIndex(s, static_cast<const char*>(memchr(s, c, strlen(s))));
}

char* strcut(const char* s, int from, int to) {
    if (s == nullptr || from < 0) return nullptr;
    if (static_cast<long>(to) == static_cast<long>(from) - 1) return ZoCopyText("");
    if (to < from) return nullptr;
    // strnlen stops at the NUL, so a range past the end is refused without
    // reading beyond the string.
    if (strnlen(s, static_cast<size_t>(to) + 1) <= static_cast<size_t>(to)) return nullptr;
    return ZoCopyText(s + from, static_cast<size_t>(to) - static_cast<size_t>(from) + 1);
}

char* strpath(const char* dir, const char* name) {
    if (dir == nullptr) return nullptr;
    if (name == nullptr || *name == '\0') return ZoCopyText(dir);
    return Join3(dir, "/", name);
}

char* stradd(const char* a, const char* b) {
    return Join3(a ? a : "", b ? b : "", "");
}

char* entryattr(const char* path, const char* name) {
    if (path == nullptr || name == nullptr) return nullptr;
    return Join3(path, "/.attr.", name);
}

bool copy_file(const char* from, const char* to) {
    if (from == nullptr || to == nullptr) return false;
    // O_NONBLOCK so that a FIFO without a writer cannot block the open; the
    // type check then refuses it before anything is read.
    int in = open(from, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) return false;
    struct stat src;
    if (fstat(in, &src) != 0 || !S_ISREG(src.st_mode)) {
        close(in);
        return false;
    }
    fcntl(in, F_SETFL, fcntl(in, F_GETFL) & ~O_NONBLOCK);
    // Truncate only after checking that the target is not the source itself,
    // which truncating would destroy.
    int out = open(to, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (out < 0) {
        close(in);
        return false;
    }
    struct stat dst;
    bool stated = fstat(out, &dst) == 0;
    if (stated && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
        close(out);
        close(in);
        return false;
    }
    // A device or FIFO target cannot be truncated; it is written as it is.
    if (!stated || !S_ISREG(dst.st_mode) || ftruncate(out, 0) == 0) {
        char buf[16384];
        for (;;) {
            ssize_t got = read(in, buf, sizeof buf);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;  // end of file or a read error
            WriteAll(out, buf, static_cast<size_t>(got));
        }
    }
    close(out);
    close(in);
    return true;
}

// Path and string utilities used by ZoEntry and ZoDirectory, exported for
// applications too.
//
// Ownership: every returned string is a new malloc'd block the caller releases
// with free(); no function keeps a reference to its arguments.
// Blocking: copy_file reads and writes the whole file; the others make at
// most a few system calls.
// Threads: reentrant, no state. getparent, rel2full and
// zolib::get_current_dir_name read the process-wide current directory, so
// their results move when any thread calls chdir.
// Paths: "/" is the only separator; nothing resolves symbolic links or
// collapses "//", "." or ".." inside a path. Paths have no length limit here.
// Positions are int indexes; -1 means "not found".
// Bad arguments: a null string where a text is required gives null (or -1 for
// the searches); nothing crashes.
#pragma once

#include <zolib/Export.h>

// glibc already has a strndup and a get_current_dir_name with the same names.
// ZoLib's versions live in namespace zolib so that ::strndup and
// ::get_current_dir_name stay exactly glibc's, whatever argument types a
// program passes and whichever headers it includes.
namespace zolib {
// Heap copy of the current directory as getcwd reports it (never $PWD);
// null when it cannot be read (for instance after it was removed).
ZOLIB_API char* get_current_dir_name();
// Block of n+1 bytes: exactly the first n bytes of s (copied as they are, even
// past a NUL, so s must have n readable bytes), then a NUL. Null when s is null
// or n is negative.
ZOLIB_API char* strndup(const char* s, int n);
}  // namespace zolib

// The directory part of path: the text before its last "/" ("/a/b/" gives
// "/a/b"); null for a top-level path or the root ("/usr", "/"); "" when path
// has no "/". A null path stands for the current directory.
ZOLIB_API char* getparent(const char* path);

// path made absolute against the current directory. A first component that
// is exactly "." or ".." is replaced by the current directory or its parent
// (only that first one: "../../x" in /a/b/c gives /a/b/../x) and a trailing
// slash is then dropped; "/a/b/" gives /a/b; any other relative path is
// appended as it is ("x/" in /home gives /home/x/). Null when path is null,
// when the current directory cannot be read, or when ".." is asked of the
// root or of a top-level directory.
ZOLIB_API char* rel2full(const char* path);

// Splits full into directory part and name; either out-pointer may be null,
// and then that part is not made. /a/b gives /a and b; /a/b/ gives /a and b;
// a top-level path (/usr, /, /usr/) keeps the whole path (less a trailing
// slash) as directory part and "" as name; a path without "/" gives "" and a
// copy. A null full stores null through both pointers.
ZOLIB_API void splitfull(const char* full, char** path, char** name);

// Index of the last c in s, or -1 (also for a null s or c == '\0').
ZOLIB_API int strfindlast(const char* s, char c);
// Index of the (n+1)-th c counted from the end (n = 0: the last), or -1 when
// there are fewer or n is negative.
ZOLIB_API int strfindlastn(const char* s, char c, int n);
// Index of the first c in s, or -1.
ZOLIB_API int strfindfirst(const char* s, char c);

// Copy of s[from] to s[to], both included. to == from - 1 gives "". Null when
// the range is not inside s (from < 0, to < from - 1, to past the last
// character) or s is null.
ZOLIB_API char* strcut(const char* s, int from, int to);

// dir + "/" + name, slashes kept as they are ("/" and "usr" give "//usr"); a
// copy of dir when name is null or empty; null when dir is null.
ZOLIB_API char* strpath(const char* dir, const char* name);

// a followed by b; a null argument counts as "".
ZOLIB_API char* stradd(const char* a, const char* b);

// Name of the attribute side file of entry name in directory path:
// path + "/.attr." + name. Only builds the text. Null when either is null.
ZOLIB_API char* entryattr(const char* path, const char* name);

// Copies the bytes of the regular file from into to, which is created (with
// the default mode less the umask) or truncated. True when both files could be
// opened; write errors are not reported. False, and nothing is created or
// truncated, when from cannot be opened, is not a regular file (a directory,
// FIFO or device would fail, block or never end), or when to is from itself.
ZOLIB_API bool copy_file(const char* from, const char* to);

// ZoDirectory: an entry that names a directory and can list it.
//
// Listing: Rewind(count, filters) then NextEntry() until null. An unfiltered
// listing never includes "." and ".." (an empty filter keeps ".."); with
// filters only names whose extension (the
// text after the last ".", or the whole name when it has none) equals one of
// them are kept, and names whose only dot leads them are skipped. Entries come
// in the order the system lists them.
//
// Tree operations (Empty, Remove, Copy) never pass through a symbolic link to
// a directory: such a link is removed as a link and copied as a link with the
// same text, so they never reach outside the tree. A link to a file is removed
// as a link, and copied as the file's bytes.
//
// Ownership: every ZoEntry / ZoDirectory and ZoList returned is new; the
// caller deletes the list and each entry in it. The filter array is borrowed:
// the caller keeps it alive while the directory is read.
// Blocking: file-system calls only; tree operations walk the whole tree.
// Threads: no lock; one thread at a time per object. Search does not change
// the current directory, so it is safe beside threads that use relative paths.
// Failure: false / null as documented per call; construction never fails
// (InitCheck is true even when the directory is missing). A tree operation
// whose listing runs out of memory returns false rather than walk a part.
// Without memory a returned entry is null, never one holding null strings.
#pragma once

#include <zolib/Export.h>
#include <zolib/LargeFiles.h>
#include <zolib/containers/List.h>
#include <zolib/fs/Entry.h>

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

class ZOLIB_API ZoDirectory : public ZoEntry {
  public:
    // Names the directory as the matching ZoEntry constructor does. With
    // create, a missing directory is made with mode 0755 (less the umask),
    // one level only; a failure to make it is not reported.
    ZoDirectory(const char* path, bool create);
    ZoDirectory(const char* dir, const char* name, bool create);
    ZoDirectory(const ZoEntry* entry, bool create);
    // Without this, ZoDirectory(dir, name) would silently convert name to
    // true and create dir.
    ZoDirectory(const char* dir, const char* name) = delete;
    ~ZoDirectory() override;

    // stat of full succeeds and says directory (the inode is taken from any
    // successful stat).
    bool Exists() override;
    // Copies the directory to strpath(dir, name); a null dir stands for this
    // directory's own directory part, a null name for its name. False, with
    // nothing copied, when the destination cannot be made (for instance
    // because it exists). Subdirectories are always copied whole; the flag
    // is only handed down. A copy made inside the directory itself is not
    // copied into itself. A directory named through a symbolic link is
    // copied as a link with the same text. Results of single children are
    // not reported.
    bool Copy(const char* dir, const char* name, bool recursive) override;
    // rmdir of full; with recursive, the contents are removed first (their
    // results are not looked at). A directory named through a symbolic link
    // is removed as that link.
    bool Remove(bool recursive) override;

    // Starts a listing from the first name. count <= 0 or null filters: no
    // filtering. A directory that cannot be opened lists nothing.
    void Rewind(int count, const char* const* filters);
    // The next listed name as a new ZoDirectory (a directory, or a link to
    // one) or ZoEntry (anything else, also when its status cannot be read).
    // Exists() has been called on it. Null at the end, on a read error, before
    // the first Rewind, and without memory (errno ENOMEM; the name is lost).
    ZoEntry* NextEntry();
    // The name in this directory, as a new ZoDirectory when it is a directory,
    // else a new ZoEntry (also when it does not exist). Null only without
    // memory; Exists() has not been called (inode 0).
    ZoEntry* GetEntry(const char* name);
    // Entries of this directory matching a glob pattern ("*", "?", "[...]"),
    // unsorted, as plain ZoEntry objects named full + "/" + match (an
    // absolute pattern names its matches directly). Null when nothing
    // matches, on a glob error, for a null or empty pattern, when the
    // directory cannot be entered and without memory (never a part of the
    // matches). The current directory is never changed.
    ZoList* Search(const char* pattern);

    // Moves this object to the subdirectory name, or for ".." to its
    // directory part (nothing checked on disk; a top-level directory stays
    // where it is). False, with nothing changed, when name is null, empty or
    // not a directory. A move ends the current listing.
    bool Cd(const char* name);
    // mkdir of full + "/" + name with mode (less the umask).
    bool Mkdir(const char* name, unsigned int mode);
    // Removes the contents, keeping the directory: each child's Remove
    // (recursive) in turn until one fails; true when none failed. False, and
    // nothing removed at this level, when the listing runs out of memory.
    bool Empty(bool recursive);

  protected:
    int filterCount;             // number of filters; 0 = every name
    const char* const* filters;  // borrowed extension filters, without dots
    DIR* stream;                 // open listing of full; null before the first Rewind
    struct dirent* current;      // last name read

  private:
    bool Keep(const char* entryName) const;
    // Lists every child and closes the stream, so that a deep walk holds one
    // open directory per object being walked, not one per level. False, with
    // no child, when memory ran out before the listing was whole.
    bool Children(std::vector<std::unique_ptr<ZoEntry>>* children);
    // Copies into dest; children that are the copy's root (made) are skipped.
    bool CopyTo(const char* dest, const struct stat* made);
};

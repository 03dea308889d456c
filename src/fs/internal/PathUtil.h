// Helpers shared by the path functions, ZoEntry and ZoDirectory.
#pragma once

#include <cstddef>

// malloc'd copy of the first n bytes of s plus a NUL.
char* ZoCopyText(const char* s, size_t n);
// malloc'd copy of the string s.
char* ZoCopyText(const char* s);

// The current directory from getcwd, grown to any length; null on failure.
char* ZoCurrentDir();

// rel2full, with one difference when rootAboveTop is true: ".." of the root or
// of a top-level directory names the root ("/"), as the system resolves it,
// instead of giving null.
char* ZoResolvePath(const char* path, bool rootAboveTop);

// The text of the symbolic link at path, read whole whatever its length;
// null when path is not a link or cannot be read.
char* ZoReadLink(const char* path);

// The text of an entry that names nothing: shared and never freed, so such an
// entry costs no allocation. An entry whose strings cannot all be made (no
// memory) names nothing.
extern char ZoNoText[1];
// free() for an entry's strings: leaves ZoNoText alone.
void ZoFreeText(char* s);

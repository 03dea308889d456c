// ZoLib's file-system and shared-memory classes hold struct stat, ino_t and
// dev_t values, whose sizes depend on _FILE_OFFSET_BITS on 32-bit hosts. The
// library is built there with 64-bit file offsets and inode numbers (32-bit
// ones fail on large files and on file systems with 64-bit inode numbers or
// directory offsets), so programs using these classes must be built the same
// way: the CMake package passes the definition on to its users.
#pragma once

#if __SIZEOF_POINTER__ == 4 && (!defined(_FILE_OFFSET_BITS) || _FILE_OFFSET_BITS != 64)
#error "ZoLib on 32-bit hosts uses 64-bit file offsets: compile with -D_FILE_OFFSET_BITS=64"
#endif

// Compression of byte blocks into zip blocks, over zlib.
//
// A zip block is the uncompressed length as 4 bytes (little-endian) followed
// by a zlib stream as compress2 writes it. The compressed flat bag and bag
// files are made of them.
//
// Ownership: a block Zip or Unzip allocates belongs to the caller, who frees
// it with free(). A caller's `dst` is never freed (on failure it may be
// partly written).
// Threads: no shared state; every function is reentrant. Nothing blocks.
// Failure: Zip and Unzip return null and free what they allocated.
#pragma once

#include <zolib/Export.h>

// An upper bound for compressed output: (n + 4) + n * 0.1 + 12, truncated.
ZOLIB_API unsigned long MaxZippedSize(unsigned long n);

// Compresses `srcLength` bytes at `src` into a zip block at `dst`, or into a
// new block when `dst` is null. `dst` must hold MaxZippedSize(srcLength)
// bytes. `level` is zlib's (-1 its default). With `shrink` the block is
// reallocated to its exact length, so a caller's `dst` must then come from
// malloc. *outLength receives the block's length. Null when zlib fails or the
// length does not fit 32 bits.
ZOLIB_API char* Zip(const char* src, unsigned long srcLength, unsigned long* outLength, int level,
                    char* dst, bool shrink);

// Decompresses the zip block of `srcLength` bytes at `src` into `dst`, which
// must hold the length the block claims, or into a new block when `dst` is
// null. *outLength receives the bytes produced. Null for fewer than 5 bytes,
// a damaged stream, or a stream producing more than the block claims.
// A new block is sized by what the stream actually produces, never by the
// claimed length alone: a lying length costs no more memory than an honest one.
ZOLIB_API char* Unzip(const char* src, unsigned long srcLength, unsigned long* outLength,
                      char* dst);

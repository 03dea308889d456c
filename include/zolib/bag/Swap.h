// Byte-order helpers for applications that exchange their own data with
// hosts of the other byte order. Bags need none of them: their byte forms
// (flat bags, zip blocks, bag files) are little-endian on every host, and a
// big-endian host converts as it flattens and unflattens.
//
// Threads: no shared state. Failure: none; null pointers are ignored.
#pragma once

#include <zolib/Export.h>

// 0 on a little-endian host, 1 on a big-endian one.
ZOLIB_API int Endianess();

// Reverse the bytes of the value in place.
ZOLIB_API void Swap(short* value);
ZOLIB_API void Swap(unsigned short* value);
ZOLIB_API void Swap(int* value);
ZOLIB_API void Swap(unsigned int* value);
ZOLIB_API void Swap(float* value);
ZOLIB_API void Swap(long long* value);
ZOLIB_API void Swap(unsigned long long* value);
ZOLIB_API void Swap(double* value);
// Reverses the `n` bytes at `p` (first with last, moving inwards).
ZOLIB_API void Swap(unsigned char* p, unsigned int n);

// Byte order of element values in the bag's byte forms, which are
// little-endian on every host (the fields and length words convert in
// FlatFormat.h's Load/Store). On a little-endian host nothing here does work.
#pragma once

#include <zolib/bag/Bag.h>

#include <cstdint>
#include <cstring>

namespace zolib_internal {

constexpr bool kBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
static_assert(kBigEndian || __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "unknown byte order");

// The width of the values an element of `type` holds when they must change
// order between host and byte form: the integer and floating types. Strings,
// bools, int8, buffers, nested bags (already flat, so little-endian) and
// pointers (meaningful on their own host only) are bytes: 1.
inline unsigned ValueWidth(T_Data type) {
    switch (type) {
        case T_INT16:
            return 2;
        case T_INT32:
        case T_FLOAT32:
            return 4;
        case T_INT64:
        case T_FLOAT64:
            return 8;
        default:
            return 1;
    }
}

// Reverses each whole value of `type` in an element's `size` bytes, between
// host order and little-endian; a tail shorter than a value (only Setdata
// makes one) stays as it is. Nothing to do on a little-endian host.
inline void SwapValues(T_Data type, void* data, uint32_t size) {
    if constexpr (kBigEndian) {
        unsigned width = ValueWidth(type);
        if (width == 1) return;
        unsigned char* p = static_cast<unsigned char*>(data);
        for (uint32_t at = 0; at + width <= size; at += width)
            for (unsigned i = 0; i < width / 2; i++) {
                unsigned char byte = p[at + i];
                p[at + i] = p[at + width - 1 - i];
                p[at + width - 1 - i] = byte;
            }
    } else {
        (void)type, (void)data, (void)size;
    }
}

}  // namespace zolib_internal

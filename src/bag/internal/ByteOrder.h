// Byte order of the bag's byte forms. The flat form, the zip block's length
// word and bag files are little-endian on every host; a big-endian host
// converts fields and element values as it writes and reads them. On a
// little-endian host every helper here is a plain copy.
#pragma once

#include <zolib/bag/Bag.h>

#include <cstdint>
#include <cstring>

namespace zolib_internal {

constexpr bool kBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
static_assert(kBigEndian || __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "unknown byte order");

// A 32-bit field of a byte form.
inline void StoreLittle32(void* p, uint32_t value) {
    if constexpr (kBigEndian) value = __builtin_bswap32(value);
    memcpy(p, &value, 4);
}
inline uint32_t LoadLittle32(const void* p) {
    uint32_t value;
    memcpy(&value, p, 4);
    if constexpr (kBigEndian) value = __builtin_bswap32(value);
    return value;
}

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

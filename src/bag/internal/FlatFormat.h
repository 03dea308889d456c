// The byte forms of a bag: the flat bag (plain and compressed), the zip block
// and the bag file. Their layout and the helpers that read and write their
// integers live here and nowhere else; the library, zobag and the JSON
// library all use them.
//
// Every stored integer and every fixed-width element value goes through
// Load/Store (Get32/Put32 for the 32-bit fields): the forms are little-endian,
// and these helpers are the one place that knows the host's order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace zolib_internal {

// A big-endian host reverses each value's bytes; a little-endian one copies.
template <typename T>
inline T Little(T value) {
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) {
        unsigned char bytes[sizeof value];
        memcpy(bytes, &value, sizeof value);
        for (size_t i = 0; i < sizeof value / 2; i++) {
            unsigned char byte = bytes[i];
            bytes[i] = bytes[sizeof value - 1 - i];
            bytes[sizeof value - 1 - i] = byte;
        }
        memcpy(&value, bytes, sizeof value);
    }
    return value;
}

// A fixed-width value (integer or IEEE 754 float) stored at `p`.
template <typename T>
inline T Load(const char* p) {
    static_assert(std::is_arithmetic<T>::value, "Load reads numbers");
    T value;
    memcpy(&value, p, sizeof value);
    return Little(value);
}

// Writes `value` at `p`; returns the position after it.
template <typename T>
inline char* Store(char* p, T value) {
    static_assert(std::is_arithmetic<T>::value, "Store writes numbers");
    value = Little(value);
    memcpy(p, &value, sizeof value);
    return p + sizeof value;
}

inline uint32_t Get32(const char* p) {
    return Load<uint32_t>(p);
}
inline char* Put32(char* p, uint32_t value) {
    return Store(p, value);
}

// ---- the flat bag ----

// Every flat bag starts with the lead: "BaG" and a flag byte, 0 for the plain
// form and 1 for the compressed one.
constexpr char kMagic[3] = {'B', 'a', 'G'};
constexpr size_t kFlagAt = 3;
constexpr size_t kLeadSize = 4;
constexpr unsigned char kPlainFlag = 0;
constexpr unsigned char kZippedFlag = 1;

// The plain form: the lead, what, who, when, the flat size (the whole length,
// header included) and the item count, then the item records.
constexpr size_t kWhatAt = 4;
constexpr size_t kWhoAt = 8;
constexpr size_t kWhenAt = 12;
constexpr size_t kSizeAt = 16;
constexpr size_t kCountAt = 20;
constexpr unsigned long kFlatHeader = 24;

// An item record without its name (hash, name length, type, element count)
// and an element record without its payload (the payload size).
constexpr unsigned long kItemHeader = 16;
constexpr unsigned long kElemHeader = 4;

// The compressed form: the lead, then a zip block of the body. The body is
// the plain form less its lead (so every field lies kLeadSize bytes earlier),
// and its size field holds the body's own length, not the plain length.
constexpr size_t kBodyShift = kLeadSize;

// True when `n` bytes at `p` begin with "BaG" and a flag byte.
inline bool HasLead(const char* p, size_t n) {
    return p != nullptr && n >= kLeadSize && memcmp(p, kMagic, sizeof kMagic) == 0;
}

// Writes the lead with `flag`; returns the position after it.
inline char* PutLead(char* p, unsigned char flag) {
    memcpy(p, kMagic, sizeof kMagic);
    p[kFlagAt] = static_cast<char>(flag);
    return p + kLeadSize;
}

// ---- the zip block and the bag file ----

// A zip block is the uncompressed length as a 32-bit word, then the zlib stream.
constexpr size_t kZipLengthSize = 4;
// A bag file is the length of the flat bag as a 32-bit word, then the
// (compressed) flat bag.
constexpr size_t kFileLengthSize = 4;

// Flat bytes still to be read. Every field is checked against what is left
// before it is touched, so a lying length or count ends the read instead of
// running past the end.
class FlatReader {
  public:
    FlatReader(const char* p, size_t left) : p(p), left(left) {}

    bool Read32(uint32_t* value) {
        if (left < 4) return false;
        *value = Get32(p);
        p += 4;
        left -= 4;
        return true;
    }
    // The next `n` bytes, or null when fewer are left.
    const char* Take(size_t n) {
        if (n > left) return nullptr;
        const char* at = p;
        p += n;
        left -= n;
        return at;
    }
    const char* Position() const { return p; }
    size_t Left() const { return left; }

  private:
    const char* p;
    size_t left;
};

}  // namespace zolib_internal

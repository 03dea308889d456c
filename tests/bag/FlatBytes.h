// Flat bytes for tests: the plain and compressed forms of bags, and flat bags
// built byte by byte, as only foreign writers make them.
#pragma once

#include <zolib/bag/Bag.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

inline std::string PlainOf(ZoBag& bag) {
    std::string out(bag.FlatSize(false), '\0');
    bag.Flatten(&out[0], nullptr, false);
    return out;
}

inline std::string ZippedOf(ZoBag& bag) {
    std::string out(bag.FlatSize(true), '\0');
    unsigned long size = 0;
    bag.Flatten(&out[0], &size, true);
    out.resize(size);
    return out;
}

inline std::unique_ptr<ZoBag> BagOf(const std::string& flat) {
    std::unique_ptr<ZoBag> bag(new ZoBag(0, 0));
    if (!bag->Unflatten(flat.data(), flat.size())) return nullptr;
    return bag;
}

struct RawItem {
    long hash;
    std::string name;
    int32_t type;
    std::vector<std::string> elements;
};

// A 32-bit word as the byte forms hold it on every host: little-endian.
inline std::string Le32(uint32_t value) {
    const char bytes[4] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
    return std::string(bytes, 4);
}

inline void Append32(std::string* out, uint32_t value) {
    *out += Le32(value);
}

// A plain flat bag with exactly these records.
inline std::string FlatOf(uint32_t what, const std::vector<RawItem>& items) {
    std::string out("BaG", 4);
    Append32(&out, what);
    Append32(&out, 0);
    Append32(&out, 0);
    Append32(&out, 0);  // size, below
    Append32(&out, static_cast<uint32_t>(items.size()));
    for (const RawItem& item : items) {
        Append32(&out, static_cast<uint32_t>(item.hash));
        Append32(&out, static_cast<uint32_t>(item.name.size()));
        out += item.name;
        Append32(&out, static_cast<uint32_t>(item.type));
        Append32(&out, static_cast<uint32_t>(item.elements.size()));
        for (const std::string& element : item.elements) {
            Append32(&out, static_cast<uint32_t>(element.size()));
            out += element;
        }
    }
    out.replace(16, 4, Le32(static_cast<uint32_t>(out.size())));
    return out;
}

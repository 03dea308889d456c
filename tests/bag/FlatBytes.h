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

inline void Append32(std::string* out, uint32_t value) {
    out->append(reinterpret_cast<const char*>(&value), 4);
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
    uint32_t size = static_cast<uint32_t>(out.size());
    out.replace(16, 4, reinterpret_cast<const char*>(&size), 4);
    return out;
}

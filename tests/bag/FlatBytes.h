// Bytes for the bag tests: flat bags built record by record, as foreign
// writers may make them (items sharing a hash, hashes that are not their
// name's), the bags read from them, and data to compress.
#pragma once

#include <zlib.h>
#include <zolib/bag/Bag.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/Bytes.h"

// A 32-bit word as the byte forms hold it on every host: little-endian.
inline std::string Le32(uint32_t value) {
    const char bytes[4] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
    return std::string(bytes, 4);
}

struct RawItem {
    long hash;
    std::string name;
    int32_t type;
    std::vector<std::string> elements;
};

// A plain flat bag with exactly these records and a size field that agrees.
inline std::string FlatOf(uint32_t what, const std::vector<RawItem>& items, uint32_t who = 0,
                          uint32_t when = 0) {
    std::string records;
    for (const RawItem& item : items) {
        records += Le32(static_cast<uint32_t>(item.hash)) +
                   Le32(static_cast<uint32_t>(item.name.size())) + item.name +
                   Le32(static_cast<uint32_t>(item.type)) +
                   Le32(static_cast<uint32_t>(item.elements.size()));
        for (const std::string& element : item.elements)
            records += Le32(static_cast<uint32_t>(element.size())) + element;
    }
    return std::string("BaG", 4) + Le32(what) + Le32(who) + Le32(when) +
           Le32(static_cast<uint32_t>(24 + records.size())) +
           Le32(static_cast<uint32_t>(items.size())) + records;
}

// The bag these flat bytes hold, or null when Unflatten refuses them.
inline std::unique_ptr<ZoBag> BagOf(const std::string& flat) {
    std::unique_ptr<ZoBag> bag(new ZoBag(0, 0));
    if (!bag->Unflatten(flat.data(), flat.size())) return nullptr;
    return bag;
}

// The zlib stream compress2 makes of `src`.
inline std::string Compress2(const std::string& src, int level = -1) {
    uLongf length = compressBound(src.size());
    std::string out(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&out[0]), &length,
                  reinterpret_cast<const Bytef*>(src.data()), src.size(), level) != Z_OK)
        return "failed";
    return out.substr(0, length);
}

// Data that compresses well, poorly and not at all.
inline std::string Mixed(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        s[i] = (i / 64) % 3 == 0 ? static_cast<char>(seed >> 16)
                                 : "ZoLib flat bag "[(seed >> 20) % 15];
    }
    return s;
}

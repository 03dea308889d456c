// What the fuzz targets share: the headers every target needs, a bag's flat
// bytes, and the check that a bag the library accepted is whole. A failed
// check aborts the run.
#pragma once

#include <zolib/bag/Bag.h>
#include <zolib/bag/Zip.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// The plain (zip false) or compressed form of `bag`; FlatSize is an upper
// bound for the compressed one.
inline std::string FlatOf(ZoBag& bag, bool zip = false) {
    std::string out(bag.FlatSize(zip), '\0');
    unsigned long size = out.size();
    if (!bag.Flatten(&out[0], &size, zip) || (zip && size > out.size())) abort();
    if (zip) out.resize(size);
    return out;
}

// A whole bag's plain form reads back to the same bytes, and so does that of
// every nested bag that opens (Setdata may store anything as a T_BAG), a few
// levels down.
inline void CheckWhole(ZoBag& bag, int depth = 0) {
    std::string plain = FlatOf(bag);
    ZoBag again(0, 0);
    if (!again.Unflatten(plain.data(), plain.size()) || FlatOf(again) != plain) abort();
    char* name;
    T_Data type;
    int count;
    for (int i = 0; depth < 3 && bag.GetInfo(i, &name, &type, &count); i++) {
        for (int k = 1; type == T_BAG && k <= count; k++) {
            ZoBag* nested = nullptr;
            if (bag.Getbag(name, &nested, k))
                CheckWhole(*std::unique_ptr<ZoBag>(nested), depth + 1);
        }
    }
}

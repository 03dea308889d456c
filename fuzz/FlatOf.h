// What the fuzz targets share: a bag's flat bytes, aborting the run when a
// bag the library accepted cannot be flattened.
#pragma once

#include <zolib/bag/Bag.h>

#include <cstdlib>
#include <string>

// The plain (zip false) or compressed form of `bag`; FlatSize is an upper
// bound for the compressed one.
inline std::string FlatOf(ZoBag& bag, bool zip = false) {
    std::string out(bag.FlatSize(zip), '\0');
    unsigned long size = out.size();
    if (!bag.Flatten(&out[0], &size, zip) || (zip && size > out.size())) abort();
    if (zip) out.resize(size);
    return out;
}

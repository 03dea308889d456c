// A bag's flat bytes as a string, for comparing forms in tests.
#pragma once

#include <zolib/bag/Bag.h>

#include <string>

namespace zotest {

// The plain flat form; empty if flattening fails.
inline std::string Plain(ZoBag& bag) {
    std::string out(bag.FlatSize(false), '\0');
    if (!bag.Flatten(&out[0], nullptr, false)) out.clear();
    return out;
}

// The compressed flat form, cut to its size; empty if flattening fails.
inline std::string Compressed(ZoBag& bag) {
    std::string out(bag.FlatSize(true), '\0');
    unsigned long size = 0;
    out.resize(bag.Flatten(&out[0], &size, true) ? size : 0);
    return out;
}

}  // namespace zotest

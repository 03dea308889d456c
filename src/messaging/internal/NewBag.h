// A new bag for the messaging classes, or null when memory runs out (for the
// bag object or for what its constructor allocates): no std::bad_alloc leaves
// a poster's call or a loop thread.
#pragma once

#include <zolib/bag/Bag.h>

#include <new>

template <class... Args>
ZoBag* NewBag(Args... args) {
    try {
        return new ZoBag(args...);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

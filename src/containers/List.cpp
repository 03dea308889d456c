#include <zolib/containers/List.h>

#include <cstring>

ZoList::ZoList(long initial, long block) : ZoContainer(initial, block) {}

ZoList::ZoList(ZoList* other) : ZoContainer(other) {}

ZoList::~ZoList() = default;

bool ZoList::AddList(ZoList* other) {
    return AddList(count, other);
}

bool ZoList::AddList(long index, ZoList* other) {
    if (index < 0 || index > count || other == nullptr) return false;
    long extra = other->count;
    if (extra == 0) return true;
    if (count + extra > capacity && !Resize(count + extra)) return false;
    // other may be this very list: take its items before moving ours.
    void** incoming = items;
    if (other != this) incoming = other->items;
    memmove(items + index + extra, items + index, (end - index) * sizeof(void*));
    if (other == this) {
        // Our old items now sit at [0, index) and [index + extra, end + extra).
        memcpy(items + index, items, index * sizeof(void*));
        memcpy(items + 2 * index, items + index + extra, (extra - index) * sizeof(void*));
    } else {
        memcpy(items + index, incoming, extra * sizeof(void*));
    }
    count += extra;
    end += extra;
    return true;
}

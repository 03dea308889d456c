#include <zolib/containers/Container.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Room for n slots (at least one), or null. Slots are written before they
// are read, so they are not cleared (calloc would also pass by the
// allocator's per-thread cache, and containers are made often).
void** NewSlots(long n) {
    if (static_cast<unsigned long>(n) > PTRDIFF_MAX / sizeof(void*)) return nullptr;
    return static_cast<void**>(malloc((n > 0 ? n : 1) * sizeof(void*)));
}

}  // namespace

ZoContainer::ZoContainer(long initial, long block)
    : capacity(initial > 0 ? initial : 0),
      count(0),
      end(0),
      block(block > 0 ? block : 1),
      items(NewSlots(capacity)) {
    if (items == nullptr) capacity = 0;
}

ZoContainer::ZoContainer(ZoContainer* other) : ZoContainer(0, 1) {
    if (other == nullptr) return;
    block = other->block;
    if (other->count == 0 || !Resize(other->count)) return;
    count = other->count;
    end = other->end;
    memcpy(items, other->items, count * sizeof(void*));
    // A FIFO stack's source may have end beyond count; the tight copy cannot.
    if (end > capacity) end = count;
}

ZoContainer::~ZoContainer() {
    free(items);
}

bool ZoContainer::Resize(long n) {
    // Beyond this the byte size would wrap and realloc would be asked too little.
    if (n < 0 || static_cast<unsigned long>(n) > PTRDIFF_MAX / sizeof(void*)) return false;
    // realloc(p, 0) may free p; keep at least one slot allocated.
    void** grown = static_cast<void**>(realloc(items, (n > 0 ? n : 1) * sizeof(void*)));
    if (grown == nullptr) return false;
    items = grown;
    capacity = n;
    return true;
}

void ZoContainer::Clean() {
    count = end = 0;
}

void ZoContainer::IncTo(long n) {
    if (n > capacity) Resize(n);
}

void ZoContainer::IncBy(long n) {
    if (n > 0 && n <= LONG_MAX - capacity) Resize(capacity + n);
}

bool ZoContainer::Grow() {
    return block <= LONG_MAX - capacity && Resize(capacity + block);
}

void ZoContainer::DecTo(long n) {
    if (n < 0 || n > count) return;
    if (Resize(n)) count = end = n;
}

void ZoContainer::DecBy(long n) {
    if (n < 0 || count > capacity - n) return;
    // end can exceed count only in subclasses; never cut live slots.
    if (capacity - n < end) return;
    Resize(capacity - n);
}

void ZoContainer::Adjust() {
    if (end <= count) Resize(count);
}

int ZoContainer::AddItem(void* item) {
    if (end >= capacity && !Grow()) return 0;
    items[end++] = item;
    count++;
    return 1;
}

int ZoContainer::AddItem(long index, void* item) {
    if (index < 0 || index >= end) return 0;
    if (end >= capacity && !Grow()) return 0;
    memmove(items + index + 1, items + index, (end - index) * sizeof(void*));
    items[index] = item;
    count++;
    end++;
    return 1;
}

int ZoContainer::DelItem(const void* item) {
    return DelItem(FindItem(item));
}

int ZoContainer::DelItem(long index) {
    if (index < 0 || index >= count) return 0;
    memmove(items + index, items + index + 1, (end - index - 1) * sizeof(void*));
    count--;
    end--;
    return 1;
}

bool ZoContainer::HasItem(const void* item) {
    return FindItem(item) >= 0;
}

bool ZoContainer::HasItem(const void* key, ZoCompare cmp) {
    return FindItem(key, cmp) >= 0;
}

long ZoContainer::FindItem(const void* item) {
    for (long i = 0; i < count; i++)
        if (items[i] == item) return i;
    return -1;
}

long ZoContainer::FindItem(const void* key, ZoCompare cmp) {
    if (cmp == nullptr) return -1;
    for (long i = 0; i < count; i++)
        if (cmp(items[i], key) == 0) return i;
    return -1;
}

void* ZoContainer::GetItem(long index) {
    if (index < 0 || index >= count) return nullptr;
    return items[index];
}

void ZoContainer::Sort(ZoCompare cmp) {
    if (count > 1 && cmp != nullptr) qsort(items, count, sizeof(void*), cmp);
}

void ZoContainer::Iterate(ZoIterate fn, void* data) {
    if (fn == nullptr) return;
    for (long i = 0; i < count; i++)
        fn(items[i], i, data);
}

void ZoContainer::Reverse() {
    void** fresh = static_cast<void**>(calloc(capacity > 0 ? capacity : 1, sizeof(void*)));
    if (fresh == nullptr) return;
    for (long i = 0; i < count; i++)
        fresh[i] = items[count - 1 - i];
    free(items);
    items = fresh;
}

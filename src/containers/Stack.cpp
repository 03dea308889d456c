#include <zolib/containers/Stack.h>

#include <cstdlib>
#include <cstring>

ZoStack::ZoStack(T_STACK_STYLE style, long initial, long block)
    : ZoContainer(initial, block), style(style), head(0), limit(0) {}

ZoStack::ZoStack(ZoStack* other)
    : ZoContainer(other ? other->count : 0, other ? other->block : 1),
      style(other ? other->style : STACK_LIFO),
      head(0),
      limit(other ? other->limit : 0) {
    // Nothing to copy, or no room (the array could not be allocated).
    if (other == nullptr || other->count == 0 || capacity < other->count) return;
    memcpy(items, other->items + other->head, other->count * sizeof(void*));
    count = end = other->count;
}

ZoStack::~ZoStack() = default;

void ZoStack::Clean() {
    count = end = head = 0;
}

void ZoStack::DecTo(long n) {
    if (n < 0 || n > count) return;
    Pack();
    ZoContainer::DecTo(n);
}

void ZoStack::DecBy(long n) {
    if (n < 0 || count > capacity - n) return;
    Pack();
    ZoContainer::DecBy(n);
}

void ZoStack::Adjust() {
    Pack();
    ZoContainer::Adjust();
}

void ZoStack::Iterate(ZoIterate fn, void* data) {
    if (fn == nullptr) return;
    for (long i = head; i < end; i++)
        fn(items[i], i, data);
}

void ZoStack::Reverse() {
    void** fresh = static_cast<void**>(calloc(capacity > 0 ? capacity : 1, sizeof(void*)));
    if (fresh == nullptr) return;
    for (long i = head; i < end; i++)
        fresh[i] = items[end - 1 - (i - head)];
    free(items);
    items = fresh;
}

void ZoStack::SetLimit(long n) {
    limit = n > 0 ? n : 0;
}

bool ZoStack::Push(void* item) {
    if (limit != 0 && count >= limit) return false;
    if (end >= capacity) {
        if (style == STACK_FIFO && head != 0)
            Pack();
        else if (!Grow())
            return false;
    }
    items[end++] = item;
    count++;
    return true;
}

void* ZoStack::Pop() {
    if (count == 0) return nullptr;
    if (style == STACK_LIFO) {
        count--;
        return items[--end];
    }
    void* item = items[head++];
    if (--count == 0) head = end = 0;
    return item;
}

void* ZoStack::Peek() {
    if (count == 0) return nullptr;
    return style == STACK_LIFO ? items[end - 1] : items[head];
}

bool ZoStack::Pack() {
    if (style != STACK_FIFO || head == 0) return false;
    memmove(items, items + head, count * sizeof(void*));
    head = 0;
    end = count;
    return true;
}

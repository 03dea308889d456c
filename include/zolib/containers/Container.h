// ZoContainer: a growable array of untyped pointers.
//
// The container keeps its pointers in one contiguous heap array that grows by
// a fixed step (`block` slots) whenever an append finds it full; it never
// doubles. Positions count from 0; -1 stands for "not found".
//
// Ownership: the container owns its slot array only. It never copies, frees
// or dereferences the items; freeing them is the holder's business.
// Threads: no lock. Callers serialise access to a shared container.
// Nothing blocks.
// Failure: refusals are reported as 0/false, -1 or null; nothing throws. If
// the slot array cannot be grown the operation is refused and nothing changes.
#pragma once

#include <zolib/Export.h>

// Comparator for HasItem/FindItem (item, key) and Sort (slot, slot): 0 = equal.
typedef int (*ZoCompare)(const void*, const void*);
// Iteration callback: the item, its slot index and the caller's data.
typedef void (*ZoIterate)(void* item, long index, void* data);

class ZOLIB_API ZoContainer {
  public:
    // `initial` slots allocated (zero-filled); `block` slots added per growth.
    // A `block` below 1 is taken as 1 and a negative `initial` as 0.
    ZoContainer(long initial, long block);
    // A tight copy: capacity equals `other`'s item count; items are shared.
    explicit ZoContainer(ZoContainer* other);
    virtual ~ZoContainer();

    ZoContainer(const ZoContainer&) = delete;
    ZoContainer& operator=(const ZoContainer&) = delete;

    long Length() const { return capacity; }  // slots allocated
    long Size() const { return count; }       // items held

    virtual void Clean();        // forget all items; keeps the array
    virtual void IncTo(long n);  // grow to exactly n slots if n > Length()
    virtual void IncBy(long n);  // grow by n slots (n < 0: nothing)
    virtual void DecTo(long n);  // n <= Size(): keep the first n items in n slots
    virtual void DecBy(long n);  // shrink by n slots unless that would drop items
    virtual void Adjust();       // exactly Size() slots

    // Appends; grows by `block` when full. Returns 1, or 0 if growth failed.
    virtual int AddItem(void* item);
    // Inserts before position `index` (0 to end-1); cannot append. 1 or 0.
    virtual int AddItem(long index, void* item);
    // Removes the first occurrence of `item`. 1 or 0 when absent.
    virtual int DelItem(const void* item);
    // Removes position `index`, closing the gap. 0 when out of range.
    virtual int DelItem(long index);

    virtual bool HasItem(const void* item);
    virtual bool HasItem(const void* key, ZoCompare cmp);   // cmp(item, key)
    virtual long FindItem(const void* item);                // -1 when absent
    virtual long FindItem(const void* key, ZoCompare cmp);  // cmp(item, key); -1 when absent
    virtual void* GetItem(long index);                      // null when out of range

    // qsort over the items; cmp receives pointers to two slots.
    virtual void Sort(ZoCompare cmp);
    // Calls fn(item, index, data) for each item; the count is re-read before
    // each call, so items appended by fn are visited too.
    virtual void Iterate(ZoIterate fn, void* data);
    virtual void Reverse();

  protected:
    // Reallocates the slot array to `n` slots; false (nothing changed) on failure.
    bool Resize(long n);
    // Adds `block` slots; false (nothing changed) on failure or overflow.
    bool Grow();

    long capacity;  // slots allocated
    long count;     // items held
    long end;       // one past the last occupied slot
    long block;     // growth step
    void** items;   // slot array (owned)
};

// The bag's records in memory: how they are allocated, freed and copied.
// Shared by the bag's source files; the flat form is in FlatFormat.h.
#pragma once

#include <zolib/bag/Bag.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "bag/internal/FlatFormat.h"

namespace zolib_internal {

// How records hold their bytes. Records inside a bag are packed, to spend
// as few allocations as possible:
// - a packed element's bytes follow the record in its block;
// - a packed item's block holds the record, its name (and the name's
//   length), and room for the elements made with it, each with its bytes.
//   Elements added later have blocks of their own.
// - the items of an unflattened bag share blocks, a few at a time (see
//   PackFlatItems), each laid out as a packed item's block.
// Only the library frees packed records, and it tells the layouts apart by
// where things lie: always inside the block they belong to, where no other
// block can start. Records handed to callers of the record functions
// (UnflattenItem, UnflattenIndex, SetItem) are loose: every part is a block
// of its own, as those callers free them part by part.
enum Layout { kPacked, kLoose };

class ItemList;

// A new element holding a copy of `size` bytes (next = null); `data` may be
// null only when size is 0.
T_Elem* NewElem(const void* data, uint32_t size, Layout layout);
// Frees the element's bytes unless they share its block; the record stays.
void FreeData(T_Elem* elem);

// A new loose item with a copy of the name (count 0, no elements).
T_Item* NewItem(int32_t hash, const char* name, size_t nameLength, T_Data type);
// The room a packed element of `size` bytes takes in its item's block.
size_t ElemRoom(uint32_t size);
// A new packed item with a copy of the name and no element yet (count 0),
// whose block keeps `room` bytes (a sum of ElemRoom) for elements.
T_Item* NewPackedItem(int32_t hash, const char* name, size_t nameLength, T_Data type, size_t room);
// A new packed element for `item` holding a copy of `size` bytes: in the
// item's block while its room lasts, else in a block of its own. Not linked
// (next = null); the caller links it into that item.
T_Elem* PackElem(T_Item* item, const void* data, uint32_t size);
// A new packed item with one element holding a copy of `size` bytes (count 1).
T_Item* NewPackedItem(int32_t hash, const char* name, size_t nameLength, T_Data type,
                      const void* data, uint32_t size);

// An item record of the flat form whose bytes were all checked: its fields,
// its element records, and the room they take packed (a sum of ElemRoom).
struct FlatItem {
    int32_t hash;
    const char* name;
    size_t nameLength;
    T_Data type;
    int32_t count;
    const char* elems;
    size_t room;
};
// Reads an item record from `in` into `r` and moves past it; false when it
// runs past the end or holds no element (a bag never holds an empty item).
bool ReadFlatItem(FlatReader& in, FlatItem* r);
// Makes packed items of the next `n` item records of `in`, values in host
// order, and pushes them onto `list`, which has room for them. Items made
// together share heap blocks (batches) as far as they fit, one allocation
// for many; each still frees its own parts, and the last of a batch freed
// frees the batch. False for a damaged record or without memory, with part
// of them pushed.
bool PackFlatItems(FlatReader& in, int32_t n, ItemList* list);
// The bytes of an item's record in the flat form, and the record written at
// `p` (values little-endian); returns the position after it.
unsigned long FlatItemSize(T_Item* item);
char* WriteFlatItem(T_Item* item, char* p);
// The same for every item of a list, in order.
unsigned long FlatItemsSize(ItemList* items);
char* WriteFlatItems(ItemList* items, char* p);
// Frees the name, every element and the record.
void FreeItem(T_Item* item, Layout layout);
// Frees every item of a bag's list (packed); the list keeps its slots.
void FreeItems(ItemList* items);
// RemoveIndex for an item of the given layout.
bool RemoveElem(T_Item* item, int index, Layout layout);
// Frees an element of `item`: the record too unless it lies in the item's
// block (a packed item's; `item` is null for a loose one).
void FreeElem(T_Item* item, T_Elem* elem);
// Frees the name unless it shares the record's block; the record stays.
void FreeName(T_Item* item);
// The length of the item's name: kept beside a packed name, counted otherwise.
size_t NameLength(T_Item* item);

// The 32-bit hash of `length` bytes of a name.
int32_t HashBytes(const char* name, size_t length);

// Copies of `from` and every element after it (`all`) or of `from` alone,
// as a chain whose last element goes to *last when `last` is not null;
// *copied counts them.
T_Elem* CopyChain(T_Elem* from, bool all, int* copied, Layout layout, T_Elem** last = nullptr);
// A new item copied from `src`, with copies of all its elements starting at
// `from` (`all`) or of `from` alone; its last element goes to *last.
T_Item* CopyItemFrom(T_Item* src, T_Elem* from, bool all, Layout layout, T_Elem** last = nullptr);
// SetItem(list, src, index) in the given layout.
bool CopyToList(ZoList* list, T_Item* src, int index, Layout layout);
// SetItem(dest, src, index) in the given layout.
bool CopyOnto(T_Item* dest, T_Item* src, int index, Layout layout);

// The list a bag keeps its items in. To everyone else it is an ordinary
// ZoList; the bag's own walks over its items read the slots directly instead
// of making a virtual call per item.
class ItemList : public ZoList {
  public:
    ItemList(long initial, long block) : ZoList(initial, block) {}
    // The item at position i, 0 <= i < Size().
    T_Item* At(long i) const { return static_cast<T_Item*>(items[i]); }
    // Appends without growing: only while Size() < Length().
    void Push(T_Item* item) {
        items[end++] = item;
        count++;
    }
};

// memcpy for the short names and values bags are mostly made of: copies of
// up to 16 bytes stay inline instead of calling the library.
inline void CopyBytes(void* to, const void* from, size_t n) {
    char* d = static_cast<char*>(to);
    const char* s = static_cast<const char*>(from);
    if (n >= 8 && n <= 16) {
        uint64_t head, tail;
        memcpy(&head, s, 8);
        memcpy(&tail, s + n - 8, 8);
        memcpy(d, &head, 8);
        memcpy(d + n - 8, &tail, 8);
    } else if (n >= 4 && n < 8) {
        uint32_t head, tail;
        memcpy(&head, s, 4);
        memcpy(&tail, s + n - 4, 4);
        memcpy(d, &head, 4);
        memcpy(d + n - 4, &tail, 4);
    } else if (n < 4) {
        for (size_t i = 0; i < n; i++)
            d[i] = s[i];
    } else {
        memcpy(d, s, n);
    }
}

// A block from malloc, freed with free.
struct FreeDeleter {
    void operator()(void* p) const { free(p); }
};
using HeapBlock = std::unique_ptr<char, FreeDeleter>;

// A bag's item list (only bags' lists may be given).
inline ItemList* Items(ZoList* list) {
    return static_cast<ItemList*>(list);
}

// A bag whose list could not be allocated holds a null list: it is empty,
// and the first change that adds an item makes the list (ListOf).
inline ZoList* NewItemList(long initial) {
    return new (std::nothrow) ItemList(initial, 1);
}
inline ItemList* ListOf(ZoList*& list) {
    if (list == nullptr) list = NewItemList(20);
    return Items(list);
}
inline long ItemCount(const ZoList* list) {
    return list != nullptr ? list->Size() : 0;
}

}  // namespace zolib_internal

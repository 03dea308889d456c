// Allocation helpers for bag records, shared by the bag's source files.
#pragma once

#include <zolib/bag/Bag.h>

namespace zolib_internal {

// Fixed parts of the flat form: the bag header (magic, flag, what, who, when,
// size, count), an item record without its name, an element record without
// its payload.
constexpr unsigned long kFlatHeader = 24;
constexpr unsigned long kItemHeader = 16;
constexpr unsigned long kElemHeader = 4;

// How records hold their bytes. Records inside a bag are packed, so that an
// item costs one allocation and each further element one more:
// - a packed element's bytes follow the record in its block;
// - a packed item's block holds the record, its name (and the name's
//   length) and its first element with that element's bytes.
// Only the library frees packed records, and it tells the layouts apart by
// where the bytes lie: always inside the record's own block, where no other
// block can start. Records handed to callers of the record functions
// (UnflattenItem, UnflattenIndex, SetItem) are loose: every part is a block
// of its own, as those callers free them part by part.
enum Layout { kPacked, kLoose };

// A new element holding a copy of `size` bytes (next = null); `data` may be
// null only when size is 0.
T_Elem* NewElem(const void* data, uint32_t size, Layout layout);
// Frees the element's bytes unless they share its block; the record stays.
void FreeData(T_Elem* elem);

// A new loose item with a copy of the name (count 0, no elements).
T_Item* NewItem(int32_t hash, const char* name, size_t nameLength, T_Data type);
// A new packed item with a copy of the name and a first element holding a
// copy of `size` bytes (count 1).
T_Item* NewPackedItem(int32_t hash, const char* name, size_t nameLength, T_Data type,
                      const void* data, uint32_t size);
// Frees the name, every element and the record.
void FreeItem(T_Item* item, Layout layout);
// RemoveIndex for an item of the given layout.
bool RemoveElem(T_Item* item, int index, Layout layout);
// Frees the name unless it shares the record's block; the record stays.
void FreeName(T_Item* item);
// The length of the item's name: kept beside a packed name, counted otherwise.
size_t NameLength(T_Item* item);

// The 32-bit hash of `length` bytes of a name.
int32_t HashBytes(const char* name, size_t length);

// The list a bag keeps its items in. To everyone else it is an ordinary
// ZoList; the bag's own walks over its items read the slots directly instead
// of making a virtual call per item.
class ItemList : public ZoList {
  public:
    ItemList(long initial, long block) : ZoList(initial, block) {}
    // The item at position i, 0 <= i < Size().
    T_Item* At(long i) const { return static_cast<T_Item*>(items[i]); }
};

// A bag's item list (only bags' lists may be given).
inline ItemList* Items(ZoList* list) {
    return static_cast<ItemList*>(list);
}

}  // namespace zolib_internal

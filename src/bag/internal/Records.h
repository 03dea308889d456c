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

// A new element holding a copy of `size` bytes (next = null); `data` may be
// null only when size is 0.
T_Elem* NewElem(const void* data, uint32_t size);
// A new item record with a copy of the name (count 0, no elements).
T_Item* NewItem(int32_t hash, const char* name, size_t nameLength, T_Data type);
// Frees the name, every element and the record.
void FreeItem(T_Item* item);
// The 32-bit hash of `length` bytes of a name.
int32_t HashBytes(const char* name, size_t length);

}  // namespace zolib_internal

// Items, elements and typed access of ZoBag.
#include <zolib/bag/Bag.h>

#include <cstdlib>
#include <cstring>

#include "bag/internal/Records.h"

using zolib_internal::CopyOnto;
using zolib_internal::CopyToList;
using zolib_internal::FreeItem;
using zolib_internal::ItemCount;
using zolib_internal::ItemList;
using zolib_internal::Items;
using zolib_internal::kPacked;
using zolib_internal::NewElem;
using zolib_internal::NewPackedItem;

// ---- ZoBag ----

ZoBag::ZoBag(unsigned long what, int initial)
    : what(static_cast<uint32_t>(what)),
      who(0),
      when(0),
      itemList(zolib_internal::NewItemList(initial > 0 ? initial : 20)) {}

// Whole or empty: a copy that runs out of memory drops what it had copied.
ZoBag::ZoBag(ZoBag* other)
    : what(other ? other->what : 0),
      who(other ? other->who : 0),
      when(other ? other->when : 0),
      itemList(zolib_internal::NewItemList(other ? other->CountItems() : 0)) {
    if (other == nullptr || itemList == nullptr) return;
    ItemList* from = Items(other->itemList);
    for (long i = 0, n = ItemCount(from); i < n; i++) {
        if (!CopyToList(itemList, from->At(i), 0, kPacked)) {
            ItemList* items = Items(itemList);
            for (long k = 0; k < items->Size(); k++)
                FreeItem(items->At(k), kPacked);
            items->Clean();
            return;
        }
    }
}

ZoBag::~ZoBag() {
    zolib_internal::FreeItems(Items(itemList));
    delete itemList;
}

long ZoBag::Hash(const char* name) {
    if (name == nullptr) return 0;
    return zolib_internal::HashBytes(name, strlen(name));
}

namespace {

// As FindItem(list, hash), without a virtual call per item.
T_Item* FindHashed(ZoList* list, int32_t hash) {
    ItemList* items = Items(list);
    for (long i = 0, n = ItemCount(items); i < n; i++)
        if (items->At(i)->hash == hash) return items->At(i);
    return nullptr;
}

}  // namespace

T_Item* ZoBag::Find(const char* name) {
    if (name == nullptr) return nullptr;
    return FindHashed(itemList, static_cast<int32_t>(Hash(name)));
}

bool ZoBag::Setdata(const char* name, T_Data type, const void* data, int size, int index) {
    if (name == nullptr || size < 0 || (data == nullptr && size > 0)) return false;
    // The name is measured and hashed once, for the search and a new item.
    size_t length = strlen(name);
    int32_t hash = zolib_internal::HashBytes(name, length);
    T_Item* item = FindHashed(itemList, hash);
    if (item == nullptr) {
        if (zolib_internal::ListOf(itemList) == nullptr) return false;
        item = NewPackedItem(hash, name, length, type, data, static_cast<uint32_t>(size));
        if (item == nullptr) return false;
        if (!itemList->AddItem(item)) {
            FreeItem(item, kPacked);
            return false;
        }
        return true;
    }
    if (item->type != type) return false;
    if (index == 0 || index > item->count) {
        T_Elem* elem = NewElem(data, static_cast<uint32_t>(size), kPacked);
        if (elem == nullptr) return false;
        AddIndex(item, elem);
        return true;
    }
    T_Elem* elem = SeekIndex(item, index);
    if (elem->size == static_cast<uint32_t>(size)) {
        if (size > 0) memmove(elem->data, data, size);
        return true;
    }
    // Copy before freeing: `data` may point into the block being replaced.
    // Bytes packed with their record stay until the element goes.
    void* block = malloc(size > 0 ? size : 1);
    if (block == nullptr) return false;
    if (size > 0) memcpy(block, data, size);
    zolib_internal::FreeData(elem);
    elem->data = block;
    elem->size = size;
    return true;
}

bool ZoBag::Setbool(const char* name, bool value, int index) {
    unsigned char byte = value ? 1 : 0;
    return Setdata(name, T_BOOL, &byte, 1, index);
}
bool ZoBag::Setint8(const char* name, char value, int index) {
    return Setdata(name, T_INT8, &value, 1, index);
}
bool ZoBag::Setint16(const char* name, short value, int index) {
    return Setdata(name, T_INT16, &value, 2, index);
}
bool ZoBag::Setint32(const char* name, int value, int index) {
    return Setdata(name, T_INT32, &value, 4, index);
}
bool ZoBag::Setint64(const char* name, long long value, int index) {
    return Setdata(name, T_INT64, &value, 8, index);
}
bool ZoBag::Setfloat32(const char* name, float value, int index) {
    return Setdata(name, T_FLOAT32, &value, 4, index);
}
bool ZoBag::Setfloat64(const char* name, double value, int index) {
    return Setdata(name, T_FLOAT64, &value, 8, index);
}
bool ZoBag::Setpointer(const char* name, const void* value, int index) {
    return Setdata(name, T_POINTER, &value, sizeof(void*), index);
}
bool ZoBag::Setstring(const char* name, const char* value, int index) {
    if (value == nullptr) return false;
    return Setdata(name, T_STRING, value, static_cast<int>(strlen(value) + 1), index);
}

bool ZoBag::Getdata(const char* name, T_Data type, void** data, int* size, int index) {
    T_Item* item = Find(name);
    if (item == nullptr || item->type != type) return false;
    T_Elem* elem = SeekIndex(item, index);
    if (elem == nullptr) return false;
    if (data != nullptr) *data = elem->data;
    if (size != nullptr) *size = static_cast<int>(elem->size);
    return true;
}

namespace {

// Copies a fixed-width element out; a shorter element is refused.
bool GetFixed(ZoBag* bag, const char* name, T_Data type, void* value, int width, int index) {
    void* data;
    int size;
    if (value == nullptr || !bag->Getdata(name, type, &data, &size, index) || size < width)
        return false;
    memcpy(value, data, width);
    return true;
}

}  // namespace

bool ZoBag::Getbool(const char* name, bool* value, int index) {
    unsigned char byte;
    if (value == nullptr || !GetFixed(this, name, T_BOOL, &byte, 1, index)) return false;
    *value = byte != 0;
    return true;
}
bool ZoBag::Getint8(const char* name, char* value, int index) {
    return GetFixed(this, name, T_INT8, value, 1, index);
}
bool ZoBag::Getint16(const char* name, short* value, int index) {
    return GetFixed(this, name, T_INT16, value, 2, index);
}
bool ZoBag::Getint32(const char* name, int* value, int index) {
    return GetFixed(this, name, T_INT32, value, 4, index);
}
bool ZoBag::Getint64(const char* name, long long* value, int index) {
    return GetFixed(this, name, T_INT64, value, 8, index);
}
bool ZoBag::Getfloat32(const char* name, float* value, int index) {
    return GetFixed(this, name, T_FLOAT32, value, 4, index);
}
bool ZoBag::Getfloat64(const char* name, double* value, int index) {
    return GetFixed(this, name, T_FLOAT64, value, 8, index);
}
bool ZoBag::Getpointer(const char* name, void** value, int index) {
    return GetFixed(this, name, T_POINTER, value, sizeof(void*), index);
}
bool ZoBag::Getstring(const char* name, char** value, int index) {
    void* data;
    int size;
    if (value == nullptr || !Getdata(name, T_STRING, &data, &size, index)) return false;
    // A string made by Setdata may lack its NUL; handing it out would invite over-reads.
    if (size <= 0 || memchr(data, '\0', size) == nullptr) return false;
    *value = static_cast<char*>(data);
    return true;
}

bool ZoBag::HasItem(const char* name, T_Data* type) {
    T_Item* item = Find(name);
    if (item == nullptr) return false;
    if (type != nullptr) *type = item->type;
    return true;
}

bool ZoBag::HasItem(const char* name, T_Data type) {
    T_Item* item = Find(name);
    return item != nullptr && item->type == type;
}

int ZoBag::CountItem(const char* name) {
    T_Item* item = Find(name);
    return item == nullptr ? 0 : item->count;
}

int ZoBag::CountItems() {
    return static_cast<int>(ItemCount(itemList));
}

bool ZoBag::GetInfo(int i, char** name, T_Data* type, int* count) {
    if (itemList == nullptr) return false;
    T_Item* item = static_cast<T_Item*>(itemList->GetItem(i));
    if (item == nullptr) return false;
    if (name != nullptr) *name = item->name;
    if (type != nullptr) *type = item->type;
    if (count != nullptr) *count = item->count;
    return true;
}

bool ZoBag::CopyItem(ZoBag* source, const char* name, int index) {
    if (source == nullptr) return false;
    T_Item* from = source->Find(name);
    if (from == nullptr) return false;
    if (index != 0 && index > from->count) return false;
    if (index < 0) index = 1;
    T_Item* here = Find(name);
    if (here == nullptr)
        return zolib_internal::ListOf(itemList) != nullptr &&
               CopyToList(itemList, from, index, kPacked);
    // Copying an item onto itself: the chain is copied before it grows.
    return CopyOnto(here, from, index, kPacked);
}

bool ZoBag::RemoveItem(const char* name, int index) {
    T_Item* item = Find(name);
    if (item == nullptr) return false;
    if (index == 0) {
        if (!itemList->DelItem(static_cast<void*>(item))) return false;
        FreeItem(item, kPacked);
        return true;
    }
    if (index > item->count) return false;
    if (item->count == 1) {
        // The last element takes the item with it; unlink first so a refusal changes nothing.
        if (!itemList->DelItem(static_cast<void*>(item))) return false;
        FreeItem(item, kPacked);
        return true;
    }
    return zolib_internal::RemoveElem(item, index, kPacked);
}

bool ZoBag::RenameItem(const char* oldName, const char* newName) {
    T_Item* item = Find(oldName);
    if (item == nullptr || newName == nullptr || Find(newName) != nullptr) return false;
    size_t length = strlen(newName);
    char* copy = static_cast<char*>(malloc(length + 1));
    if (copy == nullptr) return false;
    memcpy(copy, newName, length + 1);
    zolib_internal::FreeName(item);
    item->name = copy;
    item->hash = static_cast<int32_t>(Hash(newName));
    return true;
}

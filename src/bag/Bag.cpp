#include <zolib/bag/Bag.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "bag/internal/Records.h"

using zolib_internal::FreeItem;
using zolib_internal::ItemList;
using zolib_internal::Items;
using zolib_internal::kElemHeader;
using zolib_internal::kFlatHeader;
using zolib_internal::kItemHeader;
using zolib_internal::kLoose;
using zolib_internal::kPacked;
using zolib_internal::Layout;
using zolib_internal::NameLength;
using zolib_internal::NewElem;
using zolib_internal::NewItem;
using zolib_internal::NewPackedItem;

namespace zolib_internal {

namespace {

// A packed item's block: the T_Item, the block's size, the bytes of it in
// use and the name's length (32 bits each), the name and its NUL, and from
// the next 8-byte boundary on, elements with their bytes, each taking
// ElemRoom bytes. The name lies 44 bytes into the block, an address no heap
// block can start at, so a packed name is known by its address alone; packed
// elements and packed bytes lie inside their own item's or element's block.
// Blocks stay below 4 GiB: beyond that, elements (or even the name) get
// blocks of their own.
constexpr size_t kBlockSizeAt = sizeof(T_Item);
constexpr size_t kUsedAt = kBlockSizeAt + sizeof(uint32_t);
constexpr size_t kLengthAt = kUsedAt + sizeof(uint32_t);
constexpr size_t kNameAt = kLengthAt + sizeof(uint32_t);
// A name too long for the length word is counted instead.
constexpr uint32_t kCountName = UINT32_MAX;

char* Block(T_Item* item) {
    return reinterpret_cast<char*>(item);
}
uint32_t Field(T_Item* item, size_t at) {
    uint32_t value;
    memcpy(&value, Block(item) + at, sizeof value);
    return value;
}
void SetField(T_Item* item, size_t at, size_t value) {
    uint32_t field = static_cast<uint32_t>(value);
    memcpy(Block(item) + at, &field, sizeof field);
}
// A packed element's bytes follow its record at the next 8-byte boundary
// (a T_Elem is 12 bytes on 32-bit hosts), so they stay 8-byte aligned.
constexpr size_t kPackedDataAt = (sizeof(T_Elem) + 7) & ~size_t{7};
void* PackedData(T_Elem* elem) {
    return reinterpret_cast<char*>(elem) + kPackedDataAt;
}
char* PackedName(T_Item* item) {
    return Block(item) + kNameAt;
}
size_t Align8(size_t n) {
    return (n + 7) & ~size_t{7};
}
// True when the element lies in the block of its (packed) item.
bool InBlock(T_Item* item, T_Elem* elem) {
    uintptr_t offset = reinterpret_cast<uintptr_t>(elem) - reinterpret_cast<uintptr_t>(item);
    return offset < Field(item, kBlockSizeAt);
}

// Frees an element of `item`: the record too unless it lies in the item's
// block (a packed item's; `item` is null for a loose one).
void FreeElem(T_Item* item, T_Elem* elem) {
    FreeData(elem);
    if (item == nullptr || !InBlock(item, elem)) free(elem);
}

}  // namespace

T_Elem* NewElem(const void* data, uint32_t size, Layout layout) {
    size_t room = size > 0 ? size : 1;
    T_Elem* elem;
    if (layout == kPacked) {
        elem = static_cast<T_Elem*>(malloc(kPackedDataAt + room));
        elem->data = PackedData(elem);
    } else {
        elem = static_cast<T_Elem*>(malloc(sizeof(T_Elem)));
        elem->data = malloc(room);
    }
    elem->size = size;
    if (size > 0) memcpy(elem->data, data, size);
    elem->next = nullptr;
    return elem;
}

void FreeData(T_Elem* elem) {
    if (elem->data != PackedData(elem)) free(elem->data);
}

T_Item* NewItem(int32_t hash, const char* name, size_t nameLength, T_Data type) {
    T_Item* item = static_cast<T_Item*>(malloc(sizeof(T_Item)));
    item->hash = hash;
    item->name = static_cast<char*>(malloc(nameLength + 1));
    if (nameLength > 0) memcpy(item->name, name, nameLength);
    item->name[nameLength] = '\0';
    item->type = type;
    item->count = 0;
    item->first = nullptr;
    return item;
}

size_t ElemRoom(uint32_t size) {
    return Align8(kPackedDataAt + (size > 0 ? size : 1));
}

T_Item* NewPackedItem(int32_t hash, const char* name, size_t nameLength, T_Data type, size_t room) {
    size_t used = Align8(kNameAt + nameLength + 1);
    bool nameInside = used <= UINT32_MAX;
    if (!nameInside) used = Align8(kNameAt);
    if (used + room > UINT32_MAX) room = 0;
    T_Item* item = static_cast<T_Item*>(malloc(used + room));
    SetField(item, kBlockSizeAt, used + room);
    SetField(item, kUsedAt, used);
    SetField(item, kLengthAt, nameLength < kCountName ? nameLength : kCountName);
    item->hash = hash;
    item->name = nameInside ? PackedName(item) : static_cast<char*>(malloc(nameLength + 1));
    CopyBytes(item->name, name, nameLength);
    item->name[nameLength] = '\0';
    item->type = type;
    item->count = 0;
    item->first = nullptr;
    return item;
}

T_Elem* PackElem(T_Item* item, const void* data, uint32_t size) {
    size_t used = Field(item, kUsedAt);
    size_t room = ElemRoom(size);
    if (Field(item, kBlockSizeAt) - used < room) return NewElem(data, size, kPacked);
    SetField(item, kUsedAt, used + room);
    T_Elem* elem = reinterpret_cast<T_Elem*>(Block(item) + used);
    elem->size = size;
    elem->data = PackedData(elem);
    CopyBytes(elem->data, data, size);
    elem->next = nullptr;
    return elem;
}

T_Item* NewPackedItem(int32_t hash, const char* name, size_t nameLength, T_Data type,
                      const void* data, uint32_t size) {
    T_Item* item = NewPackedItem(hash, name, nameLength, type, ElemRoom(size));
    item->first = PackElem(item, data, size);
    item->count = 1;
    return item;
}

void FreeName(T_Item* item) {
    if (item->name != PackedName(item)) free(item->name);
}

size_t NameLength(T_Item* item) {
    uint32_t length = item->name == PackedName(item) ? Field(item, kLengthAt) : kCountName;
    return length != kCountName ? length : strlen(item->name);
}

void FreeItem(T_Item* item, Layout layout) {
    if (item == nullptr) return;
    T_Item* block = layout == kPacked ? item : nullptr;
    for (T_Elem* elem = item->first; elem != nullptr;) {
        T_Elem* next = elem->next;
        FreeElem(block, elem);
        elem = next;
    }
    FreeName(item);
    free(item);
}

bool RemoveElem(T_Item* item, int index, Layout layout) {
    if (index < 0) index = 1;
    if (index == 0 || index > item->count) return false;
    T_Elem** link = &item->first;
    for (int i = 1; i < index; i++)
        link = &(*link)->next;
    T_Elem* gone = *link;
    *link = gone->next;
    FreeElem(layout == kPacked ? item : nullptr, gone);
    item->count--;
    return true;
}

int32_t HashBytes(const char* name, size_t length) {
    if (length == 0) return 0;
    if (length == 1) return static_cast<signed char>(name[0]);
    // Unsigned arithmetic wraps at 32 bits as the hash requires. The last
    // product pairs the final character with the NUL and so adds nothing.
    uint32_t sum = 0, weight = 1;
    for (size_t i = 0; i + 1 < length; i++) {
        int32_t product = static_cast<signed char>(name[i]) * static_cast<signed char>(name[i + 1]);
        sum += weight * static_cast<uint32_t>(product);
        weight *= 10;
    }
    return static_cast<int32_t>(sum);
}

}  // namespace zolib_internal

// ---- record functions ----

T_Item* FindItem(ZoList* list, long hash) {
    if (list == nullptr) return nullptr;
    T_Item* item;
    for (long i = 0; (item = static_cast<T_Item*>(list->GetItem(i))) != nullptr; i++)
        if (item->hash == static_cast<int32_t>(hash)) return item;
    return nullptr;
}

T_Elem* SeekIndex(T_Item* item, int index) {
    if (item == nullptr) return nullptr;
    if (index < 0) index = 1;
    if (index == 0 || index > item->count) return nullptr;
    T_Elem* elem = item->first;
    for (int i = 1; i < index && elem != nullptr; i++)
        elem = elem->next;
    return elem;
}

void AddIndex(T_Item* item, T_Elem* elem) {
    if (item == nullptr || elem == nullptr) return;
    elem->next = nullptr;
    if (item->first == nullptr) {
        item->first = elem;
    } else {
        T_Elem* last = item->first;
        while (last->next != nullptr)
            last = last->next;
        last->next = elem;
    }
    item->count++;
}

bool RemoveIndex(T_Item* item, int index) {
    if (item == nullptr) return false;
    return zolib_internal::RemoveElem(item, index, kLoose);
}

void FreeIndex(T_Elem* elem) {
    while (elem != nullptr) {
        T_Elem* next = elem->next;
        zolib_internal::FreeData(elem);
        free(elem);
        elem = next;
    }
}

namespace {

// Copies of `from` and every element after it (`all`) or of `from` alone,
// as a chain whose last element goes to *last when `last` is not null.
T_Elem* CopyChain(T_Elem* from, bool all, int* copied, Layout layout, T_Elem** last = nullptr) {
    T_Elem* head = nullptr;
    T_Elem* tail = nullptr;
    *copied = 0;
    for (T_Elem* e = from; e != nullptr; e = all ? e->next : nullptr) {
        T_Elem* copy = NewElem(e->data, e->size, layout);
        (tail == nullptr ? head : tail->next) = copy;
        tail = copy;
        ++*copied;
    }
    if (last != nullptr) *last = tail;
    return head;
}

// The first element a copy of `src` takes: element `index`, or the first
// for 0; null when there is none.
T_Elem* CopyStart(T_Item* src, int index) {
    return index == 0 ? src->first : SeekIndex(src, index);
}

void AppendChain(T_Item* item, T_Elem* chain, int copied) {
    T_Elem** link = &item->first;
    while (*link != nullptr)
        link = &(*link)->next;
    *link = chain;
    item->count += copied;
}

// A new item copied from `src`, with copies of all its elements starting at
// `from` (`all`) or of `from` alone; its last element goes to *last.
T_Item* CopyItemFrom(T_Item* src, T_Elem* from, bool all, Layout layout, T_Elem** last = nullptr) {
    T_Item* fresh;
    T_Elem* tail = nullptr;
    if (layout == kPacked) {
        size_t room = 0;
        for (T_Elem* e = from; e != nullptr; e = all ? e->next : nullptr)
            room += zolib_internal::ElemRoom(e->size);
        fresh = NewPackedItem(src->hash, src->name, NameLength(src), src->type, room);
        T_Elem** link = &fresh->first;
        for (T_Elem* e = from; e != nullptr; e = all ? e->next : nullptr) {
            tail = *link = zolib_internal::PackElem(fresh, e->data, e->size);
            link = &tail->next;
            fresh->count++;
        }
    } else {
        fresh = NewItem(src->hash, src->name, NameLength(src), src->type);
        AddIndex(fresh, NewElem(from->data, from->size, kLoose));
        int copied = 0;
        if (all) fresh->first->next = CopyChain(from->next, true, &copied, kLoose, &tail);
        fresh->count += copied;
        if (tail == nullptr) tail = fresh->first;
    }
    if (last != nullptr) *last = tail;
    return fresh;
}

// SetItem(list, ...) in the given layout.
bool CopyToList(ZoList* list, T_Item* src, int index, Layout layout) {
    T_Elem* from = CopyStart(src, index);
    if (from == nullptr) return false;
    T_Item* fresh = CopyItemFrom(src, from, index == 0, layout);
    if (!list->AddItem(fresh)) {
        FreeItem(fresh, layout);
        return false;
    }
    return true;
}

// SetItem(dest, ...) in the given layout.
bool CopyOnto(T_Item* dest, T_Item* src, int index, Layout layout) {
    T_Elem* from = CopyStart(src, index);
    if (from == nullptr) return false;
    int copied;
    T_Elem* chain = CopyChain(from, index == 0, &copied, layout);
    AppendChain(dest, chain, copied);
    return true;
}

}  // namespace

// The record functions hand their records to callers, who may free them
// block by block: those are loose.
bool SetItem(ZoList* list, T_Item* item, int index) {
    if (list == nullptr || item == nullptr) return false;
    return CopyToList(list, item, index, kLoose);
}

bool SetItem(T_Item* dest, T_Item* src, int index) {
    if (dest == nullptr || src == nullptr) return false;
    return CopyOnto(dest, src, index, kLoose);
}

// ---- ZoBag ----

ZoBag::ZoBag(unsigned long what, int initial)
    : what(static_cast<uint32_t>(what)),
      who(0),
      when(0),
      itemList(new ItemList(initial > 0 ? initial : 20, 1)) {}

ZoBag::ZoBag(ZoBag* other)
    : what(other ? other->what : 0),
      who(other ? other->who : 0),
      when(other ? other->when : 0),
      itemList(new ItemList(other ? other->CountItems() : 0, 1)) {
    if (other == nullptr) return;
    ItemList* from = Items(other->itemList);
    for (long i = 0; i < from->Size(); i++)
        CopyToList(itemList, from->At(i), 0, kPacked);
}

ZoBag::~ZoBag() {
    ItemList* items = Items(itemList);
    for (long i = 0; i < items->Size(); i++)
        FreeItem(items->At(i), kPacked);
    delete itemList;
}

long ZoBag::Hash(const char* name) {
    if (name == nullptr) return 0;
    return zolib_internal::HashBytes(name, strlen(name));
}

T_Item* ZoBag::Find(const char* name) {
    if (name == nullptr) return nullptr;
    // As FindItem(itemList, hash), without a virtual call per item.
    int32_t hash = static_cast<int32_t>(Hash(name));
    ItemList* items = Items(itemList);
    for (long i = 0, n = items->Size(); i < n; i++)
        if (items->At(i)->hash == hash) return items->At(i);
    return nullptr;
}

bool ZoBag::Setdata(const char* name, T_Data type, const void* data, int size, int index) {
    if (name == nullptr || size < 0 || (data == nullptr && size > 0)) return false;
    T_Item* item = Find(name);
    if (item == nullptr) {
        item = NewPackedItem(static_cast<int32_t>(Hash(name)), name, strlen(name), type, data,
                             static_cast<uint32_t>(size));
        if (!itemList->AddItem(item)) {
            FreeItem(item, kPacked);
            return false;
        }
        return true;
    }
    if (item->type != type) return false;
    if (index == 0 || index > item->count) {
        AddIndex(item, NewElem(data, static_cast<uint32_t>(size), kPacked));
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
    return static_cast<int>(itemList->Size());
}

bool ZoBag::GetInfo(int i, char** name, T_Data* type, int* count) {
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
    if (here == nullptr) return CopyToList(itemList, from, index, kPacked);
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
    memcpy(copy, newName, length + 1);
    zolib_internal::FreeName(item);
    item->name = copy;
    item->hash = static_cast<int32_t>(Hash(newName));
    return true;
}

// ---- pieces ----

namespace {

// Appends to a bag's item list, doubling its room when full: the list's own
// growth is one slot at a time, which would make long runs of appends
// quadratic.
bool Append(ZoList* list, void* item) {
    if (list->Size() >= list->Length()) list->IncTo(2 * list->Length() + 1);
    return list->AddItem(item) != 0;
}

// The item a name finds (the first of its hash) and, once known, its last
// element, so that appending to it never walks the chain.
struct Slot {
    T_Item* item;
    T_Elem* last;
    T_Elem* beforeLast;  // when known: the element before `last`
};

// The first item of each hash in `list`, as a lookup by name finds it.
std::unordered_map<int32_t, Slot> FirstByHash(ZoList* list) {
    std::unordered_map<int32_t, Slot> slots;
    T_Item* item;
    for (long i = 0; (item = static_cast<T_Item*>(list->GetItem(i))) != nullptr; i++)
        slots.emplace(item->hash, Slot{item, nullptr, nullptr});
    return slots;
}

T_Elem* LastElem(Slot& slot) {
    if (slot.last == nullptr)
        for (slot.last = slot.item->first; slot.last != nullptr && slot.last->next != nullptr;)
            slot.last = slot.last->next;
    return slot.last;
}

void DeleteBags(ZoList* list) {
    for (long i = 0; i < list->Size(); i++)
        delete static_cast<ZoBag*>(list->GetItem(i));
    list->Clean();
}

}  // namespace

// Each element goes into the current piece as piece->CopyItem(this, name, s)
// would put it, and comes back out as piece->RemoveItem(name, p) would take it
// when the piece overflows; both find items by the hash of the name. The
// piece's flat size is kept up to date with every such step, and hash tables
// stand in for the linear lookups, so a split costs one pass over the bag.
bool ZoBag::Split(ZoList* pieces, long limit) {
    if (pieces == nullptr) return false;
    std::unordered_map<int32_t, Slot> sources = FirstByHash(itemList);
    std::unordered_map<int32_t, Slot> placed;  // the current piece's items
    ZoBag* piece = new ZoBag(0, 0);
    unsigned long size = kFlatHeader;  // the piece's plain flat size
    bool fresh = true;
    bool ok = true;
    long items = itemList->Size();
    for (long i = 0; ok && i < items; i++) {
        T_Item* item = static_cast<T_Item*>(itemList->GetItem(i));
        int32_t hash = static_cast<int32_t>(Hash(item->name));
        auto found = sources.find(hash);
        T_Item* source = found == sources.end() ? nullptr : found->second.item;
        T_Elem* elem = source == nullptr ? nullptr : source->first;  // source element s
        Slot* target = nullptr;  // the item's slot in the current piece, once looked up
        for (int s = 1, p = 1; s <= item->count; s++, p++) {
            // A buffer or a nested bag must fit the room left, even where a
            // new piece would take it. Its size is read as Getdata would.
            if ((item->type == T_BUFFER || item->type == T_BAG) && elem != nullptr &&
                source->type == item->type &&
                size + kElemHeader + elem->size > static_cast<unsigned long>(limit)) {
                ok = false;
                break;
            }
            if (elem != nullptr) {
                if (target == nullptr) {
                    auto into = placed.find(hash);
                    if (into != placed.end()) target = &into->second;
                }
                if (target != nullptr) {
                    T_Elem* copy = zolib_internal::PackElem(target->item, elem->data, elem->size);
                    LastElem(*target)->next = copy;
                    target->beforeLast = target->last;
                    target->last = copy;
                    target->item->count++;
                    size += kElemHeader + elem->size;
                } else {
                    // The item's block gets room for the run of elements that
                    // will fit the piece, so that they cost no allocation each.
                    size_t nameLength = NameLength(source);
                    size_t room = zolib_internal::ElemRoom(elem->size);
                    unsigned long projected = size + kItemHeader + nameLength + kElemHeader;
                    projected += elem->size;
                    for (T_Elem* e = elem->next; e != nullptr; e = e->next) {
                        projected += kElemHeader + e->size;
                        if (static_cast<long>(projected) > limit) break;
                        room += zolib_internal::ElemRoom(e->size);
                    }
                    T_Item* created =
                        NewPackedItem(source->hash, source->name, nameLength, source->type, room);
                    created->first = zolib_internal::PackElem(created, elem->data, elem->size);
                    created->count = 1;
                    if (Append(piece->itemList, created)) {
                        target = &placed.emplace(hash, Slot{created, created->first, nullptr})
                                      .first->second;
                        size += kItemHeader + nameLength + kElemHeader + elem->size;
                    } else {
                        FreeItem(created, kPacked);
                    }
                }
            }
            if (static_cast<long>(size) > limit) {
                if (fresh) {  // the element alone is too large
                    ok = false;
                    break;
                }
                auto back = placed.find(hash);
                if (back != placed.end() && p <= back->second.item->count) {
                    T_Item* taken = back->second.item;
                    if (taken->count == 1) {
                        piece->itemList->DelItem(static_cast<void*>(taken));
                        size -= FlatSizeItem(taken);
                        FreeItem(taken, kPacked);
                        placed.erase(back);
                    } else {
                        // Usually the element just appended, whose neighbour is
                        // known; otherwise walk to it.
                        Slot& slot = back->second;
                        T_Elem* before = slot.beforeLast;
                        T_Elem* gone = slot.last;
                        if (p != taken->count || before == nullptr || gone == nullptr) {
                            before = nullptr;
                            gone = taken->first;
                            for (int k = 1; k < p; k++) {
                                before = gone;
                                gone = gone->next;
                            }
                        }
                        if (gone == slot.last) slot.last = before;
                        slot.beforeLast = nullptr;
                        size -= kElemHeader + gone->size;
                        (before == nullptr ? taken->first : before->next) = gone->next;
                        zolib_internal::FreeElem(taken, gone);
                        taken->count--;
                    }
                }
                if (!Append(pieces, piece)) {
                    ok = false;
                    break;
                }
                piece = new ZoBag(0, 0);
                placed = {};  // clear() would cost the old bucket count every piece
                target = nullptr;
                size = kFlatHeader;
                fresh = true;
                p = 0;
                s--;  // the same element again, in the new piece
                continue;
            }
            fresh = false;
            if (elem != nullptr) elem = elem->next;
        }
    }
    if (ok && Append(pieces, piece)) return true;
    delete piece;
    DeleteBags(pieces);
    return false;
}

// As this->CopyItem(bag, name, 0) for every item of every piece, with hash
// tables for the lookups and the last element of each item remembered, so
// that merging many pieces stays linear.
bool ZoBag::Concat(ZoList* pieces) {
    if (pieces == nullptr) return true;
    std::unordered_map<int32_t, Slot> mine = FirstByHash(itemList);
    ZoBag* bag;
    for (long b = 0; (bag = static_cast<ZoBag*>(pieces->GetItem(b))) != nullptr; b++) {
        std::unordered_map<int32_t, Slot> theirs = FirstByHash(bag->itemList);
        long items = bag->itemList->Size();
        for (long j = 0; j < items; j++) {
            T_Item* item = static_cast<T_Item*>(bag->itemList->GetItem(j));
            int32_t hash = static_cast<int32_t>(Hash(item->name));
            auto from = theirs.find(hash);
            if (from == theirs.end()) continue;
            T_Item* source = from->second.item;
            if (source->first == nullptr) continue;
            T_Elem* last;
            auto here = mine.find(hash);
            if (here != mine.end()) {
                int copied;
                T_Elem* chain = CopyChain(source->first, true, &copied, kPacked, &last);
                LastElem(here->second)->next = chain;
                here->second.last = last;
                here->second.item->count += copied;
                continue;
            }
            T_Item* added = CopyItemFrom(source, source->first, true, kPacked, &last);
            if (Append(itemList, added))
                mine.emplace(hash, Slot{added, last, nullptr});
            else
                FreeItem(added, kPacked);
        }
    }
    return true;
}

// ---- printing ----

namespace {

// A fixed-width value; an element shorter than its type (only Setdata or
// foreign flat bytes make one) reads as zero-padded rather than past its end.
template <typename T>
T Value(const T_Elem* elem) {
    T value{};
    memcpy(&value, elem->data, elem->size < sizeof value ? elem->size : sizeof value);
    return value;
}

// One element line; false (nothing printed) for an unknown type.
bool PrintElem(T_Data type, int k, const T_Elem* elem) {
    long size = static_cast<long>(elem->size);
    const char* data = static_cast<const char*>(elem->data);
    switch (type) {
        case T_STRING: {
            // A string from foreign bytes may lack its NUL: print up to the block's end.
            size_t length = strnlen(data, elem->size);
            printf("\t%d\tstring\t\"%.*s\"\t%ld\n", k, static_cast<int>(length), data, size);
            return true;
        }
        case T_BOOL:
            printf("\t%d\tbool\t%d\t%ld\n", k, Value<unsigned char>(elem), size);
            return true;
        case T_INT8:
            printf("\t%d\tint8\t%d\t%ld\n", k, Value<signed char>(elem), size);
            return true;
        case T_INT16:
            printf("\t%d\tint16\t%d\t%ld\n", k, Value<int16_t>(elem), size);
            return true;
        case T_INT32:
            printf("\t%d\tint32\t%d\t%ld\n", k, Value<int32_t>(elem), size);
            return true;
        case T_INT64:
            printf("\t%d\tint64\t%lld\t%ld\n", k, Value<long long>(elem), size);
            return true;
        case T_FLOAT32:
            printf("\t%d\tfloat32\t%f\t%ld\n", k, static_cast<double>(Value<float>(elem)), size);
            return true;
        case T_FLOAT64:
            printf("\t%d\tfloat64\t%lf\t%ld\n", k, Value<double>(elem), size);
            return true;
        case T_BUFFER:
            printf("\t%d\tbuffer of %ld bytes\n", k, size);
            return true;
        case T_BAG: {
            unsigned long what;
            if (PeekInFlatBag(data, size, &what, nullptr, nullptr, nullptr))
                printf("\t%d\tbag 0x%x\t%ld\n", k, static_cast<unsigned>(what), size);
            else
                printf("\t%d\tbag ?\t%ld\n", k, size);
            return true;
        }
        case T_POINTER:
            printf("\t%d\tpointer\t0x%lx\n", k, static_cast<unsigned long>(Value<uintptr_t>(elem)));
            return true;
    }
    return false;
}

}  // namespace

void ZoBag::PrintToStream() {
    printf("what\t= 0x%x\n", what);
    printf("who\t= 0x%x\n", who);
    printf("when\t= %ld\n", static_cast<long>(static_cast<int32_t>(when)));
    printf("Flat\t= %ld bytes\n", static_cast<long>(FlatSize(false)));
    T_Item* item;
    for (long i = 0; (item = static_cast<T_Item*>(itemList->GetItem(i))) != nullptr; i++) {
        printf("Item '%s' had %d element(s)\n", item->name, item->count);
        int k = 1;
        for (const T_Elem* elem = item->first; elem != nullptr; elem = elem->next)
            if (PrintElem(item->type, k, elem)) k++;
    }
}

void DumpData(const char* data, int length) {
    for (int i = 0; data != nullptr && i < length; i++)
        printf("%d ", static_cast<unsigned char>(data[i]));
    printf("\n");
}

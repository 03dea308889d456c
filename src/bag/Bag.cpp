#include <zolib/bag/Bag.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "bag/internal/Records.h"

using zolib_internal::FreeItem;
using zolib_internal::kElemHeader;
using zolib_internal::kFlatHeader;
using zolib_internal::kItemHeader;
using zolib_internal::NewElem;
using zolib_internal::NewItem;

namespace zolib_internal {

T_Elem* NewElem(const void* data, uint32_t size) {
    T_Elem* elem = static_cast<T_Elem*>(malloc(sizeof(T_Elem)));
    elem->size = size;
    elem->data = malloc(size > 0 ? size : 1);
    if (size > 0) memcpy(elem->data, data, size);
    elem->next = nullptr;
    return elem;
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

void FreeItem(T_Item* item) {
    if (item == nullptr) return;
    FreeIndex(item->first);
    free(item->name);
    free(item);
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
    if (index < 0) index = 1;
    if (index == 0 || index > item->count) return false;
    T_Elem** link = &item->first;
    for (int i = 1; i < index; i++)
        link = &(*link)->next;
    T_Elem* gone = *link;
    *link = gone->next;
    free(gone->data);
    free(gone);
    item->count--;
    return true;
}

void FreeIndex(T_Elem* elem) {
    while (elem != nullptr) {
        T_Elem* next = elem->next;
        free(elem->data);
        free(elem);
        elem = next;
    }
}

namespace {

// Copies of all elements (index 0) or of element `index`, as a chain whose
// last element goes to *last when `last` is not null.
T_Elem* CopyElems(T_Item* src, int index, int* copied, T_Elem** last = nullptr) {
    T_Elem* head = nullptr;
    T_Elem* tail = nullptr;
    *copied = 0;
    if (index == 0) {
        for (T_Elem* e = src->first; e != nullptr; e = e->next) {
            T_Elem* copy = NewElem(e->data, e->size);
            (tail == nullptr ? head : tail->next) = copy;
            tail = copy;
            ++*copied;
        }
    } else if (T_Elem* e = SeekIndex(src, index)) {
        head = tail = NewElem(e->data, e->size);
        *copied = 1;
    }
    if (last != nullptr) *last = tail;
    return head;
}

void AppendChain(T_Item* item, T_Elem* chain, int copied) {
    T_Elem** link = &item->first;
    while (*link != nullptr)
        link = &(*link)->next;
    *link = chain;
    item->count += copied;
}

}  // namespace

bool SetItem(ZoList* list, T_Item* item, int index) {
    if (list == nullptr || item == nullptr) return false;
    int copied;
    T_Elem* chain = CopyElems(item, index, &copied);
    if (copied == 0) return false;
    T_Item* fresh = NewItem(item->hash, item->name, strlen(item->name), item->type);
    AppendChain(fresh, chain, copied);
    if (!list->AddItem(fresh)) {
        FreeItem(fresh);
        return false;
    }
    return true;
}

bool SetItem(T_Item* dest, T_Item* src, int index) {
    if (dest == nullptr || src == nullptr) return false;
    int copied;
    T_Elem* chain = CopyElems(src, index, &copied);
    if (copied == 0) return false;
    AppendChain(dest, chain, copied);
    return true;
}

// ---- ZoBag ----

ZoBag::ZoBag(unsigned long what, int initial)
    : what(static_cast<uint32_t>(what)),
      who(0),
      when(0),
      itemList(new ZoList(initial > 0 ? initial : 20, 1)) {}

ZoBag::ZoBag(ZoBag* other)
    : what(other ? other->what : 0),
      who(other ? other->who : 0),
      when(other ? other->when : 0),
      itemList(new ZoList(other ? other->CountItems() : 0, 1)) {
    if (other == nullptr) return;
    T_Item* item;
    for (long i = 0; (item = static_cast<T_Item*>(other->itemList->GetItem(i))) != nullptr; i++)
        SetItem(itemList, item, 0);
}

ZoBag::~ZoBag() {
    T_Item* item;
    for (long i = 0; (item = static_cast<T_Item*>(itemList->GetItem(i))) != nullptr; i++)
        FreeItem(item);
    delete itemList;
}

long ZoBag::Hash(const char* name) {
    if (name == nullptr) return 0;
    return zolib_internal::HashBytes(name, strlen(name));
}

T_Item* ZoBag::Find(const char* name) {
    if (name == nullptr) return nullptr;
    return FindItem(itemList, Hash(name));
}

bool ZoBag::Setdata(const char* name, T_Data type, const void* data, int size, int index) {
    if (name == nullptr || size < 0 || (data == nullptr && size > 0)) return false;
    T_Item* item = Find(name);
    if (item == nullptr) {
        item = NewItem(static_cast<int32_t>(Hash(name)), name, strlen(name), type);
        AddIndex(item, NewElem(data, size));
        if (!itemList->AddItem(item)) {
            FreeItem(item);
            return false;
        }
        return true;
    }
    if (item->type != type) return false;
    if (index == 0 || index > item->count) {
        AddIndex(item, NewElem(data, size));
        return true;
    }
    T_Elem* elem = SeekIndex(item, index);
    if (elem->size == static_cast<uint32_t>(size)) {
        if (size > 0) memmove(elem->data, data, size);
        return true;
    }
    // Copy before freeing: `data` may point into the block being replaced.
    void* block = malloc(size > 0 ? size : 1);
    if (size > 0) memcpy(block, data, size);
    free(elem->data);
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
    if (here == nullptr) return SetItem(itemList, from, index);
    // Copying an item onto itself: snapshot the chain before it grows.
    return SetItem(here, from, index);
}

bool ZoBag::RemoveItem(const char* name, int index) {
    T_Item* item = Find(name);
    if (item == nullptr) return false;
    if (index == 0) {
        if (!itemList->DelItem(static_cast<void*>(item))) return false;
        FreeItem(item);
        return true;
    }
    if (index > item->count) return false;
    if (item->count == 1) {
        // The last element takes the item with it; unlink first so a refusal changes nothing.
        if (!itemList->DelItem(static_cast<void*>(item))) return false;
        FreeItem(item);
        return true;
    }
    return RemoveIndex(item, index);
}

bool ZoBag::RenameItem(const char* oldName, const char* newName) {
    T_Item* item = Find(oldName);
    if (item == nullptr || newName == nullptr || Find(newName) != nullptr) return false;
    size_t length = strlen(newName);
    char* copy = static_cast<char*>(malloc(length + 1));
    memcpy(copy, newName, length + 1);
    free(item->name);
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
};

// The first item of each hash in `list`, as a lookup by name finds it.
std::unordered_map<int32_t, Slot> FirstByHash(ZoList* list) {
    std::unordered_map<int32_t, Slot> slots;
    T_Item* item;
    for (long i = 0; (item = static_cast<T_Item*>(list->GetItem(i))) != nullptr; i++)
        slots.emplace(item->hash, Slot{item, nullptr});
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
                T_Elem* copy = NewElem(elem->data, elem->size);
                auto into = placed.find(hash);
                if (into != placed.end()) {
                    LastElem(into->second)->next = copy;
                    into->second.last = copy;
                    into->second.item->count++;
                    size += kElemHeader + elem->size;
                } else {
                    T_Item* created =
                        NewItem(source->hash, source->name, strlen(source->name), source->type);
                    AddIndex(created, copy);
                    if (Append(piece->itemList, created)) {
                        placed.emplace(hash, Slot{created, copy});
                        size += kItemHeader + strlen(source->name) + kElemHeader + elem->size;
                    } else {
                        FreeItem(created);
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
                        FreeItem(taken);
                        placed.erase(back);
                    } else {
                        T_Elem* before = nullptr;
                        T_Elem* gone = taken->first;
                        for (int k = 1; k < p; k++) {
                            before = gone;
                            gone = gone->next;
                        }
                        if (gone == back->second.last) back->second.last = before;
                        size -= kElemHeader + gone->size;
                        RemoveIndex(taken, p);
                    }
                }
                if (!Append(pieces, piece)) {
                    ok = false;
                    break;
                }
                piece = new ZoBag(0, 0);
                placed = {};  // clear() would cost the old bucket count every piece
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
            int copied;
            T_Elem* last;
            T_Elem* chain = CopyElems(source, 0, &copied, &last);
            if (copied == 0) continue;
            auto here = mine.find(hash);
            if (here != mine.end()) {
                LastElem(here->second)->next = chain;
                here->second.last = last;
                here->second.item->count += copied;
                continue;
            }
            T_Item* added = NewItem(source->hash, source->name, strlen(source->name), source->type);
            added->first = chain;
            added->count = copied;
            if (Append(itemList, added))
                mine.emplace(hash, Slot{added, last});
            else
                FreeItem(added);
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

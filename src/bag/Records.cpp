// The record allocator (packed and loose records, see internal/Records.h), the
// copies of items and elements, and the exported record functions over them.
#include <zolib/bag/Bag.h>

#include <cstdlib>
#include <cstring>

#include "bag/internal/ByteOrder.h"
#include "bag/internal/Records.h"

using zolib_internal::CopyOnto;
using zolib_internal::CopyToList;
using zolib_internal::kLoose;

namespace zolib_internal {

namespace {

// A packed item's block: the T_Item, the block's size, the bytes of it in
// use, the name's length and where its batch starts (32 bits each, 0 for an
// item with a heap block of its own), the name and its NUL, and from the next
// 8-byte boundary on, elements with their bytes, each taking ElemRoom bytes.
// An item lies at an 8-byte boundary and its name 4 bytes past one, an
// address no heap block can start at, so a packed name is known by its
// address alone; packed elements and packed bytes lie inside their own item's
// or element's block. Blocks stay below 4 GiB: beyond that, elements (or
// even the name) get blocks of their own.
constexpr size_t kBlockSizeAt = sizeof(T_Item);
constexpr size_t kUsedAt = kBlockSizeAt + sizeof(uint32_t);
constexpr size_t kLengthAt = kUsedAt + sizeof(uint32_t);
constexpr size_t kHomeAt = kLengthAt + sizeof(uint32_t);
constexpr size_t kNameAt = ((kHomeAt + sizeof(uint32_t) + 3) & ~size_t{7}) + 4;
static_assert(kNameAt % 8 == 4, "a packed name never lies where a heap block may start");
// A name too long for the length word is counted instead.
constexpr uint32_t kCountName = UINT32_MAX;
// A batch starts with the number of its items not yet freed; its first item
// follows at the next 8-byte boundary.
constexpr size_t kBatchHead = 8;

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

}  // namespace

void FreeElem(T_Item* item, T_Elem* elem) {
    FreeData(elem);
    if (item == nullptr || !InBlock(item, elem)) free(elem);
}

T_Elem* NewElem(const void* data, uint32_t size, Layout layout) {
    size_t room = size > 0 ? size : 1;
    T_Elem* elem;
    if (layout == kPacked) {
        elem = static_cast<T_Elem*>(malloc(kPackedDataAt + room));
        if (elem == nullptr) return nullptr;
        elem->data = PackedData(elem);
    } else {
        elem = static_cast<T_Elem*>(malloc(sizeof(T_Elem)));
        if (elem == nullptr) return nullptr;
        elem->data = malloc(room);
        if (elem->data == nullptr) {
            free(elem);
            return nullptr;
        }
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
    if (item == nullptr) return nullptr;
    item->hash = hash;
    item->name = static_cast<char*>(malloc(nameLength + 1));
    if (item->name == nullptr) {
        free(item);
        return nullptr;
    }
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

namespace {

// Makes a packed item in a block of its own of `size` bytes, whose first
// `used` bytes hold the record and the name (when `nameInside`) and the rest
// is room for elements. False when the name needed a block of its own and
// none was to be had.
bool InitPacked(T_Item* item, size_t used, size_t size, bool nameInside, int32_t hash,
                const char* name, size_t nameLength, T_Data type) {
    SetField(item, kBlockSizeAt, size);
    SetField(item, kUsedAt, used);
    SetField(item, kLengthAt, nameLength < kCountName ? nameLength : kCountName);
    SetField(item, kHomeAt, 0);
    item->hash = hash;
    item->name = nameInside ? PackedName(item) : static_cast<char*>(malloc(nameLength + 1));
    if (item->name == nullptr) return false;
    CopyBytes(item->name, name, nameLength);
    item->name[nameLength] = '\0';
    item->type = type;
    item->count = 0;
    item->first = nullptr;
    return true;
}

// Frees a packed item's record: its block, or its share of a batch.
void FreeRecord(T_Item* item) {
    uint32_t home = Field(item, kHomeAt);
    if (home == 0) {
        free(item);
        return;
    }
    char* batch = Block(item) - home;
    uint32_t live;
    memcpy(&live, batch, sizeof live);
    if (--live == 0) {
        free(batch);
        return;
    }
    memcpy(batch, &live, sizeof live);
}

}  // namespace

T_Item* NewPackedItem(int32_t hash, const char* name, size_t nameLength, T_Data type, size_t room) {
    size_t used = Align8(kNameAt + nameLength + 1);
    bool nameInside = used <= UINT32_MAX;
    if (!nameInside) used = Align8(kNameAt);
    if (room > UINT32_MAX - used) room = 0;  // written so that it cannot wrap on 32-bit hosts
    T_Item* item = static_cast<T_Item*>(malloc(used + room));
    if (item == nullptr) return nullptr;
    if (!InitPacked(item, used, used + room, nameInside, hash, name, nameLength, type)) {
        free(item);
        return nullptr;
    }
    return item;
}

namespace {

// ReadFlatItem, inline in the unflattening loop.
__attribute__((always_inline)) inline bool ReadRecord(FlatReader& from, FlatItem* r) {
    // Read with a pointer and a count of bytes left, both in registers; every
    // field is checked against what is left before it is touched.
    const char* p = from.Position();
    size_t left = from.Left();
    if (left < kItemHeader) return false;  // the fixed fields, the name aside
    uint32_t nameLength = Get32(p + 4);
    if (nameLength > left - kItemHeader) return false;
    r->hash = static_cast<int32_t>(Get32(p));
    r->name = p + 8;
    r->nameLength = nameLength;
    p += 8 + nameLength;
    r->type = static_cast<T_Data>(static_cast<int32_t>(Get32(p)));
    uint32_t count = Get32(p + 4);
    p += 8;
    left -= kItemHeader + nameLength;
    // A count the remaining bytes could not hold is refused before its
    // elements are looked at.
    int32_t n = static_cast<int32_t>(count);
    if (n < 1 || count > left / kElemHeader) return false;
    r->count = n;
    r->elems = p;
    // 64 bits hold the sum whatever the host: each element's room exceeds its
    // bytes by less than 32, and a record fits in the bytes given.
    uint64_t room = 0;
    for (int32_t i = 0; i < n; i++) {
        if (left < kElemHeader) return false;
        uint32_t size = Get32(p);
        left -= kElemHeader;
        if (size > left) return false;
        p += kElemHeader + size;
        left -= size;
        room += ElemRoom(size);
    }
    r->room = room <= SIZE_MAX ? static_cast<size_t>(room) : SIZE_MAX;
    from = FlatReader(p, left);
    return true;
}

}  // namespace

bool ReadFlatItem(FlatReader& from, FlatItem* r) {
    return ReadRecord(from, r);
}

namespace {

// Lays out the elements of a checked flat record from `out` on, in the
// packed item's room, which holds them all, and links them; returns the end.
__attribute__((always_inline)) inline char* PlaceElems(T_Item* item, char* out, const FlatItem& r) {
    // Read once: the copies below may write anywhere as far as the compiler knows.
    const int32_t count = r.count;
    const T_Data type = r.type;
    const char* in = r.elems;
    item->count = count;
    T_Elem** link = &item->first;
    for (int32_t i = 0; i < count; i++) {
        uint32_t size = Get32(in);
        in += kElemHeader;
        T_Elem* elem = reinterpret_cast<T_Elem*>(out);
        elem->size = size;
        elem->data = PackedData(elem);
        CopyBytes(elem->data, in, size);
        SwapValues(type, elem->data, size);
        in += size;
        out += ElemRoom(size);
        *link = elem;
        link = &elem->next;
    }
    *link = nullptr;
    return out;
}

// The same into a packed item made by NewPackedItem.
void FillFlat(T_Item* item, const FlatItem& r) {
    char* end = PlaceElems(item, Block(item) + Field(item, kUsedAt), r);
    SetField(item, kUsedAt, end - Block(item));
}

// The packed item of a checked flat record in a block of its own; null
// without memory.
T_Item* NewFlatItem(const FlatItem& r) {
    T_Item* item = NewPackedItem(r.hash, r.name, r.nameLength, r.type, r.room);
    if (item == nullptr) return nullptr;
    if (Field(item, kBlockSizeAt) - Field(item, kUsedAt) >= r.room) {
        FillFlat(item, r);
        return item;
    }
    // Too large for one block: elements of their own.
    FlatReader in(r.elems, SIZE_MAX);
    T_Elem** link = &item->first;
    for (int32_t i = 0; i < r.count; i++) {
        uint32_t size = 0;
        in.Read32(&size);
        if ((*link = NewElem(in.Take(size), size, kPacked)) == nullptr) {
            FreeItem(item, kPacked);
            return nullptr;
        }
        SwapValues(r.type, (*link)->data, size);
        link = &(*link)->next;
        item->count++;
    }
    return item;
}

// A batch keeps at most this much for its items: with its head, a block
// small enough for the allocator's per-thread cache.
constexpr size_t kBatchRoom = 1016;

// The bytes the packed item of `r` takes in a batch; 0 for one too large to
// share a batch.
size_t BatchShare(const FlatItem& r) {
    if (r.nameLength > kBatchRoom || r.room > kBatchRoom) return 0;
    size_t share = Align8(kNameAt + r.nameLength + 1) + r.room;
    return share <= kBatchRoom ? share : 0;
}

// A packed item of one element takes at most this many bytes more in a
// batch than its flat record: the record's fields, the name's NUL and the
// alignment of the name and of the element (each further element up to 28
// more).
constexpr size_t kItemGrowth = 72;

// The block items made together share, and where the next one goes.
class Batch {
  public:
    // Whether the packed item of a record of this share fits what is left.
    bool Fits(size_t share) const { return block != nullptr && share <= end - at; }
    // A new block of `bytes` (at most kBatchRoom) after sealing the last;
    // false without memory.
    bool Open(size_t bytes) {
        Seal();
        block = static_cast<char*>(malloc(kBatchHead + bytes));
        if (block == nullptr) return false;
        live = 0;
        at = kBatchHead;
        end = kBatchHead + bytes;
        return true;
    }
    // The packed item of `r`, which must fit, laid out as NewPackedItem and
    // FillFlat would, without their checks: this runs for most items
    // unflattened.
    T_Item* Place(const FlatItem& r) {
        char* base = block + at;
        T_Item* item = reinterpret_cast<T_Item*>(base);
        size_t used = Align8(kNameAt + r.nameLength + 1);
        size_t size = used + r.room;  // the elements fill their room exactly
        SetField(item, kBlockSizeAt, size);
        SetField(item, kUsedAt, size);
        SetField(item, kLengthAt, r.nameLength);  // at most kBatchRoom
        SetField(item, kHomeAt, at);
        item->hash = r.hash;
        item->name = PackedName(item);
        CopyBytes(item->name, r.name, r.nameLength);
        item->name[r.nameLength] = '\0';
        item->type = r.type;
        PlaceElems(item, base + used, r);
        at += size;
        live++;
        return item;
    }
    // Writes the count of the items placed, before any of them can be freed;
    // from then on they count it down themselves. A block is opened only for
    // an item that fits, so none is left without one.
    void Seal() {
        if (block != nullptr) memcpy(block, &live, sizeof live);
        block = nullptr;
    }

  private:
    char* block = nullptr;
    size_t at = 0;
    size_t end = 0;
    uint32_t live = 0;
};

}  // namespace

bool PackFlatItems(FlatReader& in, int32_t n, ItemList* list) {
    // Each record is checked, then laid out in the open batch when it fits,
    // else in a new one sized for it and the records after it (counting
    // kItemGrowth for each, capped at kBatchRoom: exact for items of one
    // element, and a later record that does not fit opens another). One too
    // large for a batch gets a block of its own.
    Batch batch;
    bool made = true;
    for (int32_t i = 0; i < n && made; i++) {
        FlatItem r;
        if (!ReadRecord(in, &r)) {
            made = false;
            break;
        }
        size_t share = BatchShare(r);
        T_Item* item = nullptr;
        if (share == 0) {
            item = NewFlatItem(r);
        } else {
            // In 64 bits: the sum may pass 4 GiB on a 32-bit host.
            uint64_t wanted = uint64_t{share} + in.Left() + uint64_t{kItemGrowth} * (n - 1 - i);
            if (batch.Fits(share) ||
                batch.Open(wanted < kBatchRoom ? static_cast<size_t>(wanted) : kBatchRoom))
                item = batch.Place(r);
        }
        made = item != nullptr;
        if (made) list->Push(item);
    }
    batch.Seal();
    return made;
}

unsigned long FlatItemSize(T_Item* item) {
    return kItemHeader + NameLength(item) + FlatSizeIndex(item->first);
}

namespace {

// WriteFlatItem, inline in the loop over a bag's items.
__attribute__((always_inline)) inline char* WriteRecord(T_Item* item, char* p) {
    size_t nameLength = NameLength(item);
    p = Put32(p, static_cast<uint32_t>(item->hash));
    p = Put32(p, static_cast<uint32_t>(nameLength));
    CopyBytes(p, item->name, nameLength);
    p += nameLength;
    p = Put32(p, static_cast<uint32_t>(item->type));
    p = Put32(p, static_cast<uint32_t>(item->count));
    char* elems = p;
    p = FlattenIndex(item->first, p, 0);
    // Element values go out little-endian (a no-op on little-endian hosts).
    if constexpr (kBigEndian)
        for (char* at = elems; at < p; at += kElemHeader + Get32(at))
            SwapValues(item->type, at + kElemHeader, Get32(at));
    return p;
}

}  // namespace

char* WriteFlatItem(T_Item* item, char* p) {
    return WriteRecord(item, p);
}

unsigned long FlatItemsSize(ItemList* items) {
    unsigned long size = 0;
    for (long i = 0, n = ItemCount(items); i < n; i++)
        size += FlatItemSize(items->At(i));
    return size;
}

char* WriteFlatItems(ItemList* items, char* p) {
    for (long i = 0, n = ItemCount(items); i < n; i++)
        p = WriteRecord(items->At(i), p);
    return p;
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
    if (item == nullptr) return nullptr;
    item->first = PackElem(item, data, size);
    if (item->first == nullptr) {
        FreeItem(item, kPacked);
        return nullptr;
    }
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

namespace {

// FreeItem with the layout known where it is called, so that it inlines.
template <Layout kLayout>
__attribute__((always_inline)) inline void FreeItemAs(T_Item* item) {
    T_Item* block = kLayout == kPacked ? item : nullptr;
    for (T_Elem* elem = item->first; elem != nullptr;) {
        T_Elem* next = elem->next;
        FreeElem(block, elem);
        elem = next;
    }
    FreeName(item);
    if (kLayout == kPacked)
        FreeRecord(item);
    else
        free(item);
}

}  // namespace

void FreeItem(T_Item* item, Layout layout) {
    if (item == nullptr) return;
    layout == kPacked ? FreeItemAs<kPacked>(item) : FreeItemAs<kLoose>(item);
}

void FreeItems(ItemList* items) {
    // A bag being deleted frees each of its items, most of them nothing but
    // their share of a batch: the loop runs inline.
    for (long i = 0, n = ItemCount(items); i < n; i++)
        FreeItemAs<kPacked>(items->At(i));
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

// ---- copies ----

T_Elem* CopyChain(T_Elem* from, bool all, int* copied, Layout layout, T_Elem** last) {
    T_Elem* head = nullptr;
    T_Elem* tail = nullptr;
    *copied = 0;
    for (T_Elem* e = from; e != nullptr; e = all ? e->next : nullptr) {
        T_Elem* copy = NewElem(e->data, e->size, layout);
        if (copy == nullptr) {
            FreeIndex(head);  // elements of their own, whatever the layout
            *copied = 0;
            if (last != nullptr) *last = nullptr;
            return nullptr;
        }
        (tail == nullptr ? head : tail->next) = copy;
        tail = copy;
        ++*copied;
    }
    if (last != nullptr) *last = tail;
    return head;
}

T_Item* CopyItemFrom(T_Item* src, T_Elem* from, bool all, Layout layout, T_Elem** last) {
    T_Item* fresh;
    T_Elem* tail = nullptr;
    if (layout == kPacked) {
        size_t room = 0;
        for (T_Elem* e = from; e != nullptr; e = all ? e->next : nullptr)
            room += zolib_internal::ElemRoom(e->size);
        fresh = NewPackedItem(src->hash, src->name, NameLength(src), src->type, room);
        if (fresh == nullptr) return nullptr;
        T_Elem** link = &fresh->first;
        for (T_Elem* e = from; e != nullptr; e = all ? e->next : nullptr) {
            tail = *link = zolib_internal::PackElem(fresh, e->data, e->size);
            if (tail == nullptr) {
                FreeItem(fresh, kPacked);
                return nullptr;
            }
            link = &tail->next;
            fresh->count++;
        }
    } else {
        fresh = NewItem(src->hash, src->name, NameLength(src), src->type);
        if (fresh == nullptr) return nullptr;
        fresh->first = NewElem(from->data, from->size, kLoose);
        int copied = 0;
        if (fresh->first != nullptr && all && from->next != nullptr) {
            fresh->first->next = CopyChain(from->next, true, &copied, kLoose, &tail);
            if (fresh->first->next == nullptr) {
                FreeItem(fresh, kLoose);
                return nullptr;
            }
        }
        if (fresh->first == nullptr) {
            FreeItem(fresh, kLoose);
            return nullptr;
        }
        fresh->count = 1 + copied;
        if (tail == nullptr) tail = fresh->first;
    }
    if (last != nullptr) *last = tail;
    return fresh;
}

namespace {

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

}  // namespace

bool CopyToList(ZoList* list, T_Item* src, int index, Layout layout) {
    T_Elem* from = CopyStart(src, index);
    if (from == nullptr) return false;
    T_Item* fresh = CopyItemFrom(src, from, index == 0, layout);
    if (fresh == nullptr) return false;
    if (!list->AddItem(fresh)) {
        FreeItem(fresh, layout);
        return false;
    }
    return true;
}

bool CopyOnto(T_Item* dest, T_Item* src, int index, Layout layout) {
    T_Elem* from = CopyStart(src, index);
    if (from == nullptr) return false;
    int copied;
    T_Elem* chain = CopyChain(from, index == 0, &copied, layout);
    if (chain == nullptr) return false;
    AppendChain(dest, chain, copied);
    return true;
}

}  // namespace zolib_internal

// ---- record functions ----

// Defined beside the records so that the bag's own flattening inlines them.
unsigned long FlatSizeIndex(T_Elem* elem) {
    unsigned long size = 0;
    for (; elem != nullptr; elem = elem->next)
        size += zolib_internal::kElemHeader + elem->size;
    return size;
}

char* FlattenIndex(T_Elem* elem, char* p, int /*n*/) {
    for (; elem != nullptr; elem = elem->next) {
        p = zolib_internal::Put32(p, elem->size);
        zolib_internal::CopyBytes(p, elem->data, elem->size);
        p += elem->size;
    }
    return p;
}

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

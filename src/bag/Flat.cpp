// The flat form of a bag: record writers and readers, flattening and
// unflattening, nested bags and header peeking. The layout is in
// internal/FlatFormat.h.
#include <zolib/bag/Bag.h>
#include <zolib/bag/Zip.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "bag/internal/ByteOrder.h"
#include "bag/internal/Records.h"

using zolib_internal::FlatItem;
using zolib_internal::FlatReader;
using zolib_internal::FreeItem;
using zolib_internal::Get32;
using zolib_internal::HeapBlock;
using zolib_internal::ItemCount;
using zolib_internal::ItemList;
using zolib_internal::Items;
using zolib_internal::kBodyShift;
using zolib_internal::kCountAt;
using zolib_internal::kElemHeader;
using zolib_internal::kFlagAt;
using zolib_internal::kFlatHeader;
using zolib_internal::kItemHeader;
using zolib_internal::kLeadSize;
using zolib_internal::kLoose;
using zolib_internal::kPacked;
using zolib_internal::kPlainFlag;
using zolib_internal::kSizeAt;
using zolib_internal::kWhatAt;
using zolib_internal::kWhenAt;
using zolib_internal::kWhoAt;
using zolib_internal::kZippedFlag;
using zolib_internal::Layout;
using zolib_internal::NewElem;
using zolib_internal::NewItem;
using zolib_internal::Put32;
using zolib_internal::PutLead;
using zolib_internal::ReadFlatItem;

namespace {

bool ReadElem(FlatReader& in, T_Elem** elem, Layout layout) {
    uint32_t size;
    const char* data;
    if (!in.Read32(&size) || (data = in.Take(size)) == nullptr) return false;
    T_Elem* made = NewElem(data, size, layout);
    if (made == nullptr) return false;
    *elem = made;
    return true;
}

bool ReadItem(FlatReader& in, T_Item** out) {
    FlatItem r;
    if (!ReadFlatItem(in, &r)) return false;
    T_Item* item = NewItem(r.hash, r.name, r.nameLength, r.type);
    if (item == nullptr) return false;
    FlatReader elems(r.elems, SIZE_MAX);  // checked by ReadFlatItem
    T_Elem** tail = &item->first;
    for (int32_t i = 0; i < r.count; i++) {
        if (!ReadElem(elems, tail, kLoose)) {
            FreeItem(item, kLoose);
            return false;
        }
        zolib_internal::SwapValues(r.type, (*tail)->data, (*tail)->size);
        tail = &(*tail)->next;
        item->count++;
    }
    *out = item;
    return true;
}

// Frees and drops the items of `list` from position `from` on.
void DropItems(ZoList* list, long from) {
    for (long i = list->Size() - 1; i >= from; i--) {
        FreeItem(static_cast<T_Item*>(list->GetItem(i)), kPacked);
        list->DelItem(i);
    }
}

}  // namespace

// ---- record functions ----

char* UnflattenIndex(T_Elem** elem, const char* p, int /*n*/) {
    FlatReader in(p, SIZE_MAX);
    ReadElem(in, elem, kLoose);
    return const_cast<char*>(in.Position());
}

unsigned long FlatSizeItem(T_Item* item) {
    return item != nullptr ? zolib_internal::FlatItemSize(item) : 0;
}

char* FlattenItem(T_Item* item, char* p) {
    return item != nullptr ? zolib_internal::WriteFlatItem(item, p) : p;
}

char* UnflattenItem(T_Item** item, const char* p) {
    FlatReader in(p, SIZE_MAX);
    if (!ReadItem(in, item)) {
        *item = nullptr;
        return nullptr;
    }
    return const_cast<char*>(in.Position());
}

// ---- flattening ----

unsigned long ZoBag::FlatSize(bool zip) {
    unsigned long size = kFlatHeader + zolib_internal::FlatItemsSize(Items(itemList));
    return zip ? MaxZippedSize(size - 1) + 1 : size;
}

char* ZoBag::FlattenBody(char* p, uint32_t sizeField) {
    p = Put32(p, what);
    p = Put32(p, who);
    p = Put32(p, when);
    p = Put32(p, sizeField);
    p = Put32(p, static_cast<uint32_t>(ItemCount(itemList)));
    return zolib_internal::WriteFlatItems(Items(itemList), p);
}

bool ZoBag::Flatten(char* buffer, unsigned long* size, bool zip) {
    if (buffer == nullptr || (zip && size == nullptr)) return false;
    if (!zip) {
        // One pass: the size field is filled in once the items are written.
        unsigned long plain = FlattenBody(PutLead(buffer, kPlainFlag), 0) - buffer;
        if (plain > UINT32_MAX) return false;
        Put32(buffer + kSizeAt, static_cast<uint32_t>(plain));
        return true;
    }
    unsigned long plain = FlatSize(false);
    if (plain > UINT32_MAX) return false;
    // The compressed body carries its own length in the size field, not the
    // plain length: the lead is not part of it.
    uint32_t body = static_cast<uint32_t>(plain - kBodyShift);
    HeapBlock scratch(static_cast<char*>(malloc(body)));
    if (!scratch) return false;
    FlattenBody(scratch.get(), body);
    char* block = PutLead(buffer, kZippedFlag);
    if (Zip(scratch.get(), body, size, -1, block, false) == nullptr) return false;
    *size += kLeadSize;
    return true;
}

bool ZoBag::Unflatten(const char* buffer, unsigned long length) {
    if (buffer == nullptr || length < kLeadSize) return false;
    HeapBlock unzipped;
    FlatReader in(buffer + kLeadSize, length - kLeadSize);
    unsigned long expected = length;
    if (buffer[kFlagAt] != kPlainFlag) {
        unsigned long produced = 0;
        unzipped.reset(Unzip(buffer + kLeadSize, length - kLeadSize, &produced, nullptr));
        if (!unzipped) return false;
        in = FlatReader(unzipped.get(), produced);
        expected = produced;
    }
    uint32_t words[3], sizeField, count;
    if (!in.Read32(&words[0]) || !in.Read32(&words[1]) || !in.Read32(&words[2])) return false;
    what = words[0];
    who = words[1];
    when = words[2];
    if (!in.Read32(&sizeField) || sizeField != expected || !in.Read32(&count)) return false;
    int32_t items = static_cast<int32_t>(count);
    if (items < 0 || count > in.Left() / kItemHeader) return false;

    // The items go straight into the list, which grows once for all of them
    // (the count is bounded by the bytes); a damaged record or running out of
    // memory takes every item of this call out again, so a failure adds
    // nothing.
    ItemList* list = zolib_internal::ListOf(itemList);
    if (list == nullptr) return false;
    long before = list->Size();
    list->IncTo(before + items);
    if (list->Length() < before + items) return false;  // no room to be had
    if (!zolib_internal::PackFlatItems(in, items, list)) {
        DropItems(list, before);
        return false;
    }
    return true;
}

// ---- nested bags ----

bool ZoBag::Setbag(const char* name, ZoBag* bag, int index) {
    if (bag == nullptr) return false;
    unsigned long size = bag->FlatSize(false);
    if (size > INT32_MAX) return false;
    HeapBlock flat(static_cast<char*>(malloc(size)));
    if (!flat) return false;
    bag->Flatten(flat.get(), nullptr, false);
    return Setdata(name, T_BAG, flat.get(), static_cast<int>(size), index);
}

bool ZoBag::Getbag(const char* name, ZoBag** bag, int index) {
    void* data;
    int size;
    if (bag == nullptr || !Getdata(name, T_BAG, &data, &size, index)) return false;
    ZoBag* rebuilt = new (std::nothrow) ZoBag(0, 0);
    if (rebuilt == nullptr ||
        !rebuilt->Unflatten(static_cast<const char*>(data), static_cast<unsigned long>(size))) {
        delete rebuilt;
        *bag = nullptr;
        return false;
    }
    *bag = rebuilt;
    return true;
}

// ---- looking at flat bytes ----

bool IsABag(const char* buffer, long length) {
    return length > 0 && zolib_internal::HasLead(buffer, static_cast<size_t>(length));
}

bool PeekInFlatBag(const char* buffer, long length, unsigned long* what, unsigned long* who,
                   unsigned long* when, int* count) {
    if (!IsABag(buffer, length) || length < static_cast<long>(kFlatHeader)) return false;
    if (buffer[kFlagAt] != kPlainFlag) return false;
    if (what != nullptr) *what = Get32(buffer + kWhatAt);
    if (who != nullptr) *who = Get32(buffer + kWhoAt);
    if (when != nullptr) *when = Get32(buffer + kWhenAt);
    if (Get32(buffer + kSizeAt) != static_cast<unsigned long>(length)) return false;
    if (count != nullptr) *count = static_cast<int32_t>(Get32(buffer + kCountAt));
    return true;
}

// Splitting a bag into pieces of bounded flat size, and merging pieces.
#include <zolib/bag/Bag.h>

#include <new>
#include <unordered_map>

#include "bag/internal/Records.h"

using zolib_internal::CopyChain;
using zolib_internal::CopyItemFrom;
using zolib_internal::FreeItem;
using zolib_internal::kElemHeader;
using zolib_internal::kFlatHeader;
using zolib_internal::kItemHeader;
using zolib_internal::kPacked;
using zolib_internal::NameLength;
using zolib_internal::NewPackedItem;

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
    // Concat: the item's last element and count before it grew (kept = -1
    // while untouched), so that a failure can cut it back.
    T_Elem* keptLast = nullptr;
    int32_t kept = -1;
};

// The first item of each hash in `list` (a bag's list, possibly null), as a
// lookup by name finds it.
std::unordered_map<int32_t, Slot> FirstByHash(ZoList* list) {
    std::unordered_map<int32_t, Slot> slots;
    T_Item* item;
    for (long i = 0; list != nullptr && (item = static_cast<T_Item*>(list->GetItem(i))) != nullptr;
         i++)
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

// The items of a piece: only a member of ZoBag reaches them, so ZoBag::Split
// passes this in.
using ItemsOf = ZoList* (*)(ZoBag*);

// One run of ZoBag::Split. Each element goes into the current piece as
// piece->CopyItem(source, name, s) would put it, and comes back out as
// piece->RemoveItem(name, p) would take it when the piece overflows; both
// find items by the hash of the name. The piece's flat size is kept up to
// date with every such step, and hash tables stand in for the linear
// lookups, so a split costs one pass over the bag.
class Splitter {
  public:
    Splitter(ZoList* source, ZoList* pieces, long limit, ItemsOf itemsOf)
        : sources(FirstByHash(source)),
          pieces(pieces),
          limit(limit),
          itemsOf(itemsOf),
          piece(NewPiece()) {}
    ~Splitter() { delete piece; }  // a piece not handed over
    Splitter(const Splitter&) = delete;
    Splitter& operator=(const Splitter&) = delete;

    // Distributes the elements of every item of `items`, then hands over the
    // last piece (also an empty one). False when an element does not fit.
    bool Run(ZoList* items) {
        if (piece == nullptr) return false;
        for (long i = 0, n = zolib_internal::ItemCount(items); i < n; i++)
            if (!SplitItem(static_cast<T_Item*>(items->GetItem(i)))) return false;
        return HandOver();
    }

  private:
    bool SplitItem(T_Item* item);
    bool OverRoomLeft(const T_Item* item, const T_Item* source, const T_Elem* elem) const;
    Slot* Place(int32_t hash, T_Item* source, T_Elem* elem, Slot* target);
    Slot* PlaceNewItem(int32_t hash, T_Item* source, T_Elem* elem);
    void TakeBack(int32_t hash, int p);
    bool HandOver();
    bool NextPiece();
    // An empty bag with its item list, or null without memory.
    ZoBag* NewPiece() const {
        ZoBag* bag = new (std::nothrow) ZoBag(0, 0);
        if (bag != nullptr && itemsOf(bag) == nullptr) {
            delete bag;
            bag = nullptr;
        }
        return bag;
    }

    std::unordered_map<int32_t, Slot> sources;  // the bag's items by hash
    std::unordered_map<int32_t, Slot> placed;   // the current piece's items
    ZoList* pieces;
    long limit;
    ItemsOf itemsOf;
    ZoBag* piece;                      // the current piece; null once handed over
    unsigned long size = kFlatHeader;  // the piece's plain flat size
    bool fresh = true;                 // nothing placed in the piece yet
};

// Element s of the item goes to position p of the piece's item; when it
// overflows the piece, it is taken back and tried again in a new piece.
bool Splitter::SplitItem(T_Item* item) {
    int32_t hash = static_cast<int32_t>(ZoBag::Hash(item->name));
    auto found = sources.find(hash);
    T_Item* source = found == sources.end() ? nullptr : found->second.item;
    T_Elem* elem = source == nullptr ? nullptr : source->first;  // source element s
    Slot* target = nullptr;  // the item's slot in the current piece, once looked up
    for (int s = 1, p = 1; s <= item->count; s++, p++) {
        if (OverRoomLeft(item, source, elem)) return false;
        if (elem != nullptr && (target = Place(hash, source, elem, target)) == nullptr)
            return false;  // out of memory
        if (static_cast<long>(size) > limit) {
            if (fresh) return false;  // the element alone is too large
            TakeBack(hash, p);
            if (!NextPiece()) return false;
            target = nullptr;
            p = 0;
            s--;  // the same element again, in the new piece
            continue;
        }
        fresh = false;
        if (elem != nullptr) elem = elem->next;
    }
    return true;
}

// A buffer or a nested bag must fit the room left, even where a new piece
// would take it. Its size is read as Getdata would.
bool Splitter::OverRoomLeft(const T_Item* item, const T_Item* source, const T_Elem* elem) const {
    return (item->type == T_BUFFER || item->type == T_BAG) && elem != nullptr &&
           source->type == item->type &&
           size + kElemHeader + elem->size > static_cast<unsigned long>(limit);
}

// Appends a copy of `elem` to the piece's item of this hash (`target` when
// already looked up), made when absent. Returns the item's slot, or null
// without memory.
Slot* Splitter::Place(int32_t hash, T_Item* source, T_Elem* elem, Slot* target) {
    if (target == nullptr) {
        auto into = placed.find(hash);
        if (into != placed.end()) target = &into->second;
    }
    if (target == nullptr) return PlaceNewItem(hash, source, elem);
    T_Elem* copy = zolib_internal::PackElem(target->item, elem->data, elem->size);
    if (copy == nullptr) return nullptr;
    LastElem(*target)->next = copy;
    target->beforeLast = target->last;
    target->last = copy;
    target->item->count++;
    size += kElemHeader + elem->size;
    return target;
}

// The item's block gets room for the run of elements that will fit the
// piece, so that they cost no allocation each.
Slot* Splitter::PlaceNewItem(int32_t hash, T_Item* source, T_Elem* elem) {
    size_t nameLength = NameLength(source);
    size_t room = zolib_internal::ElemRoom(elem->size);
    unsigned long projected = size + kItemHeader + nameLength + kElemHeader;
    projected += elem->size;
    for (T_Elem* e = elem->next; e != nullptr; e = e->next) {
        projected += kElemHeader + e->size;
        if (static_cast<long>(projected) > limit) break;
        room += zolib_internal::ElemRoom(e->size);
    }
    T_Item* created = NewPackedItem(source->hash, source->name, nameLength, source->type, room);
    if (created == nullptr) return nullptr;
    created->first = zolib_internal::PackElem(created, elem->data, elem->size);
    if (created->first == nullptr) {
        FreeItem(created, kPacked);
        return nullptr;
    }
    created->count = 1;
    if (!Append(itemsOf(piece), created)) {
        FreeItem(created, kPacked);
        return nullptr;
    }
    size += kItemHeader + nameLength + kElemHeader + elem->size;
    return &placed.emplace(hash, Slot{created, created->first, nullptr}).first->second;
}

// Takes element p back out of the piece's item of this hash, and the item
// with it when it was its only element.
void Splitter::TakeBack(int32_t hash, int p) {
    auto back = placed.find(hash);
    if (back == placed.end() || p > back->second.item->count) return;
    Slot& slot = back->second;
    T_Item* taken = slot.item;
    if (taken->count == 1) {
        itemsOf(piece)->DelItem(static_cast<void*>(taken));
        size -= FlatSizeItem(taken);
        FreeItem(taken, kPacked);
        placed.erase(back);
        return;
    }
    // Usually the element just appended, whose neighbour is known; otherwise
    // walk to it.
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

// Appends the current piece to the list, which then owns it.
bool Splitter::HandOver() {
    if (!Append(pieces, piece)) return false;
    piece = nullptr;
    return true;
}

bool Splitter::NextPiece() {
    if (!HandOver()) return false;
    piece = NewPiece();
    if (piece == nullptr) return false;
    placed = {};  // clear() would cost the old bucket count every piece
    size = kFlatHeader;
    fresh = true;
    return true;
}

}  // namespace

bool ZoBag::Split(ZoList* pieces, long limit) {
    if (pieces == nullptr) return false;
    // The hash tables throw std::bad_alloc when they cannot grow: caught here
    // (and in Concat), it fails the call as any refused allocation does.
    try {
        Splitter splitter(itemList, pieces, limit, [](ZoBag* piece) { return piece->itemList; });
        if (splitter.Run(itemList)) return true;
    } catch (const std::bad_alloc&) {
    }
    DeleteBags(pieces);
    return false;
}

namespace {

// Cuts the items Concat grew back to what they held, and drops the items it
// added (from position `before` of `list` on).
void Undo(std::unordered_map<int32_t, Slot>& slots, ZoList* list, long before) {
    for (auto& entry : slots) {
        Slot& slot = entry.second;
        if (slot.kept < 0) continue;
        FreeIndex(slot.keptLast->next);  // appended elements have blocks of their own
        slot.keptLast->next = nullptr;
        slot.item->count = slot.kept;
    }
    for (long i = zolib_internal::ItemCount(list) - 1; i >= before; i--) {
        FreeItem(static_cast<T_Item*>(list->GetItem(i)), kPacked);
        list->DelItem(i);
    }
}

// The merge of ZoBag::Concat into `list` (its slots in `mine`). False
// without memory.
bool Merge(ZoList* list, std::unordered_map<int32_t, Slot>& mine, ZoList* pieces, ItemsOf itemsOf) {
    ZoBag* bag;
    for (long b = 0; (bag = static_cast<ZoBag*>(pieces->GetItem(b))) != nullptr; b++) {
        ZoList* items = itemsOf(bag);
        std::unordered_map<int32_t, Slot> theirs = FirstByHash(items);
        for (long j = 0, n = zolib_internal::ItemCount(items); j < n; j++) {
            T_Item* item = static_cast<T_Item*>(items->GetItem(j));
            int32_t hash = static_cast<int32_t>(ZoBag::Hash(item->name));
            auto from = theirs.find(hash);
            if (from == theirs.end()) continue;
            T_Item* source = from->second.item;
            if (source->first == nullptr) continue;
            T_Elem* last;
            auto here = mine.find(hash);
            if (here != mine.end()) {
                Slot& slot = here->second;
                int copied;
                T_Elem* chain = CopyChain(source->first, true, &copied, kPacked, &last);
                if (chain == nullptr) return false;
                if (slot.kept == -1) {
                    slot.keptLast = LastElem(slot);
                    slot.kept = slot.item->count;
                }
                LastElem(slot)->next = chain;
                slot.last = last;
                slot.item->count += copied;
                continue;
            }
            T_Item* added = CopyItemFrom(source, source->first, true, kPacked, &last);
            if (added == nullptr) return false;
            if (!Append(list, added)) {
                FreeItem(added, kPacked);
                return false;
            }
            // An added item goes whole on failure: it needs no cut (kept -2).
            mine.emplace(hash, Slot{added, last, nullptr, nullptr, -2});
        }
    }
    return true;
}

}  // namespace

// As this->CopyItem(bag, name, 0) for every item of every piece, with hash
// tables for the lookups and the last element of each item remembered, so
// that merging many pieces stays linear. Without memory, the bag is left as
// it was.
bool ZoBag::Concat(ZoList* pieces) {
    if (pieces == nullptr) return true;
    ZoList* list = zolib_internal::ListOf(itemList);
    if (list == nullptr) return false;
    long before = list->Size();
    std::unordered_map<int32_t, Slot> mine;
    try {
        mine = FirstByHash(list);
        if (Merge(list, mine, pieces, [](ZoBag* bag) { return bag->itemList; })) return true;
    } catch (const std::bad_alloc&) {
    }
    Undo(mine, list, before);
    return false;
}

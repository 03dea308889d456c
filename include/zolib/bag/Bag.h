// ZoBag: the library's message, a typed name/value container.
//
// A bag carries three public 32-bit header words (`what`, `who`, `when`) and
// any number of named items. Each item has one element type (T_Data) and an
// ordered chain of one or more elements of that type, addressed by 1-based
// position. Items are identified by the hash of their name alone: two names
// with the same hash address the same item, which keeps the name it was
// created with.
//
// Ownership: the bag owns copies of everything stored in it. Getters hand
// out pointers into the bag's own storage (no copy); such a pointer stays
// valid until its element is replaced by one of another size, removed, or the
// bag is destroyed. T_POINTER elements store the pointer value only: the
// object pointed to is neither copied, owned nor freed.
// Byte form: a bag flattens to one contiguous "flat bag", plain or
// compressed, which is what channels send, bag files store and T_BAG elements
// hold. Every integer field of it is 32-bit little-endian. The readers of
// flat bytes (Unflatten, Getbag, PeekInFlatBag, LoadFromFile) take them as
// untrusted: they never read outside the bytes given, whatever lengths and
// counts those claim, and refuse a record that runs past the end.
//
// Blocking: only the bag-file functions (file I/O) and the printers
// (standard output) wait for anything.
// Threads: a bag has no lock; callers serialise every access, reads included.
// Failure: operations return false (0 for counts) and change nothing: absent
// item, wrong type, element position out of range for reads, removals and
// copies. Writes beyond the last element append. Without memory a change is
// refused the same way (the bag is left byte for byte as it was), a copy is
// empty and a bag answers as empty; no exception leaves the bag.
#pragma once

#include <zolib/Export.h>
#include <zolib/containers/List.h>

#include <cstdint>

// Element types; the numeric values travel in the flat byte form.
enum T_Data : int32_t {
    T_STRING = 0,   // characters and their NUL
    T_BOOL = 1,     // 1 byte
    T_INT8 = 2,     // 1 byte, signed
    T_INT16 = 3,    // 2 bytes, signed
    T_INT32 = 4,    // 4 bytes, signed
    T_INT64 = 5,    // 8 bytes, signed
    T_FLOAT32 = 6,  // IEEE 754 single
    T_FLOAT64 = 7,  // IEEE 754 double
    T_BUFFER = 8,   // any bytes
    T_BAG = 9,      // the plain flat form of a nested bag
    T_POINTER = 10  // a pointer value (8 bytes on this host)
};

// One element: an owned heap block of exactly `size` bytes.
struct T_Elem {
    uint32_t size;
    void* data;
    T_Elem* next;  // null after the last element
};

// One named item: its elements are singly linked in position order.
struct T_Item {
    int32_t hash;   // Hash(name): the item's identity
    char* name;     // owned, NUL-terminated
    T_Data type;    // shared by all elements
    int32_t count;  // chain length, at least 1 inside a bag
    T_Elem* first;
};

class ZOLIB_API ZoBag {
  public:
    // `initial` item slots (20 when 0); who = when = 0.
    explicit ZoBag(unsigned long what = 0, int initial = 0);
    // Deep copy of `other`: header words, items in order, every element.
    explicit ZoBag(ZoBag* other);
    ~ZoBag();

    ZoBag(const ZoBag&) = delete;
    ZoBag& operator=(const ZoBag&) = delete;

    // The 32-bit name hash, sign-extended: "" hashes to 0, a one-character
    // name to that (signed) character; longer names to the sum of
    // 10^i * name[i] * name[i+1] over signed bytes, wrapping at 32 bits.
    static long Hash(const char* name);

    // Writing. An absent item is created (index ignored); an existing item of
    // another type refuses (false). index 0 or > count appends; 1..count
    // replaces that element; below 0 replaces element 1. A null name or
    // value and a negative size are refused.
    bool Setdata(const char* name, T_Data type, const void* data, int size, int index);
    bool Setbool(const char* name, bool value, int index);
    bool Setint8(const char* name, char value, int index);
    bool Setint16(const char* name, short value, int index);
    bool Setint32(const char* name, int value, int index);
    bool Setint64(const char* name, long long value, int index);
    bool Setfloat32(const char* name, float value, int index);
    bool Setfloat64(const char* name, double value, int index);
    bool Setpointer(const char* name, const void* value, int index);
    bool Setstring(const char* name, const char* value, int index);

    // Reading. index 1..count reads that element, below 0 reads element 1,
    // 0 or > count fails. On failure the out-value is left untouched.
    // Getdata hands out the bag's own block and its size.
    bool Getdata(const char* name, T_Data type, void** data, int* size, int index);
    // Typed getters also fail when the element is shorter than their type
    // (only Setdata can make such an element).
    bool Getbool(const char* name, bool* value, int index);
    bool Getint8(const char* name, char* value, int index);
    bool Getint16(const char* name, short* value, int index);
    bool Getint32(const char* name, int* value, int index);
    bool Getint64(const char* name, long long* value, int index);
    bool Getfloat32(const char* name, float* value, int index);
    bool Getfloat64(const char* name, double* value, int index);
    bool Getpointer(const char* name, void** value, int index);
    // Points *value at the bag's own copy. Fails when the element holds no NUL.
    bool Getstring(const char* name, char** value, int index);

    // True when the item exists; stores its type when `type` is not null.
    bool HasItem(const char* name, T_Data* type);
    // True when the item exists with this type.
    bool HasItem(const char* name, T_Data type);
    int CountItem(const char* name);  // elements of the item, 0 when absent
    int CountItems();                 // number of items
    // Item at list position i (0-based, insertion order): its own name
    // pointer, type and element count. False past the last item.
    bool GetInfo(int i, char** name, T_Data* type, int* count);

    // Copies all elements (index 0) or element `index` of `source`'s item
    // into this bag, appending to an item of the same hash if there is one
    // (whatever its type). False when absent from source or index > count.
    bool CopyItem(ZoBag* source, const char* name, int index);
    // index 0 removes the item; otherwise one element (the item goes with
    // its last element). False when absent or index > count.
    bool RemoveItem(const char* name, int index);
    // False unless `oldName` exists and no item answers to `newName`.
    bool RenameItem(const char* oldName, const char* newName);

    // ---- Flat form ----
    // zip false: the exact plain flat length. zip true: an upper bound of the
    // compressed length; allocate this many bytes before Flatten.
    unsigned long FlatSize(bool zip);
    // Writes the flat bag into `buffer`, which holds at least FlatSize(zip)
    // bytes. Plain: `size` is ignored (may be null). Compressed: *size
    // receives the length written. False when compression fails or the bag
    // is too large for the format's 32-bit size field (`buffer` may be
    // written by then).
    bool Flatten(char* buffer, unsigned long* size, bool zip);
    // Appends the items of the flat bag (plain or compressed) held in
    // `length` bytes, after the items already here; same names are not
    // merged. The magic is not checked (see IsABag). what, who and when are
    // taken as soon as they are read, so a failing call may have changed
    // them; otherwise a failure (bad stream, size field != length, a record
    // running past the end, an item with no element) adds no item at all.
    bool Unflatten(const char* buffer, unsigned long length);
    // Stores a snapshot of `bag` (plain flat form) as a T_BAG element;
    // element rules as Setdata. `bag` stays the caller's.
    bool Setbag(const char* name, ZoBag* bag, int index);
    // Rebuilds the T_BAG element into a new bag the caller deletes. No such
    // element: false, *bag untouched. Bytes that do not unflatten: false,
    // *bag = null.
    bool Getbag(const char* name, ZoBag** bag, int index);

    // ---- Pieces ----
    // Cuts this bag (unchanged) into new bags appended to `pieces`, each of
    // plain flat size <= limit, filled greedily in item and element order
    // (an empty bag gives one empty piece whatever the limit).
    // Pieces have what = who = when = 0 and belong to the caller. False when
    // an element cannot fit an empty piece, a T_BUFFER/T_BAG element the
    // room left in the current one, or memory runs out; then every bag in
    // `pieces` (also those there before the call) is deleted and the list
    // emptied. The list must hold only bags.
    bool Split(ZoList* pieces, long limit);
    // Appends every item of every bag in `pieces`, in list order, to the item
    // of the same hash here (created when absent; types are not compared).
    // The pieces stay the caller's and unchanged; header words are not
    // touched. True (also for null pieces; Split refuses them) unless memory
    // runs out; then the bag is left as it was.
    bool Concat(ZoList* pieces);

    // Prints the header words, the flat size and every element to standard
    // output. Nested bags show their `what` only.
    void PrintToStream();

    uint32_t what;
    uint32_t who;
    uint32_t when;

  private:
    T_Item* Find(const char* name);
    // Writes what, who, when, `sizeField`, the item count and the item
    // records at `p`: the flat bag after its 4-byte lead.
    char* FlattenBody(char* p, uint32_t sizeField);

    ZoList* itemList;  // owned; the bag's T_Item records in insertion order
};

// Record functions over items and elements; the members above use them.
// Null records are refused: null, false, or nothing done.

// First item in `list` with this hash, or null.
ZOLIB_API T_Item* FindItem(ZoList* list, long hash);
// Element `index` (below 0 means 1); null when index is 0 or > count.
ZOLIB_API T_Elem* SeekIndex(T_Item* item, int index);
// Links `elem` after the last element; count + 1.
ZOLIB_API void AddIndex(T_Item* item, T_Elem* elem);
// Unlinks and frees element `index` (below 0 means 1); never removes the
// item itself, even when its count reaches 0. False when index is 0 or > count.
ZOLIB_API bool RemoveIndex(T_Item* item, int index);
// Frees `elem` and every element after it.
ZOLIB_API void FreeIndex(T_Elem* elem);
// Appends to `list` a new item copied from `item`: all elements (index 0) or
// element `index` only. False (nothing added) when that element is absent.
ZOLIB_API bool SetItem(ZoList* list, T_Item* item, int index);
// Appends to `dest` copies of all of `src`'s elements (index 0) or of element
// `index`, adding their number to dest's count. False when absent.
ZOLIB_API bool SetItem(T_Item* dest, T_Item* src, int index);

// Flat record functions. The writers need room for FlatSize* bytes at `p` and
// return the position after what they wrote. The readers trust their input
// (they are for bytes already bounded; Unflatten checks every record against
// its buffer's end instead) and return the position after the record.

// Σ (4 + size) over `elem` and every element after it; 0 for null.
ZOLIB_API unsigned long FlatSizeIndex(T_Elem* elem);
// Element records of `elem` and its followers; `n` is not used.
ZOLIB_API char* FlattenIndex(T_Elem* elem, char* p, int n);
// One element record into a new element (next = null); `n` is not used.
ZOLIB_API char* UnflattenIndex(T_Elem** elem, const char* p, int n);
// 16 + name length + the element records.
ZOLIB_API unsigned long FlatSizeItem(T_Item* item);
ZOLIB_API char* FlattenItem(T_Item* item, char* p);
// One item record into a new item (own name and elements). A record whose
// element count is below 1 gives null and *item = null: a bag never holds an
// empty item.
ZOLIB_API char* UnflattenItem(T_Item** item, const char* p);

// True when `length` > 3 and the bytes begin "BaG" (the flag is not looked at).
ZOLIB_API bool IsABag(const char* buffer, long length);
// Reads the header of a plain flat bag of exactly `length` bytes without
// building a bag. False for fewer than 24 bytes, a wrong magic or a
// compressed flat bag (nothing written), and when the size field differs from
// `length` (what, who, when already written). Null out-parameters are skipped.
ZOLIB_API bool PeekInFlatBag(const char* buffer, long length, unsigned long* what,
                             unsigned long* who, unsigned long* when, int* count);

// Bag files: a 4-byte length L, then L bytes of compressed flat bag.
// Creates or truncates `path`. False for a null bag, a file that cannot be
// opened, a failed compression or a failed write.
ZOLIB_API bool SaveToFile(const char* path, ZoBag* bag);
// A new bag the caller deletes; null only when the file cannot be opened.
// A short, truncated or corrupt file gives an empty bag (header words may
// already be taken from it). Reads no more than the file holds, whatever its
// length word claims.
ZOLIB_API ZoBag* LoadFromFile(const char* path);

// Prints each byte's unsigned value and a space, then a newline.
ZOLIB_API void DumpData(const char* data, int length);

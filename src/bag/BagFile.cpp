// Bag files, and the two printers: a bag's elements and raw bytes.
#include <zolib/bag/Bag.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "bag/internal/Records.h"

using zolib_internal::Get32;
using zolib_internal::HeapBlock;
using zolib_internal::kFileLengthSize;
using zolib_internal::Put32;

// ---- bag files ----

namespace {

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

// Reads up to `length` bytes, growing the block only as bytes arrive, so a
// length word larger than the file costs no more than the file itself.
// *starved tells a block that could not grow from a short file.
HeapBlock ReadUpTo(FILE* file, uint32_t length, size_t* got, bool* starved) {
    const size_t kStep = 64 * 1024;
    HeapBlock bytes;
    size_t capacity = 0;
    *got = 0;
    while (*got < length) {
        if (*got == capacity) {
            capacity = std::min<size_t>(length, std::max(kStep, capacity * 2));
            char* grown = static_cast<char*>(realloc(bytes.get(), capacity));
            if (grown == nullptr) {
                *starved = true;
                break;
            }
            bytes.release();
            bytes.reset(grown);
        }
        size_t read = fread(bytes.get() + *got, 1, capacity - *got, file);
        *got += read;
        if (read == 0) break;
    }
    return bytes;
}

}  // namespace

bool SaveToFile(const char* path, ZoBag* bag) {
    if (path == nullptr || bag == nullptr) return false;
    unsigned long size = bag->FlatSize(true);
    HeapBlock flat(static_cast<char*>(malloc(size)));
    if (!flat || !bag->Flatten(flat.get(), &size, true)) return false;
    FILE* file = fopen(path, "w+");
    if (file == nullptr) return false;
    char length[kFileLengthSize];
    Put32(length, static_cast<uint32_t>(size));
    bool written =
        fwrite(length, sizeof length, 1, file) == 1 && fwrite(flat.get(), 1, size, file) == size;
    return fclose(file) == 0 && written;
}

ZoBag* LoadFromFile(const char* path) {
    if (path == nullptr) return nullptr;
    std::unique_ptr<FILE, FileCloser> file(fopen(path, "r"));
    if (!file) return nullptr;
    std::unique_ptr<ZoBag> bag(new (std::nothrow) ZoBag(0, 0));
    if (!bag) return nullptr;
    char word[kFileLengthSize];
    if (fread(word, sizeof word, 1, file.get()) != 1) return bag.release();
    uint32_t length = Get32(word);
    size_t got;
    bool starved = false;
    HeapBlock bytes = ReadUpTo(file.get(), length, &got, &starved);
    if (starved) return nullptr;
    // Without memory the result is null, never a part of the file's bag: a
    // failed Unflatten is told from bad bytes by the allocator's ENOMEM.
    errno = 0;
    if (got == length && bytes && !bag->Unflatten(bytes.get(), length) && errno == ENOMEM)
        return nullptr;
    return bag.release();
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
    for (long i = 0; itemList != nullptr && (item = static_cast<T_Item*>(itemList->GetItem(i)));
         i++) {
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

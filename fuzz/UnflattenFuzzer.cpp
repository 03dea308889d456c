// Unflatten takes whatever arrives from a pipe or a file. Whatever it accepts
// must be a whole bag: it flattens and reads back, its nested bags open (or
// refuse) cleanly, it splits and merges, and it prints.
#include "Shared.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // PrintToStream is exercised, not read.
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZoBag bag(0, 0);
    if (!bag.Unflatten(reinterpret_cast<const char*>(data), size)) return 0;
    CheckWhole(bag);
    ZoList pieces(0, 1);
    if (bag.Split(&pieces, 24 + static_cast<long>(size % 256))) {
        ZoBag whole(0, 0);
        whole.Concat(&pieces);
        for (long i = 0; i < pieces.Size(); i++)
            delete static_cast<ZoBag*>(pieces.GetItem(i));
    }
    bag.PrintToStream();
    return 0;
}

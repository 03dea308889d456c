// Any bag the API can build must survive its own byte forms: flattened plain
// or compressed and read back, it gives the same plain bytes (and the same
// compressed bytes, compression being deterministic); cut into pieces and
// merged again, it gives the same items. The input is a little program of
// bag operations, so names collide, items change type, elements are
// replaced and removed, and bags nest.

#include <fuzzer/FuzzedDataProvider.h>

#include "Shared.h"

namespace {

// Short names from a small alphabet collide often, also through the hash.
std::string Name(FuzzedDataProvider& in) {
    static const char kLetters[] = "abcAB_.";
    std::string name;
    for (size_t length = in.ConsumeIntegralInRange<size_t>(0, 4); name.size() < length;)
        name += kLetters[in.ConsumeIntegralInRange<size_t>(0, sizeof kLetters - 2)];
    return name;
}

void Build(FuzzedDataProvider& in, ZoBag& bag, int depth) {
    bag.what = in.ConsumeIntegral<uint32_t>();
    bag.who = in.ConsumeIntegral<uint32_t>();
    bag.when = in.ConsumeIntegral<uint32_t>();
    // Copying an item into its own bag doubles it: stop before the bag is
    // too large for the fuzzer's pace.
    for (int op = in.ConsumeIntegralInRange<int>(0, 40);
         op > 0 && in.remaining_bytes() > 0 && bag.FlatSize(false) < 65536; op--) {
        std::string name = Name(in);
        const char* n = name.c_str();
        int index = in.ConsumeIntegralInRange<int>(-1, 4);
        switch (in.ConsumeIntegralInRange<int>(0, 5)) {
            case 0: {  // any type code, any bytes: also lengths that fit no type
                T_Data type = static_cast<T_Data>(in.ConsumeIntegralInRange<int>(0, 10));
                std::string bytes = in.ConsumeRandomLengthString(300);
                bag.Setdata(n, type, bytes.data(), static_cast<int>(bytes.size()), index);
                break;
            }
            case 1:
                bag.Setstring(n, in.ConsumeRandomLengthString(64).c_str(), index);
                break;
            case 2:
                if (depth < 3) {
                    ZoBag inner(0, 0);
                    Build(in, inner, depth + 1);
                    bag.Setbag(n, &inner, index);
                }
                break;
            case 3:
                bag.RemoveItem(n, index);
                break;
            case 4:
                bag.RenameItem(n, Name(in).c_str());
                break;
            case 5: {
                ZoBag copy(&bag);
                bag.CopyItem(in.ConsumeBool() ? &bag : &copy, n, index < 0 ? 0 : index);
                break;
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    long limit = in.ConsumeIntegralInRange<long>(0, 2048);
    ZoBag bag(0, 0);
    Build(in, bag, 0);

    const std::string plain = FlatOf(bag), zipped = FlatOf(bag, true);
    CheckWhole(bag);
    ZoBag fromZipped(0, 0);
    if (!fromZipped.Unflatten(zipped.data(), zipped.size()) || FlatOf(fromZipped) != plain ||
        FlatOf(fromZipped, true) != zipped)
        abort();

    ZoList pieces(0, 1);
    if (!bag.Split(&pieces, limit)) {
        if (pieces.Size() != 0) abort();  // a failed Split leaves the list empty
        return 0;
    }
    ZoBag whole(bag.what, 0);
    whole.who = bag.who;
    whole.when = bag.when;
    if (!whole.Concat(&pieces)) abort();
    for (long i = 0; i < pieces.Size(); i++) {
        ZoBag* piece = static_cast<ZoBag*>(pieces.GetItem(i));
        // Only an empty bag's single, empty piece may exceed the limit.
        if (piece->CountItems() > 0 && static_cast<long>(piece->FlatSize(false)) > limit) abort();
        delete piece;
    }
    if (FlatOf(whole) != plain) abort();
    return 0;
}

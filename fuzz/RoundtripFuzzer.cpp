// Any bag the API can build must survive its own byte forms: flattened plain
// or compressed and read back, it gives the same plain bytes (and the same
// compressed bytes, compression being deterministic); cut into pieces and
// merged again, it gives the same items. The input is a little program of
// bag operations, so names collide, items change type, elements are
// replaced and removed, and bags nest.
#include <zolib/bag/Bag.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>
#include "FlatOf.h"

namespace {

// Short names from a small alphabet collide often, also through the hash.
std::string Name(FuzzedDataProvider& in) {
    static const char kLetters[] = "abcAB_.";
    std::string name;
    size_t length = in.ConsumeIntegralInRange<size_t>(0, 4);
    for (size_t i = 0; i < length; i++)
        name += kLetters[in.ConsumeIntegralInRange<size_t>(0, sizeof kLetters - 2)];
    return name;
}

void Build(FuzzedDataProvider& in, ZoBag& bag, int depth) {
    bag.what = in.ConsumeIntegral<uint32_t>();
    bag.who = in.ConsumeIntegral<uint32_t>();
    bag.when = in.ConsumeIntegral<uint32_t>();
    int operations = in.ConsumeIntegralInRange<int>(0, 40);
    // Copying an item into its own bag doubles it: stop before the bag is
    // too large for the fuzzer's pace.
    for (int op = 0; op < operations && in.remaining_bytes() > 0 && bag.FlatSize(false) < 65536;
         op++) {
        std::string name = Name(in);
        const char* n = name.c_str();
        int index = in.ConsumeIntegralInRange<int>(-1, 4);
        switch (in.ConsumeIntegralInRange<int>(0, 13)) {
            case 0:
                bag.Setbool(n, in.ConsumeBool(), index);
                break;
            case 1:
                bag.Setint8(n, in.ConsumeIntegral<char>(), index);
                break;
            case 2:
                bag.Setint16(n, in.ConsumeIntegral<short>(), index);
                break;
            case 3:
                bag.Setint32(n, in.ConsumeIntegral<int>(), index);
                break;
            case 4:
                bag.Setint64(n, in.ConsumeIntegral<long long>(), index);
                break;
            case 5:
                bag.Setfloat32(n, in.ConsumeFloatingPoint<float>(), index);
                break;
            case 6:
                bag.Setfloat64(n, in.ConsumeFloatingPoint<double>(), index);
                break;
            case 7:
                bag.Setpointer(n, reinterpret_cast<void*>(in.ConsumeIntegral<uintptr_t>()), index);
                break;
            case 8:
                bag.Setstring(n, in.ConsumeRandomLengthString(64).c_str(), index);
                break;
            case 9: {
                // Any type code, any bytes: also lengths that fit no type.
                T_Data type = static_cast<T_Data>(in.ConsumeIntegralInRange<int>(0, 10));
                std::string bytes = in.ConsumeRandomLengthString(300);
                bag.Setdata(n, type, bytes.data(), static_cast<int>(bytes.size()), index);
                break;
            }
            case 10:
                if (depth < 3) {
                    ZoBag inner(0, 0);
                    Build(in, inner, depth + 1);
                    bag.Setbag(n, &inner, index);
                }
                break;
            case 11:
                bag.RemoveItem(n, index);
                break;
            case 12:
                bag.RenameItem(n, Name(in).c_str());
                break;
            case 13: {
                ZoBag copy(&bag);
                bag.CopyItem(&copy, n, index < 0 ? 0 : index);
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

    const std::string plain = FlatOf(bag, false);
    if (plain.size() != bag.FlatSize(false)) abort();
    if (!PeekInFlatBag(plain.data(), static_cast<long>(plain.size()), nullptr, nullptr, nullptr,
                       nullptr))
        abort();
    ZoBag fromPlain(0, 0);
    if (!fromPlain.Unflatten(plain.data(), plain.size()) || FlatOf(fromPlain, false) != plain)
        abort();

    const std::string zipped = FlatOf(bag, true);
    ZoBag fromZipped(0, 0);
    if (!fromZipped.Unflatten(zipped.data(), zipped.size())) abort();
    if (FlatOf(fromZipped, false) != plain || FlatOf(fromZipped, true) != zipped) abort();

    char* name;
    T_Data type;
    int count;
    for (int i = 0; bag.GetInfo(i, &name, &type, &count); i++) {
        for (int k = 1; type == T_BAG && k <= count; k++) {
            // Setdata may store anything as T_BAG, so only what opens is
            // checked: it must be a whole bag in turn.
            ZoBag* nested = nullptr;
            if (!bag.Getbag(name, &nested, k)) continue;
            std::unique_ptr<ZoBag> owned(nested);
            std::string inner = FlatOf(*nested, false);
            ZoBag again(0, 0);
            if (!again.Unflatten(inner.data(), inner.size()) || FlatOf(again, false) != inner)
                abort();
        }
    }

    ZoList pieces(0, 1);
    if (bag.Split(&pieces, limit)) {
        ZoBag whole(bag.what, 0);
        whole.who = bag.who;
        whole.when = bag.when;
        if (!whole.Concat(&pieces)) abort();
        for (long i = 0; i < pieces.Size(); i++) {
            ZoBag* piece = static_cast<ZoBag*>(pieces.GetItem(i));
            // Only an empty bag's single, empty piece may exceed the limit.
            if (piece->CountItems() > 0 && static_cast<long>(piece->FlatSize(false)) > limit)
                abort();
            delete piece;
        }
        if (FlatOf(whole, false) != plain) abort();
    } else if (pieces.Size() != 0) {
        abort();  // a failed Split leaves the list empty
    }
    return 0;
}

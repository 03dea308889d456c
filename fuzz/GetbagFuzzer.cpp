// Getbag rebuilds a nested bag from the bytes of a T_BAG element, which came
// in with the outer bag from a pipe or a file and may be anything. The bytes
// travel inside an outer bag through both flat forms first, as they would,
// next to a sound nested bag that they must not disturb.
#include "Shared.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    ZoBag outer(1, 0), good(2, 0);
    good.Setstring("s", "good", 0);
    if (!outer.Setdata("b", T_BAG, data, static_cast<int>(size), 0) || !outer.Setbag("b", &good, 0))
        abort();
    for (bool zip : {false, true}) {
        std::string flat = FlatOf(outer, zip);
        ZoBag received(0, 0);
        if (!received.Unflatten(flat.data(), flat.size())) abort();
        ZoBag* nested = &good;  // overwritten either way: a refusal gives null
        if (received.Getbag("b", &nested, 1))
            CheckWhole(*std::unique_ptr<ZoBag>(nested));
        else if (nested != nullptr)
            abort();
        ZoBag* second = nullptr;
        if (!received.Getbag("b", &second, 2) || second->what != 2) abort();
        delete second;
        ZoBag* untouched = &good;  // no third element: left as it was
        if (received.Getbag("b", &untouched, 3) || untouched != &good) abort();
    }
    return 0;
}

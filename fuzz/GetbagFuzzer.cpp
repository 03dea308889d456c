// Getbag rebuilds a nested bag from the bytes of a T_BAG element, which came
// in with the outer bag from a pipe or a file and may be anything. The bytes
// travel inside an outer bag through both flat forms first, as they would,
// and are opened at every element position.
#include <zolib/bag/Bag.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include "FlatOf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    ZoBag outer(1, 0);
    const char* bytes = reinterpret_cast<const char*>(data);
    // Element 1 holds the input, element 2 a real bag: a bad element must not
    // disturb a good one beside it.
    ZoBag good(2, 0);
    good.Setstring("s", "good", 0);
    if (!outer.Setdata("b", T_BAG, bytes, static_cast<int>(size), 0) ||
        !outer.Setbag("b", &good, 0))
        abort();

    for (bool zip : {false, true}) {
        std::string flat = FlatOf(outer, zip);
        ZoBag received(0, 0);
        if (!received.Unflatten(flat.data(), flat.size())) abort();

        ZoBag* nested = &good;  // must be overwritten either way
        if (received.Getbag("b", &nested, 1)) {
            std::unique_ptr<ZoBag> owned(nested);
            std::string inner = FlatOf(*nested, false);
            ZoBag again(0, 0);
            if (!again.Unflatten(inner.data(), inner.size()) || FlatOf(again, false) != inner)
                abort();
        } else if (nested != nullptr) {
            abort();  // the element is there: a refusal gives null
        }

        ZoBag* second = nullptr;
        if (!received.Getbag("b", &second, 2) || second->what != 2) abort();
        delete second;
        ZoBag* untouched = &good;
        if (received.Getbag("b", &untouched, 3) || untouched != &good) abort();
    }
    return 0;
}

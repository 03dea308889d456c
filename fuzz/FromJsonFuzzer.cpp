// The JSON reader of libzolib_json takes text that other tools wrote. Whatever
// it accepts must be the exact flat form of a bag, and that bag's JSON form
// must read back to the same bytes.
#include <zolib/json/BagJson.h>

#include "Shared.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string flat, error, json, again;
    if (!ZoJsonToFlat(reinterpret_cast<const char*>(data), size, &flat, &error)) {
        if (error.empty()) abort();  // every refusal says why
        return 0;
    }
    ZoBag bag(0, 0);
    if (!bag.Unflatten(flat.data(), flat.size()) || FlatOf(bag) != flat ||
        !ZoBagToJson(&bag, -1, &json, &error) ||
        !ZoJsonToFlat(json.data(), json.size(), &again, &error) || again != flat)
        abort();
    return 0;
}

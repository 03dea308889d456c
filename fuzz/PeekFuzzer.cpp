// PeekInFlatBag looks at a header before anything else does.
#include "Shared.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    long length = static_cast<long>(size);
    unsigned long what, who, when;
    int count;
    IsABag(bytes, length);
    PeekInFlatBag(bytes, length, &what, &who, &when, &count);
    PeekInFlatBag(bytes, length, nullptr, nullptr, nullptr, nullptr);
    return 0;
}

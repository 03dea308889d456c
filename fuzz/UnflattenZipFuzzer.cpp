// The compressed flat bag: the input is taken as a plain flat bag, its body
// (what follows the 4-byte lead, with the size field made to count the body,
// as a compressed one does) is compressed and unflattened. The record reader
// behind the stream is thus fuzzed as directly as the plain one, and both
// forms must agree: one accepts exactly what the other does, with the same
// result.

#include "Shared.h"
#include "bag/internal/FlatFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zolib_internal;
    if (size < kLeadSize || size > (1u << 20)) return 0;
    std::string plain(reinterpret_cast<const char*>(data), size);
    plain[kFlagAt] = kPlainFlag;
    std::string body = plain.substr(kBodyShift);
    // The plain size field counts the whole bag, the compressed one the body:
    // a field right for one form is made right for the other.
    const size_t at = kSizeAt - kBodyShift;
    if (body.size() >= at + 4) {
        uint32_t field = Get32(&body[at]);
        Put32(&body[at], field == plain.size()  ? static_cast<uint32_t>(body.size())
                         : field == body.size() ? UINT32_MAX  // wrong for both forms
                                                : field);
    }
    unsigned long length = 0;
    char* block = Zip(body.data(), body.size(), &length, -1, nullptr, false);
    if (block == nullptr) abort();
    std::string zipped(kLeadSize, '\0');
    PutLead(&zipped[0], kZippedFlag);
    zipped.append(block, length);
    free(block);

    ZoBag fromPlain(0, 0), fromZipped(0, 0);
    bool plainRead = fromPlain.Unflatten(plain.data(), plain.size());
    if (fromZipped.Unflatten(zipped.data(), zipped.size()) != plainRead ||
        (plainRead && FlatOf(fromPlain) != FlatOf(fromZipped)) ||
        fromPlain.what != fromZipped.what || fromPlain.who != fromZipped.who ||
        fromPlain.when != fromZipped.when)
        abort();
    return 0;
}

// The compressed flat bag: the input is taken as a plain flat bag, its body
// (what follows the 4-byte lead, with the size field made to count the body,
// as a compressed one does) is compressed and unflattened. The record reader
// behind the stream is thus fuzzed as directly as the plain one, and both
// forms must agree: one accepts exactly what the other does, with the same
// result.
#include <zolib/bag/Bag.h>
#include <zolib/bag/Zip.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FlatOf.h"
#include "bag/internal/FlatFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zolib_internal;
    if (size < kLeadSize || size > (1u << 20)) return 0;
    std::string plain(reinterpret_cast<const char*>(data), size);
    plain[kFlagAt] = kPlainFlag;
    std::string body = plain.substr(kBodyShift);
    // The plain size field counts the whole bag, the compressed one the body:
    // move a field that agrees with one form to the other.
    const size_t sizeAt = kSizeAt - kBodyShift;
    if (body.size() >= sizeAt + 4) {
        uint32_t field = Get32(&body[sizeAt]);
        if (field == plain.size()) {
            field = static_cast<uint32_t>(body.size());
        } else if (field == body.size()) {
            field = UINT32_MAX;  // wrong for both forms
        }
        Put32(&body[sizeAt], field);
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
    bool zippedRead = fromZipped.Unflatten(zipped.data(), zipped.size());
    if (plainRead != zippedRead) abort();
    if (plainRead && FlatOf(fromPlain) != FlatOf(fromZipped)) abort();
    if (fromPlain.what != fromZipped.what || fromPlain.who != fromZipped.who ||
        fromPlain.when != fromZipped.when)
        abort();
    return 0;
}

// Unzip reads zip blocks whose length word nobody vouches for. What it
// returns must compress and come back unchanged.
#include <zolib/bag/Zip.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bag/internal/FlatFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    unsigned long length = 0;
    char* plain = Unzip(bytes, size, &length, nullptr);
    if (plain == nullptr) return 0;

    unsigned long zipped = 0;
    char* block = Zip(plain, length, &zipped, -1, nullptr, true);
    if (block == nullptr) abort();
    unsigned long back = 0;
    char* again = Unzip(block, zipped, &back, nullptr);
    if (again == nullptr || back != length || memcmp(again, plain, length) != 0) abort();

    // Into a caller's buffer of the produced length, which is enough.
    char* dst = static_cast<char*>(malloc(length > 0 ? length : 1));
    zolib_internal::Put32(block, static_cast<uint32_t>(length));
    if (Unzip(block, zipped, &back, dst) != dst || memcmp(dst, plain, length) != 0) abort();
    free(dst);
    free(again);
    free(block);
    free(plain);
    return 0;
}

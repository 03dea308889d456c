// Unzip reads zip blocks whose length word nobody vouches for. What it
// returns must compress and come back unchanged, into a caller's buffer of
// just the length produced.
#include "Shared.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    unsigned long length = 0, zipped = 0, back = 0;
    char* plain = Unzip(reinterpret_cast<const char*>(data), size, &length, nullptr);
    if (plain == nullptr) return 0;
    char* block = Zip(plain, length, &zipped, -1, nullptr, true);
    std::unique_ptr<char[]> again(new char[length > 0 ? length : 1]);
    if (block == nullptr || Unzip(block, zipped, &back, again.get()) != again.get() ||
        back != length || memcmp(again.get(), plain, length) != 0)
        abort();
    free(block);
    free(plain);
    return 0;
}

// Every compression of the library goes through this file, so that the zlib
// calls (and any state they may one day keep) stay in one place.
#include <zolib/bag/Zip.h>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Inflate turns one byte of stream into at most 1032 bytes (a 258-byte match
// coded in two bits), so no honest block claims more than this.
constexpr unsigned long kMaxRatio = 1032;
// First guess at the output of a block whose claim is larger than that.
constexpr unsigned long kFirstGuess = 64 * 1024;

}  // namespace

unsigned long MaxZippedSize(unsigned long n) {
    return static_cast<unsigned long>(static_cast<double>(n + 4) + static_cast<double>(n) * 0.1 +
                                      12);
}

char* Zip(const char* src, unsigned long srcLength, unsigned long* outLength, int level, char* dst,
          bool shrink) {
    if (outLength == nullptr || (src == nullptr && srcLength > 0) || srcLength > UINT32_MAX)
        return nullptr;
    static const char kNothing = 0;
    if (src == nullptr) src = &kNothing;
    unsigned long cap = srcLength + static_cast<unsigned long>(srcLength * 0.1) + 12;
    char* out = dst != nullptr ? dst : static_cast<char*>(malloc(cap + 4));
    uLongf streamLength = cap;
    if (compress2(reinterpret_cast<Bytef*>(out + 4), &streamLength,
                  reinterpret_cast<const Bytef*>(src), srcLength, level) != Z_OK) {
        if (dst == nullptr) free(out);
        return nullptr;
    }
    uint32_t length = static_cast<uint32_t>(srcLength);
    memcpy(out, &length, 4);
    if (shrink) {
        char* tight = static_cast<char*>(realloc(out, streamLength + 4));
        if (tight != nullptr) out = tight;
    }
    *outLength = streamLength + 4;
    return out;
}

char* Unzip(const char* src, unsigned long srcLength, unsigned long* outLength, char* dst) {
    if (src == nullptr || outLength == nullptr || srcLength < 5) return nullptr;
    uint32_t claimed;
    memcpy(&claimed, src, 4);
    *outLength = claimed;
    const Bytef* stream = reinterpret_cast<const Bytef*>(src + 4);
    uLong streamLength = srcLength - 4;
    if (dst != nullptr) {
        uLongf produced = claimed;
        if (uncompress(reinterpret_cast<Bytef*>(dst), &produced, stream, streamLength) != Z_OK)
            return nullptr;
        *outLength = produced;
        return dst;
    }
    // The claim comes with the bytes, so it is not trusted for the allocation:
    // cap it by what the stream could produce at all, and when it is large,
    // start from a guess and grow only while the stream keeps producing.
    // Damaged streams then fail before anything big is allocated.
    unsigned long most = std::min<unsigned long>(claimed, (streamLength + 1) * kMaxRatio);
    unsigned long room = std::min(most, kFirstGuess + 16 * streamLength);
    for (;;) {
        char* out = static_cast<char*>(malloc(room > 0 ? room : 1));
        uLongf produced = room;
        int result = uncompress(reinterpret_cast<Bytef*>(out), &produced, stream, streamLength);
        if (result == Z_OK) {
            *outLength = produced;
            return out;
        }
        free(out);
        // Z_BUF_ERROR here means the output filled up: the stream has more.
        if (result != Z_BUF_ERROR || room >= most) return nullptr;
        room = room > most / 4 ? most : room * 4;
    }
}
